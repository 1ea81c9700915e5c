// Helpers for the firmware stand-in's tests: PIC models from the project's
// device table, the host's blocks built byte by byte, and an Intel HEX
// reader for the exported memories.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"
#include "sim/virtual_pic.h"
#include "tests/support/files.h"

namespace vantlebld::test {

using Bytes = std::vector<uint8_t>;

// The model behind a type code of data/piccodes.ini, geometry derived.
inline TPICInfo TablePic(uint8_t code) {
  static const bool loaded = ReadPicCodes(kTable, {});
  EXPECT_TRUE(loaded);
  TPICInfo info = PicTable()[code];
  EXPECT_EQ(info.Code, code);
  EXPECT_TRUE(DerivePicGeometry(info));
  return info;
}

// The bytes' sum modulo 256, as block and record checksums count it.
inline uint8_t Sum(const Bytes& b) {
  return static_cast<uint8_t>(std::accumulate(b.begin(), b.end(), 0));
}

// The bytes followed by the checksum that makes the block sum to 0.
inline Bytes Sealed(Bytes b) {
  b.push_back(static_cast<uint8_t>(-Sum(b)));
  return b;
}

// HEX bytes of one flash block of the family.
inline uint32_t UnitBytes(const TPICInfo& pic) {
  const uint32_t instr = uint32_t{pic.RowsPerBlock} * static_cast<uint32_t>(pic.RowInstr);
  if (Is16F(pic.Family)) return 64;
  if (pic.Family == kFamilyDsPIC30) return 128;
  return pic.Family == kFamilyDsPIC33 ? instr * 4 : instr * 2;
}

// The block the host sends for the HEX bytes at HEX address a (dsPIC: the
// phantom bytes are left out).
inline Bytes FlashBlock(const TPICInfo& pic, uint32_t a, const Bytes& hex) {
  Bytes b;
  for (size_t i = 0; i < hex.size(); ++i)
    if (!IsDsPIC(pic.Family) || i % 4 != 3) b.push_back(hex[i]);
  const auto n = static_cast<uint8_t>(b.size());
  const auto p = [a](int shift) { return static_cast<uint8_t>(a / 2 >> shift); };
  Bytes header = {static_cast<uint8_t>((a >> 16) | 0x20), static_cast<uint8_t>(a >> 8),
                  static_cast<uint8_t>(a), n};
  if (Is16F(pic.Family)) header = {p(8), p(0), n};
  if (pic.Family == kFamilyDsPIC30) header = {p(0), p(8), p(16), n};
  if (pic.Family == kFamilyDsPIC33)
    header = {p(0), p(8), p(16), 0x00, n, static_cast<uint8_t>(b.size() >> 8)};
  b.insert(b.begin(), header.begin(), header.end());
  return Sealed(b);
}

// Feeds the bytes, all arriving at nowMs; returns everything sent back, a
// hang-up as kHangUpMark.
constexpr const char* kHangUpMark = "<hang-up>";
inline std::string Send(TVirtualPic& pic, const Bytes& bytes, int64_t nowMs) {
  std::string out;
  for (uint8_t b : bytes)
    for (const TSimAnswer& a : pic.Receive(b, nowMs))
      out += a.HangUp ? kHangUpMark : a.Bytes;
  return out;
}

// An INHX32 text as byte address -> value; a bad record or a byte given
// twice fails the test.
inline std::map<uint32_t, uint8_t> ParseHex(const std::string& text) {
  std::map<uint32_t, uint8_t> bytes;
  uint32_t base = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    Bytes r;
    for (size_t i = 1; i + 1 < line.size(); i += 2)
      r.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    if (line[0] != ':' || r.size() < 5 || r.size() != r[0] + 5u || Sum(r) != 0) {
      ADD_FAILURE() << "bad record: " << line;
      continue;
    }
    const uint32_t at = base + ((uint32_t{r[1]} << 8) | r[2]);
    for (uint32_t i = 0; r[3] == 0x00 && i < r[0]; ++i)
      EXPECT_TRUE(bytes.emplace(at + i, r[4 + i]).second);
    if (r[3] == 0x04) base = ((uint32_t{r[4]} << 8) | r[5]) << 16;
  }
  return bytes;
}

}  // namespace vantlebld::test
