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
#include <thread>

#include "engine/format.h"
#include "engine/vantlebld_comm.h"

namespace vantlebld {

namespace {

constexpr uint8_t kAck = 'K';
constexpr uint8_t kNak = 'N';
constexpr char kUdpBlockPrefix = ' ';
constexpr int kAttempts = 3;
// The firmware writes the block before it answers.
constexpr int32_t kWriteAllowanceMs = 150;
constexpr int kCatchUpBytes = 10;
constexpr uint8_t kFiller = 0x00;
constexpr int32_t kRubbishCollectMs = 10;
// Gives the firmware a moment between blocks.
constexpr auto kBlockPause = std::chrono::milliseconds(5);

using TClock = std::chrono::steady_clock;
// A sleep ends late by the system's timer slack (50 us and more); the
// pause comes with every block, so its last stretch is waited out on the
// clock instead.
constexpr auto kPauseSpin = std::chrono::microseconds(250);

void PauseBetweenBlocks() {
  const auto until = TClock::now() + kBlockPause;
  std::this_thread::sleep_until(until - kPauseSpin);
  while (TClock::now() < until)
    std::this_thread::yield();
}

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
  if (OperatingMode == kModeUdp) {
    UDPSend(kUdpBlockPrefix, block);
    return false;
  }
  if (OperatingMode != kModeSerial) return false;

  Port->RaiseErrors = false;
  // A port that went away (adapter pulled) is not a slow firmware: stop
  // waiting and say why.
  const auto linkBroken = [this] {
    const int code = Port->LastError();
    if (code == 0 || code == SerialPort::kErrTimeout) return false;
    Log(LogIndent6, Format("Communication error %d: ", code) + Port->LastErrorDesc());
    return true;
  };
  Purge();
  bool ok = false;
  bool broken = linkBroken();
  for (int attempt = 1; attempt <= kAttempts && !ok && !broken; ++attempt) {
    Purge();
    const int32_t sent = Port->SendBuffer(block);
    ++LinkStats.BlocksSent;
    LinkStats.BytesSent += sent;
    if ((broken = linkBroken())) break;
    Log(LogIndent6 | LogDetail, Format("Sent count: %d", sent & 0xFF));
    Log(LogIndent6 | LogDetail, Format("wait for a byte max %d ms", WaitMs + kWriteAllowanceMs));
    const auto t0 = TClock::now();
    const uint8_t answer = Port->ReceiveByte(WaitMs + kWriteAllowanceMs);
    if ((broken = linkBroken())) break;
    if (Port->LastError() == 0) {
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - t0).count();
      LinkStats.SlowestAnswerMs = std::max(LinkStats.SlowestAnswerMs, static_cast<int32_t>(ms));
      if (answer == kAck) {
        Log(LogIndent3 | LogDetail, "Received \"K\": Ok");
        ok = true;
      } else if (answer == kNak) {
        ++LinkStats.NAnswers;
        Log(LogIndent3 | LogDetail, "Received \"N\": crc fail");
      } else {
        ++LinkStats.Rubbish;
        const std::string rubbish =
            static_cast<char>(answer) + Port->ReceivePacket(kRubbishCollectMs);
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
      Port->SendByte(kFiller);
      const uint8_t c = Port->ReceiveByte(WaitMs);
      if ((broken = linkBroken())) break;
      if (Port->LastError() != 0) continue;
      if (c == kNak) {
        Log(LogIndent3 | LogDetail, Format("caught up after %d bytes", fed));
      } else {
        Log(LogIndent3 | LogDetail, Format("after %d bytes, i got something: %.2Xh", fed, c));
      }
      break;
    }
  }
  PauseBetweenBlocks();
  // Back on in both cases: the next job's first port error must be raised.
  Port->RaiseErrors = true;
  if (!ok) {
    Log(LogIndent6, "Could not write");
    throw EVantleError("Could not write", EVantleError::Kind::SerialLink);
  }
  return true;
}

}  // namespace vantlebld
