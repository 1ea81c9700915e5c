// The HEX reader and everything a write does with what it read: the input
// is a HEX file, analysed, loaded, relocated and written over the offline
// link into one model of each family. The watch judges the same file as a
// build leaves it, and must say what its text check says.
#include "engine/file_watch.h"
#include "fuzz/fuzz_support.h"

using namespace vantlebld;

namespace {

void Watch(const std::string& text) {
  using S = THexTextCheck::TState;
  using E = THexFileWatch::TEvent;
  static fuzz::TMemoryFile file;
  const THexTextCheck check = CheckHexText(text);
  THexFileWatch watch(file.Path());
  file.Write(text);
  // The same size and time as the input before: nothing changed to see.
  if (watch.Poll(0) != E::Changing) return;
  const E event = watch.Poll(THexFileWatch::kSettleMs);
  const E wanted = check.State == S::Complete  ? E::Ready
                   : check.State == S::Corrupt ? E::Corrupt
                                               : E::Incomplete;
  if (event != wanted || watch.LastCheck().Line != check.Line)
    fuzz::Finding("the watch's verdict is not its text check's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::LoadProjectTable();
  static fuzz::TMemoryFile file;
  const std::string text = fuzz::Text(data, size);
  file.Write(text);
  for (const uint8_t code : fuzz::kFamilyModels)
    fuzz::WriteOffline(file.Path(), code);
  Watch(text);
  return 0;
}
