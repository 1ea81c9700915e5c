// What the fuzz targets share: the project's device table and the model
// of each family they write, an in-memory file for the readers that take
// a path, the split of an input into arguments, the offline write of a
// HEX file with the firmware's judgement of its blocks, and how a target
// reports a finding.
//
// A target catches the exceptions that are the program's normal error
// reports; anything else that escapes reaches libFuzzer, which reports it
// with the input that caused it. A broken property is reported by Finding,
// which aborts.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job_events.h"
#include "engine/vantlebld_comm.h"
#include "sim/block_format.h"
#include "sim/boot_path.h"
#include "sim/pic_memory.h"

namespace vantlebld::fuzz {

// One model per family: PIC16F876A, PIC18F252, dsPIC30F4013, dsPIC33FJ128GP706.
constexpr uint8_t kFamilyModels[] = {0x31, 0x41, 0x73, 0x81};

[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "FINDING: %s\n", what.c_str());
  std::abort();
}

inline std::string Text(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The input cut at every byte that is one of separators; empty pieces kept.
inline std::vector<std::string> Split(std::string_view text, std::string_view separators) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find_first_of(separators, start);
    pieces.emplace_back(text.substr(start, at == std::string_view::npos ? at : at - start));
    if (at == std::string_view::npos) return pieces;
    start = at + 1;
  }
}

// The project's device table, read once per process; a table that does not
// read is a broken build, not a finding.
inline void LoadProjectTable() {
  static const bool loaded = [] {
    if (!ReadPicCodes(VANTLEBLD_SOURCE_DIR "/data/piccodes.ini", {})) {
      std::fprintf(stderr, "cannot read the project's device table\n");
      std::exit(2);
    }
    return true;
  }();
  (void)loaded;
}

// A file that lives in memory only, rewritten for every input, for the
// readers that open a path. Nothing reaches the disk.
class TMemoryFile {
 public:
  TMemoryFile() : fd_(memfd_create("vantlebld-fuzz", 0)) {
    if (fd_ < 0) {
      std::perror("memfd_create");
      std::exit(2);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  TMemoryFile(const TMemoryFile&) = delete;
  TMemoryFile& operator=(const TMemoryFile&) = delete;
  const std::string& Path() const { return path_; }
  void Write(std::string_view content) {
    if (ftruncate(fd_, 0) != 0 ||
        pwrite(fd_, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size())) {
      std::perror("memory file");
      std::exit(2);
    }
  }

 private:
  int fd_;
  std::string path_;
};

// An engine error that reports the input, not a fault of the engine: every
// error but an internal assertion.
inline bool IsInputError(const EVantleError& e) {
  return e.ErrorKind() != EVantleError::Kind::Assertion;
}

// A link without answers that keeps every block the host sends.
class TBlockRecorder : public TOfflineLink {
 public:
  void Send(const std::string& bytes) override { Blocks.push_back(bytes); }
  std::vector<std::string> Blocks;
};

// The blocks as the firmware takes them: each one as long as its header
// says, summing to 0, and carried out without a complaint about the host
// (a block into the bootloader's code, past the flash, of the wrong size
// or alignment, an EEPROM or configuration write it cannot do). A geometry
// the virtual PIC does not play is left unjudged.
// written: the host's preflight let the write through, so after its
// blocks a reset must start the program.
inline void JudgeBlocks(const TPICInfo& pic, const std::vector<std::string>& blocks, bool written) {
  std::optional<TPicMemory> memory;
  try {
    memory.emplace(pic);
  } catch (const std::invalid_argument&) {
    return;
  }
  const size_t header = BlockHeaderLength(pic.Family);
  for (size_t n = 0; n < blocks.size(); ++n) {
    const std::vector<uint8_t> block(blocks[n].begin(), blocks[n].end());
    const std::string which = "block " + std::to_string(n + 1) + " of " + pic.Name;
    if (block.size() < header || BlockLength(pic.Family, block) != block.size())
      Finding(which + ": its header gives another length than " + std::to_string(block.size()));
    uint8_t sum = 0;
    for (uint8_t b : block)
      sum = static_cast<uint8_t>(sum + b);
    if (sum != 0) Finding(which + ": checksum");
    const TBlockAction action = DecodeBlock(pic, block);
    std::vector<std::string> errors = memory->Apply(action);
    if (!action.HostError.empty()) errors.insert(errors.begin(), action.HostError);
    if (!errors.empty()) Finding(which + ": the firmware says " + errors.front());
  }
  if (!written || (pic.Options & kOptionNoRelocation) != 0) return;
  const TBootPath path = JudgeBootPath(pic, memory->Flash());
  if (!path.Ok) Finding("written, but " + path.Line + " on " + pic.Name);
}

// A write job's engine steps over a link without answers, as the write
// job takes them: analyse the file, identify the PIC, load, relocate the
// reset code and write flash and EEPROM. A file of another family is
// written all the same, as when the user says so. Progress must stay
// within 0..100, the firmware must take every block sent, and a write the
// preflight let through must start the program.
inline void WriteOffline(const std::string& hexPath, uint8_t code) {
  TVantleBootloader engine;
  auto link = std::make_unique<TBlockRecorder>();
  const TBlockRecorder& sent = *link;
  engine.Link = std::move(link);
  engine.OfflineCode = code;
  engine.OnEvent = [](const TJobEvent& event) {
    const int32_t value = ProgressOf(event);
    if (value < -1 || value > 100) Finding("progress " + std::to_string(value));
  };
  bool written = false;
  try {
    engine.AnalyzeHex(hexPath);
    engine.SearchPIC(false);
    engine.ReadHex(hexPath, true);
    engine.ReallocateReset(true);
    written = engine.WriteFlash(true);
  } catch (const EVantleError& e) {
    if (!IsInputError(e)) Finding(std::string("assertion: ") + e.what());
  }
  if (engine.PICType == code) JudgeBlocks(engine.pic, sent.Blocks, written);
}

}  // namespace vantlebld::fuzz
