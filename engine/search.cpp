// Catching the bootloader after a reset and identifying the PIC behind it.
//
// Wire: the host sends the activation byte (IDCode, C1h by default) every
// WaitMs; the firmware, once listening, answers exactly two bytes: its type
// code and 'K'.
#include <algorithm>

#include "engine/assert.h"
#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr char kAck = 'K';

// Ends the search quietly (no "Not found"); carries nothing the user needs.
struct SearchEnded {};

}  // namespace

bool TVantleBootloader::SearchPIC(bool ignoreUntilK) {
  ProbesSent = 0;
  // Nobody answers on this link: the offline code is the PIC.
  if (!Link->Capabilities().Answers) {
    Link->AnnounceSearch();
    return IdentifyPIC(OfflineCode);
  }
  // The probe count divides by the interval: refuse a useless one before
  // anything goes out on the line.
  if (WaitMs <= 0) {
    throw EVantleError(Format("Time-out of %d ms is not valid: it must be at least 1 ms", WaitMs));
  }

  bool result = false;
  // A broken link (adapter pulled) is not a quiet line: say why and stop
  // probing. A time-out only means nothing has arrived yet.
  const auto checkLink = [this](const TReceiveResult& r) {
    if (!r.Broken()) return;
    Say(TLineRole::Step, r.Reason);
    throw SearchEnded{};
  };
  try {
    Say(TLineRole::Plain, "  Searching for PIC ...");
    Purge();
    const int64_t probes = int64_t{SearchSeconds} * 1000 / WaitMs;
    const int32_t n = static_cast<int32_t>(std::clamp<int64_t>(probes, 0, INT32_MAX));
    if (n == 0) throw SearchEnded{};
    bool answered = false;
    // An answer may come in pieces over several probes.
    std::string pending;
    for (int32_t k = n; k >= 0 && !answered; --k) {
      Link->Send(std::string(1, static_cast<char>(IDCode)));
      ++ProbesSent;
      Report({TProbeEvent{k, n, WaitMs}});
      if (CancelRequested()) throw EVantleError("Abort");
      Link->Wait(WaitMs);
      TReceiveResult r = Link->ReceivePacket(0);
      checkLink(r);
      pending += r.Bytes;
      if (pending.size() < 2) continue;
      std::string s;
      s.swap(pending);
      if (s.size() > 2) {
        if (!ignoreUntilK) {
          Say(TLineRole::Step, " Unexpected chars found: " + DeviceBytes(s));
          throw SearchEnded{};
        }
        Say(TLineRole::Plain, " Ignoring some garbage: " + DeviceBytes(s.substr(0, s.size() - 2)),
            true);
        s = s.substr(s.size() - 2);
      }
      if (s[1] == kAck) {
        const auto code = static_cast<uint8_t>(s[0]);
        Say(TLineRole::Plain, Format("Rcv:type=%02Xh=\"", code) + Printable(s.substr(0, 1)) + "\" ",
            true);
        result = IdentifyPIC(code);
        answered = true;
      } else if (ignoreUntilK) {
        Say(TLineRole::Step,
            " \"*K\" not found, instead found:\"" + Printable(s) + "\". Keep trying...");
      } else {
        Say(TLineRole::Step, " \"*K\" not found, instead found:\"" + Printable(s) + "\". Abort.");
        throw SearchEnded{};
      }
    }
    if (!answered) Say(TLineRole::Continued, "Not found");
  } catch (const SearchEnded&) {
    result = false;
  } catch (const EVantleError&) {
    // Abort and an unknown type code end the search here; what the user
    // needs to know has been logged already.
    result = false;
  } catch (const std::exception& e) {
    // The probe could not go out: the link failed.
    Say(TLineRole::Step, e.what());
    result = false;
  }
  return result;
}

bool TVantleBootloader::IdentifyPIC(uint8_t code) {
  if (!LookupPic(code)) {
    Say(TLineRole::Continued, Format("unknown pic type: %02Xh", code));
    throw EVantleError("unsupported pic type");
  }
  if (!DerivePicGeometry(pic)) {
    Say(TLineRole::Problem, Format("The device table gives type %02Xh the unknown family %d: check "
                                   "its line in piccodes.ini",
                                   code, pic.Family));
  }
  Say(TLineRole::Plain,
      Format("pic.BytesPerInstrPC=%d  pic.BytesPerInstrPIC=%d  pic.AddrIncrementPIC=%d",
             pic.BytesPerInstrPC, pic.BytesPerInstrPIC, pic.AddrIncrementPIC),
      true);
  Say(TLineRole::Plain,
      Format("StartBldZone=%X  SizeOfBLDBytesPC=%d", pic.StartBldZone, pic.SizeOfBLDBytesPC), true);
  ResizeFlashImage(pic.FlashSize);
  PICType = code;
  Report({TFoundEvent{code, pic.Name, pic.Family}});
  VANTLE_ASSERT(
      pic.FlashSize % 2 == 0 && pic.SizeOfBLDBytesPC % 2 == 0 && pic.StartBldZone % 2 == 0,
      "Identified PIC has odd sizes");
  return true;
}

}  // namespace vantlebld
