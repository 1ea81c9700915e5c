#include "cli/write_job.h"

#include <fstream>
#include <iterator>

#include "engine/format.h"
#include "engine/user_text.h"
#include "sim/virtual_pic.h"
#include "sim/written_file_check.h"

namespace vantlebld {

namespace {

// The highest EEPROM address of any family: the dsPIC30F's EEPROM ends at
// 7FFFFFh; PIC16F and PIC18F count from 0. The PIC found refuses an
// address past its own EEPROM.
constexpr int64_t kMaxEEPROMAddress = kDsEEPROMEnd - 1;
// Configuration addresses: PIC18 from 300000h, dsPIC30 from F80000h.
constexpr int64_t kMaxConfigAddress = 0xFFFFFF;
// From here on a configuration location is a dsPIC30 word; below, a byte.
constexpr int64_t kFirstConfigWord = 0xF80000;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// After a write into the in-process virtual PIC: what the PIC does after
// reset, and its memory against the HEX file read a second way. True when
// all holds.
bool JudgeVirtualPic(const TVirtualPic& pic, const std::string& hexFile, bool eepromWritten,
                     bool clearAll, TJobReport& report) {
  for (const auto& e : pic.Stats().HostErrors)
    report.Say("virtual PIC: host error: " + e);
  const TWrittenFileCheck check = CheckWrittenFile(pic.Pic(), ReadText(hexFile), pic.Flash(),
                                                   pic.EEPROM(), eepromWritten, clearAll);
  for (const auto& line : check.Lines)
    report.Say(line);
  return check.Ok && pic.Stats().HostErrors.empty();
}

// One argument of eeprom and config as a number in [0, max]; what is
// refused names the range and the forms a number takes.
int32_t ArgumentNumber(const CliOptions& o, size_t index, const char* what, int64_t max,
                       const char* unit) {
  const std::string& text = o.Arguments.at(index);
  const auto number = ParseNumber(text);
  if (!number) {
    throw CliUsageError(Format("%s: %s \"%s\" is not a number (write it as 200, C8h, $C8 or 0xC8)",
                               o.Command.c_str(), what, text.c_str()));
  }
  if (*number < 0 || *number > max) {
    const int digits = max > 0xFFFF ? 6 : max > 0xFF ? 4 : 2;
    throw CliUsageError(Format("%s: %s %s is outside 0..%lld (%0*Xh..%0*llXh); %s",
                               o.Command.c_str(), what, text.c_str(), static_cast<long long>(max),
                               digits, 0, digits, static_cast<long long>(max), unit));
  }
  return static_cast<int32_t>(*number);
}

// ADDR and VALUE of eeprom and config, refused rather than cut to fit.
std::pair<int32_t, int32_t> AddressAndValue(const CliOptions& o) {
  if (o.Command == "eeprom") {
    return {ArgumentNumber(o, 0, "address", kMaxEEPROMAddress,
                           "PIC16F and PIC18F count from 0, the dsPIC30F's EEPROM ends at 7FFFFFh"),
            ArgumentNumber(o, 1, "value", 0xFF, "an EEPROM location holds one byte")};
  }
  const int32_t address = ArgumentNumber(o, 0, "address", kMaxConfigAddress,
                                         "PIC18 from 300000h, dsPIC30 from F80000h");
  const bool word = address >= kFirstConfigWord;
  return {address, ArgumentNumber(o, 1, "value", word ? 0xFFFF : 0xFF,
                                  word ? "a dsPIC30 configuration word holds 16 bits"
                                       : "a PIC18 configuration location holds one byte (dsPIC30 "
                                         "words, from F80000h, take 16 bits)")};
}

}  // namespace

std::string LinkReport(const TVantleBootloader::TLinkStats& s) {
  return Format(
      "link: %d blocks sent, %d N answers, %d catch-ups, %d rubbish, slowest answer %d ms",
      s.BlocksSent, s.NAnswers, s.CatchUps, s.Rubbish, s.SlowestAnswerMs);
}

void CheckJobArguments(const CliOptions& o) {
  if (o.Command == "eeprom" || o.Command == "config") AddressAndValue(o);
}

int RunBoardJob(TVantleBootloader& engine, const CliOptions& o, const TJobOptions& options,
                TBoardPlan& board, TJobReport& report) {
  TJobOptions j = options;
  j.Port = board.Port;
  const bool writes = o.Command == "write" || o.Command == "clear-all";
  TJobResult result;
  if (o.Command == "check") {
    result = CheckJob(engine, j);
  } else if (o.Command == "write") {
    result = WriteJob(engine, j, o.Arguments.at(0));
  } else if (o.Command == "clear-all") {
    result = ClearAllJob(engine, j, o.Arguments.at(0));
  } else {
    const auto [address, value] = AddressAndValue(o);
    if (o.Command == "config" && value > 0xFF) {
      // A 16-bit value is for a dsPIC30 word: a PIC18 found instead would
      // get its low byte only.
      j.SearchEnded = [&engine, &o](bool found) {
        if (!found || !Is18F(engine.pic.Family)) return;
        throw EVantleError(Format("config: value %s does not fit the %s: its configuration "
                                  "locations hold one byte (00h..FFh)",
                                  o.Arguments.at(1).c_str(), engine.pic.Name.c_str()),
                           EVantleError::Kind::General,
                           "give a value of 00h..FFh at 300000h and up for a PIC18");
      };
    }
    result = o.Command == "config"
                 ? WriteConfigJob(engine, j, address, value)
                 : WriteEEPROMJob(engine, j, address, static_cast<uint8_t>(value));
  }
  if (result.Ok && !o.Monitors()) DisconnectQuietly(engine);  // the monitor takes it
  if (writes && (result.Ok || engine.LinkStats.BlocksSent > 0))
    report.Say(LinkReport(engine.LinkStats));
  if (!result.Ok) {
    report.Error = result.Error;
    report.Hint = result.Hint;
    return kExitJobFailed;
  }
  if (writes && board.Simulation) {
    board.Simulation->Stop();
    if (!JudgeVirtualPic(board.Simulation->Pic(), o.Arguments.at(0), j.WriteEEPROM,
                         o.Command == "clear-all", report))
      return kExitJobFailed;
  }
  return kExitOk;
}

}  // namespace vantlebld
