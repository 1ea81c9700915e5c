// The jobs the window and the CLI run, one function each: check, write,
// clear-all, and the single EEPROM and configuration writes. Each runs
// over an engine whose link the front end has installed and reports
// through the engine's event sink (job_events.h).
//
// Every job connects, resets the PIC (pre-codes and control-line script),
// finds and identifies it, and does its writing. On success the link is
// left open: the front end closes it or hands it to its terminal. On
// failure the job closes the link, reports a failed event ("ERROR!" and
// the reason in the log) and returns the reason.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/defaults.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

struct TJobOptions {
  std::string Port;
  int32_t Baud = kDefaultBaudRate;
  uint8_t IDCode = kDefaultIDCode;  // the activation byte
  int32_t SearchSeconds = kDefaultSearchSeconds;
  int32_t WaitMs = kDefaultTimeoutMs;
  std::string PreCodes;      // as SendPreCodes reads them
  std::string ResetSignals;  // as SignalScript reads it
  bool IgnoreUntilK = false;
  bool WriteEEPROM = true;
  // Asked when the loaded file certainly belongs to another family than
  // the PIC found, with the reason; true writes it anyway. Unset: refused.
  std::function<bool(const std::string& reason)> WriteForeignHex;
  // The job's stop request: a search ends at its next probe, a write after
  // the block on the line. None: the job cannot be stopped.
  std::shared_ptr<const TCancelToken> Cancel;
  // Called when the search has ended, found or not.
  std::function<void(bool found)> SearchEnded;
};

struct TJobResult {
  bool Ok = false;
  std::string Error;  // why it failed
  std::string Hint;   // what went on and what to try; may be empty
};

TJobResult CheckJob(TVantleBootloader& engine, const TJobOptions& o);
// The HEX file into flash (and EEPROM when the options say so).
TJobResult WriteJob(TVantleBootloader& engine, const TJobOptions& o, const std::string& hexFile);
// Every flash byte below the bootloader zone erased, then the HEX file.
TJobResult ClearAllJob(TVantleBootloader& engine, const TJobOptions& o, const std::string& hexFile);
TJobResult WriteEEPROMJob(TVantleBootloader& engine, const TJobOptions& o, int32_t address,
                          uint8_t value);
TJobResult WriteConfigJob(TVantleBootloader& engine, const TJobOptions& o, int32_t address,
                          int32_t value);

// Closes the link after a failure; a second error there is not news.
void DisconnectQuietly(TVantleBootloader& engine);

}  // namespace vantlebld
