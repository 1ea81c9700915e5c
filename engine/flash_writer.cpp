// The flash writer: the image goes to the firmware as blocks of a family-
// specific size, empty units skipped, in ascending address order (after a
// descending erase pass where the device asks for one).
#include <chrono>
#include <ctime>

#include "engine/assert.h"
#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr int32_t kDsPIC30Data = 96;      // the same without the phantom bytes
constexpr uint8_t k18FFlashWrite = 0x20;  // first header byte: flash, OR address bits 23..16
constexpr uint8_t k16FBlockCount = 0x40;
constexpr uint8_t kDsPIC30BlockCount = 0x60;
constexpr uint8_t kEraseCount = 2;  // an erase command is a block of two 00h bytes

char Byte(int64_t v) {
  return static_cast<char>(static_cast<uint8_t>(v & 0xFF));
}

}  // namespace

int64_t FlashBlockBytes(const TPICInfo& info) {
  if (info.Family == kFamily16F) return kBlockBytes16F;
  if (info.Family == kFamilyDsPIC30) return kBlockBytesDsPIC30;
  return int64_t{info.RowsPerBlock} * info.RowInstr * info.BytesPerInstrPC;
}

bool TVantleBootloader::BlockIsEmpty(int32_t start, int32_t length) const {
  const int64_t end =
      std::min<int64_t>(int64_t{start} + length, static_cast<int64_t>(FlashFlag.size()));
  for (int64_t a = std::max(start, 0); a < end; ++a) {
    if ((FlashFlag[static_cast<size_t>(a)] & kPresent) != 0) return false;
  }
  return true;
}

namespace {

// The image's bytes from start, length of them; bytes past the image read
// as erased flash.
std::string ImageBytes(const std::vector<uint8_t>& data, int32_t start, int32_t length,
                       bool dropPhantom) {
  std::string out;
  out.reserve(static_cast<size_t>(length));
  for (int32_t i = 0; i < length; ++i) {
    if (dropPhantom && i % 4 == 3) continue;  // dsPIC: the fourth byte of each group is not sent
    const int64_t a = int64_t{start} + i;
    out += a < static_cast<int64_t>(data.size()) ? static_cast<char>(data[static_cast<size_t>(a)])
                                                 : '\xFF';
  }
  return out;
}

int32_t CountNonEmpty(const TVantleBootloader& e, int32_t unit) {
  int32_t n = 0;
  for (int32_t u = 0; u < e.pic.FlashSize / unit; ++u)
    n += e.BlockIsEmpty(u * unit, unit) ? 0 : 1;
  return n;
}

// "h:mm" of the clock, and the elapsed time as seconds with milliseconds.
std::string ClockText(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return Format("%d:%02d", local.tm_hour, local.tm_min);
}

}  // namespace

bool TVantleBootloader::WriteFlash(bool writeEEPROM) {
  Log(LogAppend, " Writing flash...");
  const auto t0 = std::chrono::steady_clock::now();
  LinkStats = TLinkStats{};
  bool result = false;
  switch (pic.Family) {
    case kFamily16F:
      result = WriteFlash16F();
      if (result) Log(LogDetail, " Flashwrite ok");
      if (writeEEPROM) WriteAllEEPROMReport();
      break;
    case kFamily18FK:
      Log(LogIndent3, "Not Implemented");
      [[fallthrough]];
    case kFamily18F:
      result = WriteFlash18F();
      Log(LogDetail, " Flashwrite ok");
      if (writeEEPROM) WriteAllEEPROM();
      break;
    case kFamily18FJ:
      result = WriteFlash18F();
      Log(LogDetail, " Flashwrite ok");
      if (writeEEPROM) Log(LogDetail, " No EEPROM");
      break;
    case kFamilyDsPIC30:
      result = WriteFlashDS();
      if (writeEEPROM) WriteAllEEPROMDS();
      break;
    case kFamilyDsPIC33:
      result = WriteFlashDSErase();
      break;
    default:
      throw EVantleError("Impossible");
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  // The whole time in seconds: a write longer than a minute shows all of it.
  Log(LogIndent3,
      Format("%s  at %s,   time:%lld.%03lld sec", kWriteOk, ClockText(std::time(nullptr)).c_str(),
             static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000)));
  return result;
}

void TVantleBootloader::CountBlock() {
  ++BlocksWritten;
  if (BlocksToWrite > 0) {
    Progress(static_cast<int32_t>((int64_t{BlocksWritten} * 200 + BlocksToWrite) /
                                  (int64_t{BlocksToWrite} * 2)));
  }
}

bool TVantleBootloader::WriteFlash16F() {
  BlocksToWrite = CountNonEmpty(*this, kBlockBytes16F);
  BlocksWritten = 0;
  for (int32_t a = 0; a < pic.FlashSize; a += kBlockBytes16F) {
    while (a < pic.FlashSize && BlockIsEmpty(a, kBlockBytes16F))
      a += kBlockBytes16F;
    if (a >= pic.FlashSize) break;
    const int32_t w = a / 2;
    Log(LogDetail, Format(" Addr(words)=%.6xh,  3+%d+1 bytes:", w, kBlockBytes16F));
    std::string block{Byte(w >> 8), Byte(w), static_cast<char>(k16FBlockCount)};
    SendBlock(WithChecksum(block + ImageBytes(FlashData, a, kBlockBytes16F, false)));
    CountBlock();
  }
  return true;
}

void TVantleBootloader::ErasePass(bool dsPIC33) {
  const int64_t page = int64_t{pic.ErasePageInstr} * pic.BytesPerInstrPC;
  for (int64_t a = int64_t{pic.FlashSize} - int64_t{pic.BldPages + 1} * page; a >= 0; a -= page) {
    std::string block;
    if (dsPIC33) {
      Log(LogDetail,
          Format(" EraseAddr(bytes)=%.6xh,  4+%d+1 bytes:", static_cast<int32_t>(a), kEraseCount));
      const int64_t p = a / 2;
      block = {Byte(p), Byte(p >> 8), Byte(p >> 16), '\0', static_cast<char>(kEraseCount),
               '\0',    '\0',         '\0'};
    } else {
      Log(LogDetail,
          Format(" Addr(bytes)=%.6xh,  4+%d+1 bytes:", static_cast<int32_t>(a), kEraseCount));
      block = {static_cast<char>(Byte(a >> 16) | k18FFlashWrite),
               Byte(a >> 8),
               Byte(a),
               static_cast<char>(kEraseCount),
               '\0',
               '\0'};
    }
    SendBlock(WithChecksum(block));
    CountBlock();
  }
}

int32_t TVantleBootloader::StartTableSizedWrite(bool dsPIC33) {
  const auto unit = static_cast<int32_t>(FlashBlockBytes(pic));
  // The device table keeps both within the flash.
  const auto page = static_cast<int32_t>(int64_t{pic.ErasePageInstr} * pic.BytesPerInstrPC);
  VANTLE_ASSERT(unit > 0 && page > 0, "Block or erase page size is zero");
  const bool everyBlock = (pic.Options & kOptionEveryBlock) != 0;
  const bool erasePass = (pic.Options & kOptionErasePass) != 0;
  BlocksToWrite = everyBlock ? pic.FlashSize / unit : CountNonEmpty(*this, unit);
  if (erasePass && !everyBlock && BlockIsEmpty(0, unit)) ++BlocksToWrite;  // see SendsUnit
  if (erasePass) BlocksToWrite += pic.FlashSize / page;
  BlocksWritten = 0;
  if (erasePass) ErasePass(dsPIC33);
  return unit;
}

bool TVantleBootloader::SendsUnit(int32_t a, int32_t unit) const {
  // The erase pass also erased the jump to the bootloader at address 0;
  // without it the PIC would never reach its bootloader again.
  if (a == 0 && (pic.Options & kOptionErasePass) != 0) return true;
  return !BlockIsEmpty(a, unit);
}

bool TVantleBootloader::WriteFlash18F() {
  const int32_t unit = StartTableSizedWrite(false);
  const bool everyBlock = (pic.Options & kOptionEveryBlock) != 0;
  // Only units that start below the zone: the reset slot reaches the PIC
  // inside the last of them.
  for (int32_t a = 0; a < pic.StartBldZone; a += unit) {
    while (!everyBlock && a < pic.StartBldZone && !SendsUnit(a, unit))
      a += unit;
    if (a >= pic.StartBldZone) break;
    Log(LogDetail, Format(" Addr(bytes)=%.6xh,  4+%d+1 bytes:", a, unit));
    std::string block{static_cast<char>(Byte(a >> 16) | k18FFlashWrite), Byte(a >> 8), Byte(a),
                      Byte(unit)};
    SendBlock(WithChecksum(block + ImageBytes(FlashData, a, unit, false)));
    CountBlock();
  }
  Progress(100);
  return true;
}

bool TVantleBootloader::WriteFlashDS() {
  BlocksToWrite = CountNonEmpty(*this, kBlockBytesDsPIC30);
  BlocksWritten = 0;
  for (int32_t a = 0; a < pic.FlashSize; a += kBlockBytesDsPIC30) {
    while (a < pic.FlashSize && BlockIsEmpty(a, kBlockBytesDsPIC30))
      a += kBlockBytesDsPIC30;
    if (a >= pic.FlashSize) break;
    Log(LogDetail, Format(" Addr(bytes)=%.6xh,  %d+%d+1 bytes:", a, 4, kDsPIC30Data));
    const int32_t p = a / 2;
    std::string block{Byte(p), Byte(p >> 8), Byte(p >> 16), static_cast<char>(kDsPIC30BlockCount)};
    SendBlock(WithChecksum(block + ImageBytes(FlashData, a, kBlockBytesDsPIC30, true)));
    CountBlock();
  }
  return true;
}

bool TVantleBootloader::WriteFlashDSErase() {
  const int32_t unit = StartTableSizedWrite(true);
  const auto count =
      static_cast<int32_t>(int64_t{pic.RowsPerBlock} * pic.RowInstr * pic.BytesPerInstrPIC);
  const bool everyBlock = (pic.Options & kOptionEveryBlock) != 0;
  for (int32_t a = 0; a < pic.FlashSize; a += unit) {
    while (!everyBlock && a < pic.FlashSize && !SendsUnit(a, unit))
      a += unit;
    if (a >= pic.FlashSize) break;
    Log(LogDetail, Format(" Addr(bytes)=%.6xh,  %d+%d+1 bytes:", a, 6, count));
    const int32_t p = a / 2;
    std::string block{Byte(p), Byte(p >> 8), Byte(p >> 16), '\0', Byte(count), Byte(count >> 8)};
    SendBlock(WithChecksum(block + ImageBytes(FlashData, a, unit, true)));
    CountBlock();
  }
  Progress(100);
  return true;
}

}  // namespace vantlebld
