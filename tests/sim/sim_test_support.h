// Helpers for the firmware stand-in's tests: PIC models from the project's
// device table, the host's blocks built byte by byte, and an Intel HEX
// reader for the exported memories.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"
#include "sim/virtual_pic.h"

namespace vantlebld::test {

using Bytes = std::vector<uint8_t>;

inline bool IsDs(const TPICInfo& pic) {
  return pic.Family == kFamilyDsPIC30 || pic.Family == kFamilyDsPIC33;
}

// The model behind a type code of data/piccodes.ini, geometry derived.
inline TPICInfo TablePic(uint8_t code) {
  static const bool loaded =
      ReadPicCodes(std::string(VANTLEBLD_SOURCE_DIR) + "/data/piccodes.ini", {});
  EXPECT_TRUE(loaded);
  TPICInfo info = PicTable()[code];
  EXPECT_EQ(info.Code, code);
  EXPECT_TRUE(DerivePicGeometry(info));
  return info;
}

// The bytes followed by the checksum that makes the block sum to 0.
inline Bytes Sealed(Bytes b) {
  uint8_t sum = 0;
  for (uint8_t x : b)
    sum = static_cast<uint8_t>(sum + x);
  b.push_back(static_cast<uint8_t>(-sum));
  return b;
}

// HEX bytes of one flash block of the family.
inline uint32_t UnitBytes(const TPICInfo& pic) {
  const uint32_t rows = uint32_t{pic.RowsPerBlock} * static_cast<uint32_t>(pic.RowInstr);
  switch (pic.Family) {
    case kFamily16F:
      return 64;
    case kFamilyDsPIC30:
      return 128;
    case kFamilyDsPIC33:
      return rows * 4;
    default:
      return rows * 2;
  }
}

// The block the host sends for the HEX bytes at hexAddress (dsPIC: the
// phantom bytes are left out).
inline Bytes FlashBlock(const TPICInfo& pic, uint32_t a, const Bytes& hex) {
  Bytes data;
  for (size_t i = 0; i < hex.size(); ++i)
    if (!IsDs(pic) || i % 4 != 3) data.push_back(hex[i]);
  const auto n = static_cast<uint8_t>(data.size());
  const uint32_t p = a / 2;
  Bytes b;
  switch (pic.Family) {
    case kFamily16F:
      b = {static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p), n};
      break;
    case kFamilyDsPIC30:
      b = {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16), n};
      break;
    case kFamilyDsPIC33:
      b = {static_cast<uint8_t>(p),           static_cast<uint8_t>(p >> 8),
           static_cast<uint8_t>(p >> 16),     0x00,
           static_cast<uint8_t>(data.size()), static_cast<uint8_t>(data.size() >> 8)};
      break;
    default:
      b = {static_cast<uint8_t>((a >> 16) | 0x20), static_cast<uint8_t>(a >> 8),
           static_cast<uint8_t>(a), n};
  }
  b.insert(b.end(), data.begin(), data.end());
  return Sealed(b);
}

// The erase command for the page at hexAddress (PIC18 and dsPIC33).
inline Bytes EraseBlock(const TPICInfo& pic, uint32_t a) {
  if (pic.Family == kFamilyDsPIC33) {
    const uint32_t p = a / 2;
    return Sealed({static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8),
                   static_cast<uint8_t>(p >> 16), 0x00, 0x02, 0x00, 0x00, 0x00});
  }
  return Sealed({static_cast<uint8_t>((a >> 16) | 0x20), static_cast<uint8_t>(a >> 8),
                 static_cast<uint8_t>(a), 0x02, 0x00, 0x00});
}

// Feeds the bytes, all arriving at nowMs; returns everything sent back.
inline std::string Send(TVirtualPic& pic, const Bytes& bytes, int64_t nowMs) {
  std::string out;
  for (uint8_t b : bytes)
    for (const TSimAnswer& a : pic.Receive(b, nowMs))
      out += a.Bytes;
  return out;
}

// An INHX32 text as byte address -> value; checks every record's checksum
// and that the end record comes last.
inline std::map<uint32_t, uint8_t> ParseHex(const std::string& text) {
  std::map<uint32_t, uint8_t> bytes;
  uint32_t base = 0;
  bool ended = false;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t eol = text.find('\n', pos);
    const std::string line = text.substr(pos, eol - pos);
    pos = eol == std::string::npos ? text.size() : eol + 1;
    EXPECT_FALSE(ended) << "record after the end record: " << line;
    EXPECT_EQ(line[0], ':') << line;
    Bytes r;
    for (size_t i = 1; i + 1 < line.size(); i += 2)
      r.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    uint8_t sum = 0;
    for (uint8_t x : r)
      sum = static_cast<uint8_t>(sum + x);
    EXPECT_EQ(sum, 0) << line;
    EXPECT_EQ(r.size(), r[0] + 5u) << line;
    const uint32_t offset = (uint32_t{r[1]} << 8) | r[2];
    if (r[3] == 0x00) {
      for (size_t i = 0; i < r[0]; ++i)
        EXPECT_TRUE(bytes.emplace(base + offset + static_cast<uint32_t>(i), r[4 + i]).second);
    } else if (r[3] == 0x04) {
      base = ((uint32_t{r[4]} << 8) | r[5]) << 16;
    } else {
      EXPECT_EQ(r[3], 0x01) << line;
      ended = true;
    }
  }
  EXPECT_TRUE(ended);
  return bytes;
}

}  // namespace vantlebld::test
