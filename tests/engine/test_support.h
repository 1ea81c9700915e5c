// Helpers shared by the engine and command-line tests: a scratch directory
// and an Intel HEX record builder. Plain C++ only.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantlebld::test {

// A fresh directory under the system's temp directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vantlebld_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Writes the bytes exactly as given (no line-ending translation).
  std::string Write(const std::string& name, const std::string& content) const {
    const auto p = path_ / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }

 private:
  std::filesystem::path path_;
};

// One Intel HEX record with its checksum: ":" count, address, type, data,
// checksum, all as upper-case hex.
inline std::string HexRecord(uint16_t address, uint8_t type, std::initializer_list<uint8_t> data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address & 0xFF), type};
  bytes.insert(bytes.end(), data);
  uint8_t sum = 0;
  std::string s = ":";
  char buf[3];
  for (uint8_t b : bytes) {
    sum = static_cast<uint8_t>(sum + b);
    std::snprintf(buf, sizeof buf, "%02X", b);
    s += buf;
  }
  std::snprintf(buf, sizeof buf, "%02X", static_cast<uint8_t>(-sum));
  return s + buf;
}

// Extended linear address record: the upper 16 bits of the addresses that
// follow.
inline std::string HexBase(uint16_t upper) {
  return HexRecord(0, 4, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper & 0xFF)});
}

inline const std::string kHexEnd = ":00000001FF";

// The lines, each followed by the line ending.
inline std::string JoinLines(const std::vector<std::string>& lines,
                             const std::string& ending = "\n") {
  std::string s;
  for (const auto& l : lines)
    s += l + ending;
  return s;
}

}  // namespace vantlebld::test
