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

}  // namespace

std::string TVantleBootloader::WithChecksum(std::string block) {
  uint8_t sum = 0;
  for (char c : block)
    sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  block += static_cast<char>(static_cast<uint8_t>(0x100 - sum));
  return block;
}

bool TVantleBootloader::SendBlock(const std::string& block) {
  Log(LogIndent3 | LogDetail, "Hex: " + HexDump(block) + "   Str:" + block);
  if (OnBlock) OnBlock(*this, static_cast<int32_t>(block.size()));
  if (!Link->Capabilities().Answers) {
    Link->Send(block);
    return false;
  }

  // A port that went away (adapter pulled) is not a slow firmware: stop
  // waiting and say why.
  const auto linkBroken = [this](const TReceiveResult& r) {
    if (!r.Broken()) return false;
    Log(LogIndent6, r.Reason);
    return true;
  };
  const auto send = [this](const std::string& bytes) {
    try {
      Link->Send(bytes);
      return true;
    } catch (const std::exception& e) {
      Log(LogIndent6, e.what());
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
    Log(LogIndent6 | LogDetail, Format("Sent count: %d", sent & 0xFF));
    Log(LogIndent6 | LogDetail, Format("wait for a byte max %d ms", WaitMs + kWriteAllowanceMs));
    const auto t0 = TClock::now();
    const TReceiveResult answer = Link->ReceiveByte(WaitMs + kWriteAllowanceMs);
    if ((broken = linkBroken(answer))) break;
    if (answer.Status == TLinkStatus::Ok) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - t0).count();
      LinkStats.SlowestAnswerMs = std::max(LinkStats.SlowestAnswerMs, static_cast<int32_t>(ms));
      const auto a = static_cast<uint8_t>(answer.Bytes[0]);
      if (a == kAck) {
        Log(LogIndent3 | LogDetail, "Received \"K\": Ok");
        ok = true;
      } else if (a == kNak) {
        ++LinkStats.NAnswers;
        Log(LogIndent3 | LogDetail, "Received \"N\": crc fail");
      } else {
        ++LinkStats.Rubbish;
        const std::string rubbish = answer.Bytes + Link->ReceivePacket(kRubbishCollectMs).Bytes;
        Log(LogIndent3 | LogDetail,
            "Received rubbish, Hex: " + HexDump(rubbish) + "  Str: " + rubbish);
        break;
      }
      continue;
    }
    Log(LogIndent6 | LogDetail, "timeout");
    Log(LogIndent3 | LogDetail, Format("timeout %d, trying to catch up", attempt));
    ++LinkStats.CatchUps;
    for (int fed = 1; fed <= kCatchUpBytes; ++fed) {
      if ((broken = !send(std::string(1, kFiller)))) break;
      const TReceiveResult c = Link->ReceiveByte(WaitMs);
      if ((broken = linkBroken(c))) break;
      if (c.Status != TLinkStatus::Ok) continue;
      if (static_cast<uint8_t>(c.Bytes[0]) == kNak) {
        Log(LogIndent3 | LogDetail, Format("caught up after %d bytes", fed));
      } else {
        Log(LogIndent3 | LogDetail, Format("after %d bytes, i got something: %.2Xh", fed,
                                           static_cast<uint8_t>(c.Bytes[0])));
      }
      break;
    }
  }
  Link->Wait(kBlockPauseMs);
  if (!ok) {
    Log(LogIndent6, "Could not write");
    throw EVantleError("Could not write", EVantleError::Kind::SerialLink);
  }
  return true;
}

}  // namespace vantlebld
