// Plain helpers shared by the tests of several folders: a scratch
// directory, reading a file whole, an Intel HEX record builder, and where
// the build names the source tree (VANTLEBLD_SOURCE_DIR) the project's
// device table and examples. Plain C++ only.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantlebld::test {

#ifdef VANTLEBLD_SOURCE_DIR
inline const std::string kSourceDir = VANTLEBLD_SOURCE_DIR;
inline const std::string kTable = kSourceDir + "/data/piccodes.ini";
inline std::string Example(const std::string& name) {
  return kSourceDir + "/examples/" + name + ".hex";
}
#endif
// A whole file as it is on disk; empty when it cannot be read.
inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir() {
    std::string p = (std::filesystem::temp_directory_path() / "vantlebld_test_XXXXXX").string();
    if (mkdtemp(p.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = p;
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
    std::ofstream(path_ / name, std::ios::binary) << content;
    return (path_ / name).string();
  }

 private:
  std::filesystem::path path_;
};

// One Intel HEX record with its checksum, in upper-case hex.
inline std::string HexRecord(uint16_t address, uint8_t type, std::initializer_list<uint8_t> data) {
  std::vector<uint8_t> bytes = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address),
                                type};
  bytes.insert(bytes.end(), data);
  std::string s = ":";
  uint8_t sum = 0;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    s += buf;
    sum = uint8_t(sum + b);
  }
  std::snprintf(buf, sizeof buf, "%02X", uint8_t(-sum));
  return s + buf;
}
// Extended linear address record: the upper 16 bits of what follows.
inline std::string HexBase(uint16_t upper) {
  return HexRecord(0, 4, {uint8_t(upper >> 8), uint8_t(upper)});
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
