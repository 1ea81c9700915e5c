// The blocks of a write, family by family: the image goes to the firmware
// in units of a family-specific size, empty units skipped, in ascending
// address order (after a descending erase pass where the device asks for
// one), then the EEPROM bytes one location a block.
#include "engine/write_plan.h"

#include <algorithm>

#include "engine/assert.h"
#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr int32_t kDsPIC30Data = 96;      // a 128-byte unit without its phantom bytes
constexpr uint8_t k18FFlashWrite = 0x20;  // first header byte: flash, OR address bits 23..16
constexpr uint8_t k16FBlockCount = 0x40;
constexpr uint8_t kDsPIC30BlockCount = 0x60;
constexpr uint8_t kEraseCount = 2;  // an erase command is a block of two 00h bytes
constexpr uint8_t kEEPROMWrite = 0x40;
constexpr uint8_t kOneByte = 0x01;
constexpr uint8_t kDsWordCount = 0x02;
// The 16F and PIC18 EEPROM blocks carry an 8-bit address.
constexpr int32_t kEEBlockReach = 256;

char Byte(int64_t v) {
  return static_cast<char>(static_cast<uint8_t>(v & 0xFF));
}

// The image's bytes from start, length of them; bytes past the image read
// as erased flash.
std::string ImageBytes(const std::vector<uint8_t>& data, int64_t start, int64_t length,
                       bool dropPhantom) {
  std::string out;
  out.reserve(static_cast<size_t>(length));
  for (int64_t i = 0; i < length; ++i) {
    if (dropPhantom && i % 4 == 3) continue;  // dsPIC: the fourth byte of each group is not sent
    const int64_t a = start + i;
    out += a < static_cast<int64_t>(data.size()) ? static_cast<char>(data[static_cast<size_t>(a)])
                                                 : '\xFF';
  }
  return out;
}

class TPlanner {
 public:
  TPlanner(const TVantleBootloader& e, TBlockPlan& plan) : e_(e), pic_(e.pic), plan_(plan) {}

  void Flash16F() {
    for (int64_t a = 0; a < pic_.FlashSize; a += kBlockBytes16F) {
      if (e_.BlockIsEmpty(static_cast<int32_t>(a), kBlockBytes16F)) continue;
      const int64_t w = a / 2;
      Add(TPlannedBlock::TKind::Flash, a, kBlockBytes16F,
          Format(" Addr(words)=%.6xh,  3+%d+1 bytes:", static_cast<int32_t>(w), kBlockBytes16F),
          std::string{Byte(w >> 8), Byte(w), static_cast<char>(k16FBlockCount)} +
              ImageBytes(e_.FlashData, a, kBlockBytes16F, false));
    }
  }

  // PIC18 (dsPIC33 false) sends units below the zone only: the reset slot
  // reaches the PIC inside the last of them; dsPIC33 sends the whole flash.
  void TableSized(bool dsPIC33) {
    const int64_t unit = FlashBlockBytes(pic_);
    const int64_t page = int64_t{pic_.ErasePageInstr} * pic_.BytesPerInstrPC;
    VANTLE_ASSERT(unit > 0 && page > 0, "Block or erase page size is zero");
    const bool everyBlock = (pic_.Options & kOptionEveryBlock) != 0;
    const bool erasePass = (pic_.Options & kOptionErasePass) != 0;
    if (erasePass) {
      for (int64_t a = int64_t{pic_.FlashSize} - int64_t{pic_.BldPages + 1} * page; a >= 0;
           a -= page) {
        const int64_t p = a / 2;
        if (dsPIC33) {
          Add(TPlannedBlock::TKind::Erase, a, page,
              Format(" EraseAddr(bytes)=%.6xh,  4+%d+1 bytes:", static_cast<int32_t>(a),
                     kEraseCount),
              {Byte(p), Byte(p >> 8), Byte(p >> 16), '\0', static_cast<char>(kEraseCount), '\0',
               '\0', '\0'});
        } else {
          Add(TPlannedBlock::TKind::Erase, a, page,
              Format(" Addr(bytes)=%.6xh,  4+%d+1 bytes:", static_cast<int32_t>(a), kEraseCount),
              {static_cast<char>(Byte(a >> 16) | k18FFlashWrite), Byte(a >> 8), Byte(a),
               static_cast<char>(kEraseCount), '\0', '\0'});
        }
      }
    }
    const int64_t count = int64_t{pic_.RowsPerBlock} * pic_.RowInstr * pic_.BytesPerInstrPIC;
    const int64_t end = dsPIC33 ? pic_.FlashSize : pic_.StartBldZone;
    for (int64_t a = 0; a < end; a += unit) {
      // The erase pass also erased the jump to the bootloader at address
      // 0: without it the PIC would never reach its bootloader again.
      const bool sends = everyBlock || (a == 0 && erasePass) ||
                         !e_.BlockIsEmpty(static_cast<int32_t>(a), static_cast<int32_t>(unit));
      if (!sends) continue;
      const int64_t p = a / 2;
      if (dsPIC33) {
        Add(TPlannedBlock::TKind::Flash, a, unit,
            Format(" Addr(bytes)=%.6xh,  %d+%d+1 bytes:", static_cast<int32_t>(a), 6,
                   static_cast<int32_t>(count)),
            std::string{Byte(p), Byte(p >> 8), Byte(p >> 16), '\0', Byte(count), Byte(count >> 8)} +
                ImageBytes(e_.FlashData, a, unit, true));
      } else {
        Add(TPlannedBlock::TKind::Flash, a, unit,
            Format(" Addr(bytes)=%.6xh,  4+%d+1 bytes:", static_cast<int32_t>(a),
                   static_cast<int32_t>(unit)),
            std::string{static_cast<char>(Byte(a >> 16) | k18FFlashWrite), Byte(a >> 8), Byte(a),
                        Byte(unit)} +
                ImageBytes(e_.FlashData, a, unit, false));
      }
    }
  }

  void FlashDsPIC30() {
    for (int64_t a = 0; a < pic_.FlashSize; a += kBlockBytesDsPIC30) {
      if (e_.BlockIsEmpty(static_cast<int32_t>(a), kBlockBytesDsPIC30)) continue;
      const int64_t p = a / 2;
      Add(TPlannedBlock::TKind::Flash, a, kBlockBytesDsPIC30,
          Format(" Addr(bytes)=%.6xh,  %d+%d+1 bytes:", static_cast<int32_t>(a), 4, kDsPIC30Data),
          std::string{Byte(p), Byte(p >> 8), Byte(p >> 16), static_cast<char>(kDsPIC30BlockCount)} +
              ImageBytes(e_.FlashData, a, kBlockBytesDsPIC30, true));
    }
  }

  // 16F and PIC18: every marked location the 8-bit block address reaches
  // within the PIC's EEPROM; the preflight names the others.
  void EEPROMBytes() {
    const int64_t reach =
        std::min<int64_t>({pic_.EESize, kEEBlockReach, static_cast<int64_t>(e_.EEFlag.size())});
    for (int64_t i = 0; i < reach; ++i) {
      if ((e_.EEFlag[static_cast<size_t>(i)] & kPresent) == 0) continue;
      const uint8_t v = e_.EEData[static_cast<size_t>(i)];
      const bool is16F = Is16F(pic_.Family);
      AddEEPROM(i, 1,
                Format(is16F ? "EEPROM16F Location:[%.3xh] <- %.2Xh" : "eeprom addr:%.3xh <- %.2xh",
                       static_cast<int32_t>(i), v),
                is16F ? TLineRole::Plain : TLineRole::Step, is16F, static_cast<int32_t>(i), v);
    }
  }

  // dsPIC30: every EEPROM word the file sets, whole.
  void EEPROMWordsDs() {
    const int64_t first = kDsEEPROMEnd - int64_t{pic_.EESize};
    const int64_t size = std::min<int64_t>(pic_.EESize, kEEAreaSize - 1);
    for (int64_t k = 0; k + 1 < size; k += 2) {
      const auto lo = static_cast<size_t>(k), hi = lo + 1;
      if (((e_.EEFlag[lo] | e_.EEFlag[hi]) & kPresent) == 0) continue;
      const auto word = static_cast<uint16_t>(e_.EEData[lo] | (e_.EEData[hi] << 8));
      AddEEPROM(k, 2, Format("eeprom addr:%.3xh <- %.2xh", static_cast<int32_t>(first + k), word),
                TLineRole::Step, false, static_cast<int32_t>(first + k), word);
    }
  }

 private:
  void Add(TPlannedBlock::TKind kind, int64_t start, int64_t length, std::string line,
           std::string block) {
    plan_.Blocks.push_back({kind, start, length, TLineRole::Plain, true, std::move(line),
                            TVantleBootloader::WithChecksum(std::move(block))});
  }
  void AddEEPROM(int64_t offset, int64_t length, std::string line, TLineRole role, bool verbose,
                 int32_t address, uint16_t value) {
    plan_.Blocks.push_back({TPlannedBlock::TKind::EEPROM, offset, length, role, verbose,
                            std::move(line), EEPROMBlock(pic_.Family, address, value)});
  }

  const TVantleBootloader& e_;
  const TPICInfo& pic_;
  TBlockPlan& plan_;
};

}  // namespace

int32_t TBlockPlan::FlashBlocks() const {
  return static_cast<int32_t>(std::ranges::count_if(
      Blocks, [](const TPlannedBlock& b) { return b.Kind != TPlannedBlock::TKind::EEPROM; }));
}

std::string EEPROMBlock(uint8_t family, int32_t address, uint16_t value) {
  if (Is16F(family)) {
    return TVantleBootloader::WithChecksum(
        {static_cast<char>(kEEPROMWrite), Byte(address), static_cast<char>(kOneByte), Byte(value)});
  }
  if (Is18F(family)) {
    return TVantleBootloader::WithChecksum(
        {static_cast<char>(kEEPROMWrite), Byte(address), Byte(value), '\0'});
  }
  return TVantleBootloader::WithChecksum({Byte(address), Byte(address >> 8), Byte(address >> 16),
                                          static_cast<char>(kDsWordCount), Byte(value),
                                          Byte(value >> 8)});
}

TBlockPlan PlanWrite(const TVantleBootloader& engine, bool writeEEPROM) {
  TBlockPlan plan;
  TPlanner planner(engine, plan);
  switch (engine.pic.Family) {
    case kFamily16F:
      planner.Flash16F();
      if (writeEEPROM) planner.EEPROMBytes();
      break;
    case kFamily18F:
      planner.TableSized(false);
      if (writeEEPROM) planner.EEPROMBytes();
      break;
    case kFamily18FJ:  // no EEPROM
    case kFamily18FK:  // its EEPROM is not written by this bootloader
      planner.TableSized(false);
      break;
    case kFamilyDsPIC30:
      planner.FlashDsPIC30();
      if (writeEEPROM) planner.EEPROMWordsDs();
      break;
    case kFamilyDsPIC33:
      planner.TableSized(true);
      break;
    default:
      throw EVantleError(
          Format("Type %02Xh has family %d in the device table, which this program "
                 "cannot write: check its line in piccodes.ini",
                 engine.pic.Code, engine.pic.Family));
  }
  return plan;
}

}  // namespace vantlebld
