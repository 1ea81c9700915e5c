#include "engine/jobs.h"

#include <filesystem>

#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/remote_reset.h"

namespace vantlebld {

namespace {

// A job that writes a file ends before it connects when the file is not
// there: an empty name (a script's unset variable, an empty file box)
// would otherwise write whatever the image holds.
void RequireHexFile(TVantleBootloader& engine, const std::string& hexFile) {
  std::error_code ec;
  if (!hexFile.empty() && std::filesystem::is_regular_file(hexFile, ec)) return;
  if (hexFile.empty()) {
    throw EVantleError(
        "File not found: no HEX file was named (choose one, or name it on the command line)",
        EVantleError::Kind::FileIO);
  }
  engine.Say(TLineRole::Problem, "File not found: " + hexFile);
  throw EVantleError("File not found", EVantleError::Kind::FileIO);
}

// Why a search can end without an answer, and what to try.
std::string NotFoundHint(const TVantleBootloader& engine) {
  if (engine.CancelRequested()) {
    return Format("The search was stopped after %d probes.", engine.ProbesSent);
  }
  return Format(
      "Not found after %d probes in %d s: is the board reset into its bootloader, at "
      "%d baud, with activation byte %02Xh? (try: reset the board while it searches, "
      "another baud rate, the pre-codes)",
      engine.ProbesSent, engine.SearchSeconds, engine.BaudRate, engine.IDCode);
}

// The first half of every job: open the link, reset the PIC, analyse the
// HEX file (when one is named), find and identify the PIC, load the file
// into the image. Throws on any failure ("Not found!" when the bootloader
// did not answer).
void ConnectAndIdentify(TVantleBootloader& engine, const TJobOptions& o, const std::string& hexFile,
                        bool needsFile) {
  engine.Say(TLineRole::Plain, " ");
  engine.Cancel = o.Cancel;  // each job its own: a stop never outlives its job
  engine.BaudRate = o.Baud;
  engine.IDCode = o.IDCode;
  engine.SearchSeconds = o.SearchSeconds;
  engine.WaitMs = o.WaitMs;
  if (needsFile) RequireHexFile(engine, hexFile);
  engine.Connect(o.Port, o.Baud);
  RemoteReset(engine, o.PreCodes, o.ResetSignals);
  if (needsFile) engine.AnalyzeHex(hexFile);
  bool found = false;
  try {
    found = engine.SearchPIC(o.IgnoreUntilK);
  } catch (...) {
    // An unknown type code ends the search too.
    if (o.SearchEnded) o.SearchEnded(false);
    throw;
  }
  if (o.SearchEnded) o.SearchEnded(found);
  if (!found)
    throw EVantleError("Not found!", EVantleError::Kind::SerialLink, NotFoundHint(engine));
  if (needsFile) engine.ReadHex(hexFile, true);
  engine.Say(TLineRole::Plain, engine.ImageReport(), true);
}

void WriteImage(TVantleBootloader& engine, const TJobOptions& o) {
  const std::string reason = engine.ForeignHexReason();
  engine.ReallocateReset(!reason.empty() && o.WriteForeignHex && o.WriteForeignHex(reason));
  engine.WriteFlash(o.WriteEEPROM);
}

template <class F>
TJobResult Run(TVantleBootloader& engine, F&& job) {
  try {
    job();
    return {true, {}, {}};
  } catch (const EVantleError& e) {
    DisconnectQuietly(engine);
    engine.Report({TFailedEvent{e.ErrorKind(), e.what(), e.Hint()}});
    return {false, e.what(), e.Hint()};
  } catch (const std::exception& e) {
    DisconnectQuietly(engine);
    engine.Report({TFailedEvent{EVantleError::Kind::General, e.what(), {}}});
    return {false, e.what(), {}};
  }
}

// One EEPROM or configuration location, on a PIC found as for a check.
TJobResult WriteLocation(TVantleBootloader& engine, const TJobOptions& o, bool config,
                         int32_t address, int32_t value) {
  return Run(engine, [&] {
    ConnectAndIdentify(engine, o, "", false);
    if (config) {
      engine.WriteConfigByte(address, value);
    } else {
      engine.WriteEEPROMByte(address, static_cast<uint8_t>(value));
    }
    engine.Say(TLineRole::Plain,
               Format(config ? "performed: CFG[%06Xh]<-%Xh " : "performed: eeprom[%06Xh]<-%Xh ",
                      address, value),
               true);
  });
}

}  // namespace

void DisconnectQuietly(TVantleBootloader& engine) {
  try {
    engine.Disconnect();
  } catch (const std::exception&) {
    // the link is gone already; the first error is the one to report
  }
}

TJobResult CheckJob(TVantleBootloader& engine, const TJobOptions& o) {
  return Run(engine, [&] { ConnectAndIdentify(engine, o, "", false); });
}

TJobResult WriteJob(TVantleBootloader& engine, const TJobOptions& o, const std::string& hexFile) {
  return Run(engine, [&] {
    ConnectAndIdentify(engine, o, hexFile, true);
    WriteImage(engine, o);
  });
}

TJobResult ClearAllJob(TVantleBootloader& engine, const TJobOptions& o,
                       const std::string& hexFile) {
  engine.Say(TLineRole::Plain, "Clearing all flash...");
  return Run(engine, [&] {
    ConnectAndIdentify(engine, o, hexFile, true);
    engine.FillUserFlash();
    WriteImage(engine, o);
  });
}

TJobResult WriteEEPROMJob(TVantleBootloader& engine, const TJobOptions& o, int32_t address,
                          uint8_t value) {
  return WriteLocation(engine, o, false, address, value);
}

TJobResult WriteConfigJob(TVantleBootloader& engine, const TJobOptions& o, int32_t address,
                          int32_t value) {
  return WriteLocation(engine, o, true, address, value);
}

}  // namespace vantlebld
