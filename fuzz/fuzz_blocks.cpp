// The virtual PIC's block decoder and memory: the first input byte picks
// one of the models (one per family), the rest is the byte stream after
// the type code's answer, cut into blocks by their headers as the firmware
// cuts it. Each complete block gets its checksum and is decoded and
// carried out. Whatever the blocks ask, the firmware's own code stays as
// it was.
#include <algorithm>
#include <array>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "sim/pic_memory.h"

using namespace vantlebld;

namespace {

struct TModel {
  TPICInfo Pic;
  std::unique_ptr<TPicMemory> Fresh;  // as the programmer left it
};

const std::array<TModel, std::size(fuzz::kFamilyModels)>& Models() {
  static const auto models = [] {
    fuzz::LoadProjectTable();
    std::array<TModel, std::size(fuzz::kFamilyModels)> m;
    for (size_t i = 0; i < m.size(); ++i) {
      TVantleBootloader engine;
      engine.IdentifyPIC(fuzz::kFamilyModels[i]);
      m[i].Pic = engine.pic;
      m[i].Fresh = std::make_unique<TPicMemory>(engine.pic);
    }
    return m;
  }();
  return models;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const TModel& model = Models()[data[0] % Models().size()];
  const TPICInfo& pic = model.Pic;
  TPicMemory memory = *model.Fresh;
  const size_t headerLength = BlockHeaderLength(pic.Family);
  size_t at = 1;
  while (size - at >= headerLength) {
    std::vector<uint8_t> block(data + at, data + at + headerLength);
    const size_t length = BlockLength(pic.Family, block);
    if (size - at < length) break;
    block.assign(data + at, data + at + length);
    at += length;
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < block.size(); ++i)
      sum = static_cast<uint8_t>(sum + block[i]);
    block.back() = static_cast<uint8_t>(-sum);

    memory.Apply(DecodeBlock(pic, block));
  }
  const auto& before = model.Fresh->Flash();
  const auto& after = memory.Flash();
  const auto code = static_cast<std::ptrdiff_t>(memory.CodeStart());
  if (after.size() != before.size() ||
      !std::equal(before.begin() + code, before.end(), after.begin() + code))
    fuzz::Finding("a block changed the firmware's own code");
  return 0;
}
