// The Intel HEX reader: an analysis pass that checks the syntax and tells
// what kind of file it is, and a loading pass that fills the image for the
// identified PIC.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/defaults.h"
#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/text_lines.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr size_t kReadPieceBytes = 64 * 1024;
constexpr uint8_t kRecData = 0;
constexpr uint8_t kRecEndOfFile = 1;
constexpr uint8_t kRecExtendedLinear = 4;
constexpr size_t kMinRecordChars = 11;  // ':' count(2) address(4) type(2) checksum(2)
constexpr char kKnownRecords[] =
    "this reader knows data (00), end of file (01) and extended linear address (04) records: "
    "save the program as INHX32 or INHX8M";

// Extended bases that mark EEPROM and configuration in the analysis pass.
constexpr int64_t kBase18FConfig = 0x300000;
constexpr int64_t kBase18FEEPROM = 0xF00000;
// 16F EEPROM image at word 2100h (HEX bytes 4200h..43FFh).
constexpr uint32_t k16FEEPROMFirst = 0x4200;
constexpr uint32_t k16FEEPROMEnd = 0x4400;
// 16F ID locations and configuration words, words 2000h..20FFh (HEX bytes
// 4000h..41FFh): the same range the loading pass classifies as
// configuration. Code above 2007h HEX bytes is ordinary program memory on
// any 16F with more than 4K bytes, so only this range marks "+cfg".
constexpr uint32_t k16FConfigFirst = 0x4000;
constexpr uint32_t k16FConfigEnd = 0x4200;
constexpr uint32_t k18FEEPROMRecordEnd = 0x400;

struct HexDigitTable {
  int8_t v[256];
  constexpr HexDigitTable() : v() {
    for (int i = 0; i < 256; ++i)
      v[i] = -1;
    for (int i = 0; i < 10; ++i)
      v['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      v['A' + i] = static_cast<int8_t>(10 + i);
      v['a' + i] = static_cast<int8_t>(10 + i);
    }
  }
};
constexpr HexDigitTable kHexDigits;

std::string ReadWholeFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) {
    throw EVantleError(
        Format("Cannot open file \"%s\". %s", fileName.c_str(), std::strerror(errno)),
        EVantleError::Kind::FileIO);
  }
  // One read of the whole file: HEX files are a few MB at most, and the
  // parser then walks memory instead of a stream. A file (or a pipe that
  // never ends) past the bound is refused before it fills the memory.
  const auto tooLarge = [](const std::string& size) {
    return EVantleError("HEX file too large: " + size + " bytes", EVantleError::Kind::FileIO);
  };
  std::string text;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size > kMaxHexFileBytes) throw tooLarge(std::to_string(size));
  if (size > 0) {
    text.resize(static_cast<size_t>(size));
    in.read(text.data(), size);
    if (in.gcount() != size) in.setstate(std::ios::badbit);
  } else if (size < 0) {  // not seekable (a pipe): read it in pieces
    in.clear();
    std::vector<char> piece(kReadPieceBytes);
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
      text.append(piece.data(), static_cast<size_t>(in.gcount()));
      if (static_cast<int64_t>(text.size()) > kMaxHexFileBytes)
        throw tooLarge("more than " + std::to_string(kMaxHexFileBytes));
      if (!in) break;
    }
  }
  // A read that failed is never taken for the whole file.
  if (in.bad()) {
    throw EVantleError(Format("Cannot read file \"%s\"", fileName.c_str()),
                       EVantleError::Kind::FileIO);
  }
  return text;
}

}  // namespace

bool TVantleBootloader::ReadHex(const std::string& fileName, bool load) {
  HexByteCount = 0;
  if (load) HexFlashPastEnd = HexEEPROMPastArea = -1;
  if (load) {
    Say(TLineRole::Step, "Reading HEX file... ");
    std::fill(FlashData.begin(), FlashData.end(), 0xFF);
    for (auto& f : FlashFlag)
      f &= static_cast<uint8_t>(~kPresent);
    std::fill(EEData.begin(), EEData.end(), 0xFF);
    std::fill(EEFlag.begin(), EEFlag.end(), 0);
    std::fill(CfgData.begin(), CfgData.end(), 0xFF);
    std::fill(CfgFlag.begin(), CfgFlag.end(), 0);
  } else {
    HexINHX32 = Hex18FCode = HexHasEEPROM = HexHasConfig = false;
    HexDsPIC = true;  // cleared by the first non-zero fourth byte, or when there is none
  }

  // A job analyses the file before the search and loads it after: the load
  // takes the bytes the analysis read, once, so a file rewritten meanwhile
  // (a build finishing) cannot mix two versions. An open failure skips the
  // log line below.
  std::string text;
  if (load && fileName == analyzedHexName_) {
    text = std::move(analyzedHexText_);
  } else {
    text = ReadWholeFile(fileName);
  }
  analyzedHexName_.clear();
  analyzedHexText_.clear();
  if (!load) {
    analyzedHexName_ = fileName;
    analyzedHexText_ = text;
  }
  try {
    const size_t flashSize = pic.FlashSize > 0 ? static_cast<size_t>(pic.FlashSize) : 0;
    const size_t flashLimit = std::min({flashSize, FlashData.size(), FlashFlag.size()});
    int64_t base = 0;
    bool fourthBytes = false;  // a file too short to have one holds no dsPIC instruction
    ForEachLine(text, [&](std::string_view lineText, int64_t lineNumber) {
      const auto n = static_cast<long long>(lineNumber);
      const char* line = lineText.data();
      const size_t len = lineText.size();
      if (len == 0) return true;

      if (len < kMinRecordChars || line[0] != ':') {
        throw EVantleError(Format("line %lld not formatted properly", n));
      }
      for (size_t i = 1; i < len; ++i) {
        if (kHexDigits.v[static_cast<unsigned char>(line[i])] < 0) {
          throw EVantleError(Format("not a hex symbol on line %lld", n));
        }
      }
      size_t at = 1;
      uint8_t sum = 0;
      auto next = [&]() -> uint8_t {
        const auto b =
            static_cast<uint8_t>((kHexDigits.v[static_cast<unsigned char>(line[at])] << 4) |
                                 kHexDigits.v[static_cast<unsigned char>(line[at + 1])]);
        at += 2;
        sum = static_cast<uint8_t>(sum + b);
        return b;
      };
      const uint8_t count = next();
      if (len != 2u * count + kMinRecordChars)
        throw EVantleError(Format("Line %lld wrong length", n));
      const uint8_t addrHi = next();
      const uint32_t address = static_cast<uint32_t>(addrHi) << 8 | next();

      if (!load) {
        if (base == 0 && address >= k16FEEPROMFirst && address < k16FEEPROMEnd && !Hex18FCode) {
          HexHasEEPROM = true;
        }
        if (base == kBase18FEEPROM && address < k18FEEPROMRecordEnd) HexHasEEPROM = true;
        if (base == 0 && address >= k16FConfigFirst && address < k16FConfigEnd && !Hex18FCode) {
          HexHasConfig = true;
        }
        if (base == kBase18FConfig) HexHasConfig = true;
      }

      const uint8_t type = next();
      if (type == kRecData) {
        for (uint32_t k = 0; k < count; ++k) {
          const int64_t a = base + address + k;  // no 16-bit wrap
          const uint8_t v = next();
          if ((a & 1) != 0 && (v & 0xC0) != 0) Hex18FCode = true;  // no 14-bit word has these bits
          if ((a & 3) == 3) {
            fourthBytes = true;
            if (v != 0) HexDsPIC = false;  // a dsPIC group's fourth byte is always 0
          }
          ++HexByteCount;
          if (!load) continue;
          const TAddressClass where = ClassifyAddress(a);
          if (where.Area == TArea::Flash) {
            if (a < static_cast<int64_t>(flashLimit)) {
              FlashData[static_cast<size_t>(a)] = v;
              FlashFlag[static_cast<size_t>(a)] |= kPresent;
            } else if (HexFlashPastEnd < 0) {
              HexFlashPastEnd = a;  // refused before the write: code of a larger PIC
            }
          } else if (where.Area == TArea::EEPROM) {
            // Offsets past the area (PIC18 files may name up to FFFFh) are
            // not kept; no EEPROM the host writes reaches that far.
            if (where.EEOffset >= 0 && where.EEOffset < kEEAreaSize) {
              EEData[static_cast<size_t>(where.EEOffset)] = v;
              EEFlag[static_cast<size_t>(where.EEOffset)] = kPresent;
            } else if (HexEEPROMPastArea < 0) {
              HexEEPROMPastArea = where.EEOffset;  // the preflight refuses it
            }
          }
        }
      } else if (type == kRecEndOfFile) {
        return false;  // nothing after it is read, not even its checksum
      } else if (type == kRecExtendedLinear) {
        HexINHX32 = true;
        if (count != 2 || address != 0) {
          throw EVantleError(
              Format("line %lld: an extended linear address record carries 2 bytes "
                     "at address 0000, this one %u at %.4X",
                     n, unsigned{count}, address));
        }
        const uint8_t hi = next();
        base = (static_cast<int64_t>(hi) << 8 | next()) << 16;
      } else {
        throw EVantleError(Format("line %lld: record type %.2X is not supported; %s", n,
                                  unsigned{type}, kKnownRecords));
      }
      next();  // checksum: the whole record now sums to 0
      if (sum != 0) Say(TLineRole::Step, Format("Warning! CRC failed on line %lld", n));
      return true;
    });
    if (!load && !fourthBytes) HexDsPIC = false;
  } catch (...) {
    Say(TLineRole::Problem, "could not understand HEX file");
    throw;
  }
  return true;
}

std::string TVantleBootloader::HexSummaryText() const {
  std::string s = HexINHX32 ? "INHX32," : "INHX8M,";
  if (HexDsPIC) {
    s += "dsPICcode";
  } else {
    s += Hex18FCode ? "18Fcode" : "16Fcode";
    if (HexHasConfig) s += "+cfg";
    if (HexHasEEPROM) s += "+eeprom ";
  }
  s += ", total=" + std::to_string(HexByteCount) + " bytes";
  return s;
}

bool TVantleBootloader::AnalyzeHex(const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec) || std::filesystem::is_directory(fileName, ec)) {
    Say(TLineRole::Problem, Format("File not found: %s", fileName.c_str()));
    throw EVantleError("File not found", EVantleError::Kind::FileIO);
  }
  const auto fileTime = std::filesystem::last_write_time(fileName, ec);
  std::time_t modified = std::time(nullptr);
  if (!ec) {
    modified = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(fileTime));
  }
  const bool ok = ReadHex(fileName, false);
  if (ok) Report({THexSummaryEvent{HexAgeText(modified), HexSummaryText(), HexByteCount}});
  return ok;
}

std::string TVantleBootloader::HexAgeText(std::time_t fileTime, std::time_t now) {
  const long long seconds =
      std::llabs(static_cast<long long>(now) - static_cast<long long>(fileTime));
  if (seconds / 86400 >= 1) return Format("%lld days", seconds / 86400);
  if (seconds / 3600 >= 1) return Format("%lld hours", seconds / 3600);
  return Format("%lld min", seconds / 60);
}

}  // namespace vantlebld
