// The block exchange: one block out, one answer byte back.
//
// Wire: the host purges its input, sends the block in one write and waits
// WaitMs + 150 ms for one byte. 'K' ends the exchange, 'N' (bad checksum)
// repeats the block, three sends at most. Silence means the firmware missed
// bytes and still waits for the end of the block: the host feeds it single
// 00h bytes until it answers (normally 'N' for the garbled block), then
// sends the block again. Any other answer ends the exchange in failure.
#include <algorithm>
#include <chrono>

#include "engine/format.h"
#include "engine/job_events.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr uint8_t kAck = 'K';
constexpr uint8_t kNak = 'N';
constexpr int kAttempts = 3;
// The firmware writes the block before it answers.
constexpr int32_t kWriteAllowanceMs = 150;
constexpr int kCatchUpBytes = 10;
constexpr char kFiller = 0x00;
constexpr int32_t kRubbishCollectMs = 10;
// Gives the firmware a moment between blocks.
constexpr int32_t kBlockPauseMs = 5;

using TClock = std::chrono::steady_clock;
using TAnswer = TBlockAnswerEvent::TAnswer;

}  // namespace

std::string TVantleBootloader::WithChecksum(std::string block) {
  uint8_t sum = 0;
  for (char c : block)
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  block += static_cast<char>(static_cast<uint8_t>(0x100 - sum));
  return block;
}

bool TVantleBootloader::SendBlock(const std::string& block) {
  Say(TLineRole::Step, "Hex: " + HexDump(block) + "   Str:" + Printable(block), true);
  if (!Link->Capabilities().Answers) {
    // Sent once, unanswered; the link report counts it all the same.
    Link->Send(block);
    ++LinkStats.BlocksSent;
    LinkStats.BytesSent += static_cast<int64_t>(block.size());
    return false;
  }

  // A port that went away (adapter pulled) is not a slow firmware: stop
  // waiting and say why.
  // What the firmware did instead of taking the block, for the error.
  std::string cause;
  int naks = 0, silent = 0;
  const auto linkBroken = [this, &cause](const TReceiveResult& r) {
    if (!r.Broken()) return false;
    Say(TLineRole::Problem, r.Reason);
    cause = "the port failed: " + r.Reason;
    return true;
  };
  const auto send = [this, &cause](const std::string& bytes) {
    try {
      Link->Send(bytes);
      return true;
    } catch (const std::exception& e) {
      Say(TLineRole::Problem, e.what());
      cause = std::string("the port failed: ") + e.what();
      return false;
    }
  };
  Purge();
  bool ok = false;
  bool broken = false;
  for (int attempt = 1; attempt <= kAttempts && !ok && !broken; ++attempt) {
    Purge();
    if ((broken = !send(block))) break;
    const auto sent = static_cast<int32_t>(block.size());
    ++LinkStats.BlocksSent;
    LinkStats.BytesSent += sent;
    Say(TLineRole::Problem, Format("Sent count: %d", sent & 0xFF), true);
    Say(TLineRole::Problem, Format("wait for a byte max %d ms", WaitMs + kWriteAllowanceMs), true);
    const auto t0 = TClock::now();
    const TReceiveResult answer = Link->ReceiveByte(WaitMs + kWriteAllowanceMs);
    if ((broken = linkBroken(answer))) break;
    if (answer.Status == TLinkStatus::Ok) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - t0).count();
      LinkStats.SlowestAnswerMs = std::max(LinkStats.SlowestAnswerMs, static_cast<int32_t>(ms));
      const auto a = static_cast<uint8_t>(answer.Bytes[0]);
      const auto said = [&](TAnswer kind, std::string bytes = {}) {
        Report({TBlockAnswerEvent{kind, attempt, static_cast<int32_t>(ms), std::move(bytes), 0}});
      };
      if (a == kAck) {
        said(TAnswer::K);
        ok = true;
      } else if (a == kNak) {
        ++LinkStats.NAnswers;
        ++naks;
        said(TAnswer::N);
      } else {
        ++LinkStats.Rubbish;
        const std::string rubbish = answer.Bytes + Link->ReceivePacket(kRubbishCollectMs).Bytes;
        cause = Format(
            "the PIC answered %s instead of K: another program runs on the line, or the "
            "baud rate is wrong",
            HexDump(rubbish.substr(0, 8)).c_str());
        said(TAnswer::Rubbish, rubbish);
        break;
      }
      continue;
    }
    Report({TBlockAnswerEvent{TAnswer::TimeOut, attempt, WaitMs + kWriteAllowanceMs, {}, 0}});
    ++LinkStats.CatchUps;
    ++silent;
    for (int fed = 1; fed <= kCatchUpBytes; ++fed) {
      if ((broken = !send(std::string(1, kFiller)))) break;
      const TReceiveResult c = Link->ReceiveByte(WaitMs);
      if ((broken = linkBroken(c))) break;
      if (c.Status != TLinkStatus::Ok) continue;
      const bool nak = static_cast<uint8_t>(c.Bytes[0]) == kNak;
      Report({TBlockAnswerEvent{nak ? TAnswer::CaughtUp : TAnswer::Other, attempt, 0,
                                nak ? std::string() : c.Bytes, fed}});
      break;
    }
  }
  Link->Wait(kBlockPauseMs);
  if (!ok) {
    if (cause.empty()) {
      cause = Format(
          "%d N answers and %d time-outs in %d sends: the line is noisy or the baud "
          "rate is wrong (try a lower baud rate)",
          naks, silent, kAttempts);
    }
    throw EVantleError("Could not write", EVantleError::Kind::SerialLink, cause);
  }
  return true;
}

}  // namespace vantlebld
