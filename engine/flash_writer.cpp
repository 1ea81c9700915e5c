// The flash writer: the write is planned whole (write_plan.cpp), proved
// (preflight.cpp), and only then sent block by block, counting the
// progress.
#include <chrono>
#include <ctime>

#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/vantlebld_comm.h"
#include "engine/write_plan.h"

namespace vantlebld {

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

bool TVantleBootloader::WriteFlash(bool writeEEPROM) {
  Say(TLineRole::Continued, " Writing flash...");
  const auto t0 = std::chrono::steady_clock::now();
  LinkStats = TLinkStats{};
  BlocksToWrite = BlocksWritten = 0;
  LastPlan = PlanWrite(*this, writeEEPROM);
  LastPreflight = CheckWritePlan(*this, LastPlan, writeEEPROM);
  if (!LastPreflight.Ok) {
    Report({TRefusedEvent{LastPreflight.Reason, LastPreflight.Address}});
    // The job reports the reason under its ERROR! line.
    throw EVantleError(LastPreflight.Reason);
  }
  if (pic.Family == kFamily18FK && writeEEPROM && HexHasEEPROM)
    Say(TLineRole::Problem,
        "The HEX file's EEPROM data is left out: this bootloader writes no "
        "EEPROM on PIC18FK parts");
  BlocksToWrite = LastPlan.FlashBlocks();
  // After the last flash block: its line.
  bool flashDone = false;
  const auto finishFlash = [&] {
    flashDone = true;
    if (Is16F(pic.Family) || Is18F(pic.Family)) Say(TLineRole::Plain, " Flashwrite ok", true);
  };
  bool eeprom = false;
  const size_t total = LastPlan.Blocks.size();
  for (size_t i = 0; i < total; ++i) {
    const TPlannedBlock& b = LastPlan.Blocks[i];
    const bool isEEPROM = b.Kind == TPlannedBlock::TKind::EEPROM;
    if (isEEPROM && !flashDone) finishFlash();
    Report({TBlockSentEvent{i + 1, total, b.Kind, b.Start, static_cast<int32_t>(b.Wire.size()),
                            BlocksWritten, BlocksToWrite, b.LineRole, b.LineVerbose, b.Line}});
    try {
      SendBlock(b.Wire);
    } catch (const EVantleError& e) {
      // Where the write stopped: the block, its area and address.
      if (e.ErrorKind() != EVantleError::Kind::SerialLink) throw;
      const char* area = isEEPROM                                ? "EEPROM"
                         : b.Kind == TPlannedBlock::TKind::Erase ? "erase"
                                                                 : "flash";
      throw EVantleError(Format("%s block %zu of %zu (%s %06llXh)", e.what(), i + 1, total, area,
                                static_cast<unsigned long long>(b.Start)),
                         e.ErrorKind(), e.Hint());
    }
    if (isEEPROM) {
      eeprom = true;
    } else {
      ++BlocksWritten;
    }
    // A stop ends the write between blocks: the one on the line has been
    // answered, and every block boundary leaves a PIC whose reset reaches
    // the bootloader.
    if (CancelRequested() && i + 1 < total) {
      throw EVantleError(Format("Stopped after block %zu of %zu: the program is partly written; "
                                "the bootloader still starts \u2014 write again",
                                i + 1, total),
                         EVantleError::Kind::Stopped);
    }
  }
  if (!flashDone) finishFlash();
  if (writeEEPROM && (Is16F(pic.Family) || pic.Family == kFamilyDsPIC30))
    Say(TLineRole::Plain, eeprom ? "  eeprom write ok" : "  no eeprom to write", true);
  if (writeEEPROM && pic.Family == kFamily18FJ) Say(TLineRole::Plain, " No EEPROM", true);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  Report({TDoneEvent{LinkStats, ms, std::time(nullptr)}});
  return true;
}

}  // namespace vantlebld
