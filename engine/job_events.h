// What a job tells its front end, as data: a small closed set of events in
// the order they happen. The engine and the job layer report only through
// a sink of these; one renderer (log_text.h) turns them into the log lines
// a person reads, and front ends that need more (the progress bar, the map,
// the window's error channel) read the fields, never the text.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "engine/line_role.h"
#include "engine/vantlebld_comm.h"
#include "engine/write_plan.h"

namespace vantlebld {

// Free text that no typed event carries. Verbose: only for detailed logs.
struct TDetailEvent {
  TLineRole Role = TLineRole::Plain;
  bool Verbose = false;
  std::string Text;
};

// One activation byte sent; Left counts down to 0 over Total probes, each
// WaitMs apart.
struct TProbeEvent {
  int32_t Left = 0;
  int32_t Total = 0;
  int32_t WaitMs = 0;
};

// The bootloader answered with its type code, and the table knows it.
struct TFoundEvent {
  uint8_t Code = 0;
  std::string Model;
  uint8_t Family = 0;
};

// The HEX file as analysed before the search: its age and what it holds.
struct THexSummaryEvent {
  std::string Age;      // "5 min"
  std::string Summary;  // HexSummaryText()
  int64_t Bytes = 0;
};

// Something the relocation found in the reset code, as it finds it.
struct TRelocationWarningEvent {
  TRelocationNote Note;
  bool Plain = false;  // shown without "WARNING: "
};

// The reset code moved into the slot and address 0 jumps to the entry.
// Entry is in the family's own units: a word address on PIC16F, a byte
// address on PIC18, a program address on dsPIC.
struct TRelocatedEvent {
  uint8_t Family = 0;
  int64_t Slot = 0;  // HEX byte address of the reset slot
  int64_t Entry = 0;
  std::vector<TRelocationNote> Notes;
};

// A block of the write plan about to go out. Index counts from 1 over
// Total blocks; FlashDone of FlashTotal flash and erase blocks have been
// answered before it (what the progress shows).
struct TBlockSentEvent {
  size_t Index = 0;
  size_t Total = 0;
  TPlannedBlock::TKind Area = TPlannedBlock::TKind::Flash;
  int64_t Address = 0;  // HEX byte address; EEPROM: offset into the area
  int32_t Bytes = 0;    // on the wire
  int32_t FlashDone = 0;
  int32_t FlashTotal = 0;
  // How the plan describes the block for a detailed log.
  TLineRole Role = TLineRole::Plain;
  bool Verbose = true;
  std::string Line;
};

// What came back for one send of a block: K (written), N (bad checksum,
// sent again), rubbish (the exchange ends), or a time-out, after which
// the host feeds filler bytes until the firmware answers (CaughtUp: its N
// after Fed bytes; Other: another byte).
struct TBlockAnswerEvent {
  enum class TAnswer : uint8_t { K, N, Rubbish, TimeOut, CaughtUp, Other };
  TAnswer Answer = TAnswer::K;
  int32_t Attempt = 1;
  int32_t Ms = 0;     // time to the answer
  std::string Bytes;  // Rubbish, Other: what arrived
  int32_t Fed = 0;    // CaughtUp, Other: filler bytes fed first
};

// The write plan failed its proof: nothing was sent.
struct TRefusedEvent {
  std::string Reason;
  int64_t Address = -1;
};

// The write ended with every block answered.
struct TDoneEvent {
  TVantleBootloader::TLinkStats Stats;
  int64_t Ms = 0;
  std::time_t At = 0;
};

// The job ended in failure; Message is what the person reads.
struct TFailedEvent {
  EVantleError::Kind Kind = EVantleError::Kind::General;
  std::string Message;
  std::string Hint;  // what went on and what to try; may be empty
};

struct TJobEvent {
  std::variant<TDetailEvent, TProbeEvent, TFoundEvent, THexSummaryEvent, TRelocationWarningEvent,
               TRelocatedEvent, TBlockSentEvent, TBlockAnswerEvent, TRefusedEvent, TDoneEvent,
               TFailedEvent>
      Value;
};

// The progress a job event moves the bar to (0..100), or -1 when none.
int32_t ProgressOf(const TJobEvent& event);

}  // namespace vantlebld
