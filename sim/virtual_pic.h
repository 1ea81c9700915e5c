// A virtual PIC running the bootloader firmware: the other end of the
// host's serial exchange, as a state machine of bytes in and answers out.
//
// It does no I/O and never sleeps: the caller hands it each byte from the
// line with the time it arrived, and gets back what the firmware sends and
// how much later. The pseudo-terminal server (pty_server.h) puts it on a
// line; the tests drive it directly.
//
// After the reset (construction) the firmware listens for the activation
// byte and answers its type code and 'K'; from then on it takes blocks and
// answers each with 'K' (written) or 'N' (bad checksum). Faults can be
// switched on to try the host's recovery paths.
//
// With RunAfterWrite the firmware hands over to the written program once
// the job has ended: after the activation byte was answered, either the
// host closed the port, or it sent blocks and then left the line quiet for
// kRunAfterIdleMs. From then on every byte is echoed (user_program.h has
// the stream the server adds) until the next reset: a real one, or the
// remote reset of ResetCodes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/vantlebld_comm.h"
#include "sim/pic_memory.h"

namespace vantlebld {

// Faults to inject. Blocks are numbered from 1 in the order they arrive,
// resends included; 0 switches a fault off. When several faults name the
// same block, a hang-up wins over silence, silence over rubbish, rubbish
// over a forced 'N'.
struct TSimFaults {
  int NakFirst = 0;  // answer 'N' to NakFirst blocks from block NakFrom, whatever their checksum
  int NakFrom = 1;
  int DropBytes = 0;  // the last DropBytes bytes of block DropBlock are lost on the line
  int DropBlock = 0;
  int RubbishAt = 0;            // answer this block with "AXY"
  int SilentFrom = 0;           // from this block on, take blocks but never answer
  std::string GarbageBeforeId;  // sent before the type code
  bool Echo = false;            // every byte received is sent straight back
  bool NoAnswer = false;        // never answer the activation byte
  int HangupAt = 0;             // hang up the line when this block is complete
  int AnswerDelayMs = 0;        // every answer goes out this much later
};

struct TSimOptions {
  uint8_t ActivationByte = 0xC1;
  int32_t WriteMs = 0;        // time to write a block, before its 'K'
  int32_t ListenAfterMs = 0;  // bytes before this time after the reset are not heard
  TSimFaults Faults;
  bool RunAfterWrite = false;      // run the written program once the job has ended
  bool RunProgramAtStart = false;  // run it from the reset, without a bootloader job
  int32_t StreamRate = 0;          // bytes per second the program sends; 0: none
  // The remote reset the program understands: on these bytes in a row it
  // restarts into the bootloader, which then answers the activation byte
  // again as after a reset. Empty: none.
  std::string ResetCodes;
};

// Whether the options let a program run at all: then the server keeps
// serving while the host closes and opens the port.
inline bool RunsProgram(const TSimOptions& o) {
  return o.RunAfterWrite || o.RunProgramAtStart;
}

// What the firmware sends after a byte: Bytes, DelayMs after that byte
// arrived; or HangUp, the line drops.
struct TSimAnswer {
  std::string Bytes;
  int32_t DelayMs = 0;
  bool HangUp = false;
};

struct TSimStats {
  int32_t BlocksReceived = 0;        // every complete block, resends included
  int32_t BlocksAccepted = 0;        // checksum right and not refused by a fault: carried out
  int32_t FlashBlocks = 0;           // of those, flash writes and erases
  int32_t NAnswers = 0;              // 'N' bytes sent
  int32_t FillerBytes = 0;           // 00h bytes that completed a block after a pause in it
  int32_t ActivationBytes = 0;       // bytes received while listening, answered or not
  int32_t BytesBeforeListening = 0;  // bytes that came before ListenAfterMs
  int32_t ProgramBytes = 0;          // bytes the program received (and echoed)
  int32_t RemoteResets = 0;          // restarts into the bootloader on the reset codes
  // Each start of the program after a job, with what the PIC does after
  // reset at that moment: "program start 2 after 14 blocks: boot path: ...".
  std::vector<std::string> ProgramStarts;
  std::vector<std::string> HostErrors;
};

class TVirtualPic {
 public:
  // A quiet line this long after the bootloader's last byte ends the job.
  // Longer than any pause of the host between blocks. Only a job that has
  // sent blocks ends this way: after the identification the host first
  // waits out its own answer time-out, which can be longer. Nor does a
  // block the firmware still waits to complete, however long the host
  // takes to fill it in.
  static constexpr int64_t kRunAfterIdleMs = 300;

  // pic must have its geometry derived (DerivePicGeometry); throws
  // std::invalid_argument when it has not or the family is unknown.
  TVirtualPic(uint8_t typeCode, const TPICInfo& pic, const TSimOptions& options = {});

  // One byte from the line at nowMs (milliseconds since the reset; never
  // decreasing). Returns the answers it causes, in the order sent.
  std::vector<TSimAnswer> Receive(uint8_t byte, int64_t nowMs);

  const TSimStats& Stats() const { return stats_; }
  // True once the activation byte has been answered.
  bool Identified() const { return identified_; }
  bool HungUp() const { return hungUp_; }

  // True once the program runs instead of the bootloader.
  bool ProgramRunning() const { return programRunning_; }
  // How many times the program has started: each start runs it afresh.
  int32_t ProgramRuns() const { return programRuns_; }
  // When the program starts if no byte arrives before (ms since the
  // reset), or -1 when a quiet line cannot start it now.
  int64_t ProgramStartMs() const;
  // Starts the program if the line has been quiet long enough by nowMs.
  void Advance(int64_t nowMs);
  // The host closed the port: after the identification this ends the job.
  void HostClosed();
  uint8_t TypeCode() const { return typeCode_; }
  const TPICInfo& Pic() const { return pic_; }
  const TSimOptions& Options() const { return options_; }

  const TPicMemory& Memory() const { return memory_; }
  const std::vector<uint8_t>& Flash() const { return memory_.Flash(); }
  const std::vector<uint8_t>& EEPROM() const { return memory_.EEPROM(); }
  const std::map<uint32_t, uint8_t>& Config() const { return memory_.Config(); }
  std::string ExportHex() const { return memory_.ExportHex(); }

 private:
  std::vector<TSimAnswer> Bootload(uint8_t byte, int64_t nowMs);
  void RestartBootloader(int64_t nowMs);
  void StartProgram();
  void TakeBlockByte(uint8_t byte, int64_t nowMs, std::vector<TSimAnswer>& out);
  void CompleteBlock(std::vector<TSimAnswer>& out);

  uint8_t typeCode_;
  TPICInfo pic_;
  TSimOptions options_;
  TPicMemory memory_;
  TSimStats stats_;
  bool identified_ = false;
  bool hungUp_ = false;
  bool programRunning_ = false;
  int32_t programRuns_ = 0;
  int32_t blocksAtLastStart_ = 0;
  // Blocks received before the last remote reset: only a job's own blocks
  // let a quiet line start the program.
  int32_t blocksAtRestart_ = 0;
  // The program's last bytes, as many as there are reset codes.
  std::string programTail_;
  // The bootloader's last byte in or out: the later of the last byte
  // received and the last answer it caused.
  int64_t quietFromMs_ = 0;

  // The block coming in: bytes kept, bytes seen on the line (lost ones
  // included), its length once the header is in.
  std::vector<uint8_t> block_;
  size_t lineBytes_ = 0;
  size_t blockLength_ = 0;
  int64_t lastByteMs_ = 0;
  bool catchingUp_ = false;  // a 00h came after a pause: the host is filling in
};

}  // namespace vantlebld
