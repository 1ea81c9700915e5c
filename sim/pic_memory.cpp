#include "sim/pic_memory.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "engine/format.h"

namespace vantlebld {

namespace {

constexpr uint8_t kErased = 0xFF;
constexpr uint8_t kPhantom = 0x00;  // every fourth HEX byte of a dsPIC instruction

// 16F: MOVLW high(T), MOVWF PCLATH, GOTO T. The GOTO carries 11 address
// bits; PCLATH supplies the page.
constexpr uint16_t kMovlw = 0x3000;
constexpr uint16_t kMovwfPclath = 0x008A;
constexpr uint16_t kGoto16F = 0x2800;
constexpr uint16_t kGoto16FMask = 0x07FF;
// PIC18: GOTO n in two words, n a 20-bit word address.
constexpr uint16_t kGoto18FFirst = 0xEF00;
constexpr uint16_t kGoto18FSecond = 0xF000;
// dsPIC: GOTO is two instructions; the opcode byte 04h, the rest zeros.
constexpr uint8_t kGotoDsOpcode = 0x04;

// Where the data EEPROM appears in a HEX file.
constexpr uint32_t kHexEEPROM16F = 0x4200;  // word 2100h+i, value in the low byte
constexpr uint32_t kHexEEPROM18F = 0xF00000;
constexpr uint32_t kDs30EEPROMEnd = 0x800000;  // program address after the last EEPROM word

constexpr size_t kHexRecordBytes = 16;
constexpr uint8_t kHexData = 0x00;
constexpr uint8_t kHexEnd = 0x01;
constexpr uint8_t kHexLinearBase = 0x04;

// INHX32 text: data records of up to 16 bytes on 16-byte boundaries, an
// extended linear address record whenever the upper 16 address bits change.
class THexText {
 public:
  void Run(uint32_t address, const std::vector<uint8_t>& bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
      const uint32_t a = address + static_cast<uint32_t>(i);
      if (static_cast<int64_t>(a >> 16) != upper_) {
        upper_ = a >> 16;
        const uint8_t base[2] = {static_cast<uint8_t>(a >> 24), static_cast<uint8_t>(a >> 16)};
        Record(0, kHexLinearBase, base, 2);
      }
      const size_t n = std::min(kHexRecordBytes - a % kHexRecordBytes, bytes.size() - i);
      Record(static_cast<uint16_t>(a & 0xFFFF), kHexData, &bytes[i], n);
      i += n;
    }
  }
  std::string Finish() {
    Record(0, kHexEnd, nullptr, 0);
    return std::move(out_);
  }

 private:
  void Record(uint16_t address, uint8_t type, const uint8_t* data, size_t count) {
    uint8_t sum = 0;
    out_ += ':';
    const auto put = [this, &sum](uint8_t b) {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      out_ += kDigits[b >> 4];
      out_ += kDigits[b & 0x0F];
      sum = static_cast<uint8_t>(sum + b);
    };
    put(static_cast<uint8_t>(count));
    put(static_cast<uint8_t>(address >> 8));
    put(static_cast<uint8_t>(address & 0xFF));
    put(type);
    for (size_t i = 0; i < count; ++i)
      put(data[i]);
    put(static_cast<uint8_t>(-sum));
    out_ += '\n';
  }

  std::string out_;
  int64_t upper_ = -1;
};

}  // namespace

TPicMemory::TPicMemory(const TPICInfo& pic) : pic_(pic) {
  if (!Is16F(pic.Family) && !Is18F(pic.Family) && !IsDsPIC(pic.Family)) {
    throw std::invalid_argument(Format("unknown family %d", pic.Family));
  }
  codeStart_ = static_cast<uint32_t>(pic.StartBldZone + pic.BldSlotInstr * pic.BytesPerInstrPC);
  if (pic.BytesPerInstrPC == 0 || pic.StartBldZone <= 0 || pic.StartBldZone % 2 != 0 ||
      codeStart_ + 8 > static_cast<uint32_t>(pic.FlashSize) || pic.EESize < 0) {
    throw std::invalid_argument("the PIC's geometry is not derived or does not fit its flash");
  }
  slotAddress_ = static_cast<uint32_t>(pic.StartBldZone) / 2;
  entryAddress_ = codeStart_ / 2;
  flash_.resize(static_cast<size_t>(pic.FlashSize));
  for (uint32_t a = 0; a < flash_.size(); ++a)
    flash_[a] = ErasedByte(a);
  eeprom_.assign(static_cast<size_t>(pic.EESize), kErased);
  PutJump(codeStart_, slotAddress_);
  PutJump(0, entryAddress_);
}

uint8_t TPicMemory::ErasedByte(uint32_t hexAddress) const {
  return IsDsPIC(pic_.Family) && hexAddress % 4 == 3 ? kPhantom : kErased;
}

void TPicMemory::PutWord(uint32_t hexAddress, uint16_t word) {
  flash_[hexAddress] = static_cast<uint8_t>(word & 0xFF);
  flash_[hexAddress + 1] = static_cast<uint8_t>(word >> 8);
}

// The family's jump to target (a program address) at hexAddress.
void TPicMemory::PutJump(uint32_t hexAddress, uint32_t target) {
  if (Is16F(pic_.Family)) {
    PutWord(hexAddress, static_cast<uint16_t>(kMovlw | (target >> 8)));
    PutWord(hexAddress + 2, kMovwfPclath);
    PutWord(hexAddress + 4, static_cast<uint16_t>(kGoto16F | (target & kGoto16FMask)));
  } else if (Is18F(pic_.Family)) {
    PutWord(hexAddress, static_cast<uint16_t>(kGoto18FFirst | (target & 0xFF)));
    PutWord(hexAddress + 2, static_cast<uint16_t>(kGoto18FSecond | (target >> 8)));
  } else {
    const uint8_t jump[8] = {static_cast<uint8_t>(target & 0xFF),
                             static_cast<uint8_t>((target >> 8) & 0xFF),
                             kGotoDsOpcode,
                             kPhantom,
                             static_cast<uint8_t>((target >> 16) & 0xFF),
                             0x00,
                             0x00,
                             kPhantom};
    std::copy(std::begin(jump), std::end(jump), flash_.begin() + hexAddress);
  }
}

std::vector<std::string> TPicMemory::StoreFlash(uint32_t hexAddress,
                                                const std::vector<uint8_t>& bytes,
                                                const char* verb) {
  std::vector<std::string> errors;
  bool intoCode = false;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint64_t a = uint64_t{hexAddress} + i;
    if (a >= flash_.size()) {
      errors.push_back(
          Format("host %s past the end of flash at %06Xh", verb, static_cast<unsigned>(a)));
      break;
    }
    if (a >= codeStart_) {
      if (!intoCode) {
        errors.push_back(
            Format("host %s the bootloader's code at %06Xh", verb, static_cast<unsigned>(a)));
      }
      intoCode = true;
      continue;
    }
    flash_[a] = bytes[i];
  }
  return errors;
}

std::vector<std::string> TPicMemory::Apply(const TBlockAction& action) {
  switch (action.Kind) {
    case TBlockAction::TKind::FlashWrite:
      return StoreFlash(action.Address, action.Bytes, "wrote into");
    case TBlockAction::TKind::FlashErase: {
      std::vector<uint8_t> erased(static_cast<size_t>(pic_.ErasePageInstr) * pic_.BytesPerInstrPC);
      for (size_t i = 0; i < erased.size(); ++i)
        erased[i] = ErasedByte(action.Address + static_cast<uint32_t>(i));
      return StoreFlash(action.Address, erased, "erased");
    }
    case TBlockAction::TKind::EEPROMWrite:
      for (size_t i = 0; i < action.Bytes.size(); ++i) {
        const size_t offset = action.Address + i;
        if (offset >= eeprom_.size()) {
          return {Format("host wrote EEPROM offset %03zXh; this PIC has %zu bytes of EEPROM",
                         offset, eeprom_.size())};
        }
        eeprom_[offset] = action.Bytes[i];
      }
      return {};
    case TBlockAction::TKind::ConfigWrite:
      for (size_t i = 0; i < action.Bytes.size(); ++i)
        config_[action.Address + static_cast<uint32_t>(i)] = action.Bytes[i];
      return {};
    case TBlockAction::TKind::Nothing:
      break;
  }
  return {};
}

std::string TPicMemory::ExportHex() const {
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> runs;
  runs.emplace_back(0, flash_);
  if (!eeprom_.empty()) {
    std::vector<uint8_t> ee;
    if (Is16F(pic_.Family)) {
      // One HEX word per EEPROM byte; the high byte is unused.
      for (uint8_t v : eeprom_)
        ee.insert(ee.end(), {v, 0x00});
      runs.emplace_back(kHexEEPROM16F, std::move(ee));
    } else if (Is18F(pic_.Family)) {
      runs.emplace_back(kHexEEPROM18F, eeprom_);
    } else if (pic_.Family == kFamilyDsPIC30) {
      // Two EEPROM bytes per program word, laid out like an instruction.
      for (size_t k = 0; k < eeprom_.size(); k += 2) {
        const uint8_t hi = k + 1 < eeprom_.size() ? eeprom_[k + 1] : kErased;
        ee.insert(ee.end(), {eeprom_[k], hi, kPhantom, kPhantom});
      }
      runs.emplace_back(2 * (kDs30EEPROMEnd - static_cast<uint32_t>(eeprom_.size())),
                        std::move(ee));
    }
  }
  for (const auto& [address, value] : config_) {
    if (runs.back().first + runs.back().second.size() == address)
      runs.back().second.push_back(value);
    else
      runs.push_back({address, {value}});
  }
  std::sort(runs.begin(), runs.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  THexText hex;
  for (const auto& [address, bytes] : runs)
    hex.Run(address, bytes);
  return hex.Finish();
}

}  // namespace vantlebld
