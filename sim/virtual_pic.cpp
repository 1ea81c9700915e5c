#include "sim/virtual_pic.h"

#include <algorithm>

#include "engine/format.h"
#include "sim/block_format.h"
#include "sim/boot_path.h"

namespace vantlebld {

namespace {

constexpr char kAck = 'K';
constexpr char kNak = 'N';
constexpr const char* kRubbish = "AXY";
// The host sends a block in one write, so its bytes follow each other
// closely. A 00h after a longer pause inside a block is the host catching
// up with bytes the firmware missed.
constexpr int64_t kCatchUpPauseMs = 20;

}  // namespace

TVirtualPic::TVirtualPic(uint8_t typeCode, const TPICInfo& pic, const TSimOptions& options)
    : typeCode_(typeCode),
      pic_(pic),
      options_(options),
      memory_(pic),
      programRunning_(options.RunProgramAtStart),
      programRuns_(options.RunProgramAtStart ? 1 : 0) {}

std::vector<TSimAnswer> TVirtualPic::Receive(uint8_t byte, int64_t nowMs) {
  if (hungUp_) return {};
  Advance(nowMs);
  if (programRunning_) {
    ++stats_.ProgramBytes;
    const std::string& codes = options_.ResetCodes;
    if (!codes.empty()) {
      programTail_ += static_cast<char>(byte);
      if (programTail_.size() > codes.size()) programTail_.erase(0, 1);
      if (programTail_ == codes) {
        RestartBootloader(nowMs);
        return {};
      }
    }
    return {{std::string(1, static_cast<char>(byte)), 0, false}};
  }
  std::vector<TSimAnswer> out = Bootload(byte, nowMs);
  quietFromMs_ = nowMs;
  for (const TSimAnswer& a : out)
    quietFromMs_ = std::max(quietFromMs_, nowMs + a.DelayMs);
  return out;
}

int64_t TVirtualPic::ProgramStartMs() const {
  if (!options_.RunAfterWrite || programRunning_ || hungUp_ ||
      stats_.BlocksReceived == blocksAtRestart_ || lineBytes_ > 0)
    return -1;
  return quietFromMs_ + kRunAfterIdleMs;
}

void TVirtualPic::Advance(int64_t nowMs) {
  const int64_t start = ProgramStartMs();
  if (start >= 0 && nowMs >= start) StartProgram();
}

void TVirtualPic::StartProgram() {
  // The jump to the program goes the way a reset would: the boot path as
  // the flash stands now says whether the program is reached.
  programRunning_ = true;
  ++programRuns_;
  const int32_t blocks = stats_.BlocksAccepted - blocksAtLastStart_;
  blocksAtLastStart_ = stats_.BlocksAccepted;
  const TBootPath boot = JudgeBootPath(pic_, memory_.Flash());
  stats_.ProgramStarts.push_back(Format("program start %d after %d blocks: %s",
                                        static_cast<int>(stats_.ProgramStarts.size() + 1), blocks,
                                        boot.Line.c_str()));
}

void TVirtualPic::RestartBootloader(int64_t nowMs) {
  // The memories stay; the bootloader listens again from the start.
  ++stats_.RemoteResets;
  blocksAtRestart_ = stats_.BlocksReceived;
  programRunning_ = false;
  identified_ = false;
  programTail_.clear();
  block_.clear();
  lineBytes_ = 0;
  blockLength_ = 0;
  catchingUp_ = false;
  quietFromMs_ = nowMs;
}

void TVirtualPic::HostClosed() {
  if (options_.RunAfterWrite && identified_ && !hungUp_ && !programRunning_) StartProgram();
}

std::vector<TSimAnswer> TVirtualPic::Bootload(uint8_t byte, int64_t nowMs) {
  std::vector<TSimAnswer> out;
  if (options_.Faults.Echo) out.push_back({std::string(1, static_cast<char>(byte)), 0, false});
  if (!identified_) {
    if (nowMs < options_.ListenAfterMs) {
      ++stats_.BytesBeforeListening;
      return out;
    }
    ++stats_.ActivationBytes;
    if (byte == options_.ActivationByte && !options_.Faults.NoAnswer) {
      identified_ = true;
      std::string answer = options_.Faults.GarbageBeforeId;
      answer += static_cast<char>(typeCode_);
      answer += kAck;
      out.push_back({answer, options_.Faults.AnswerDelayMs, false});
    }
    return out;
  }
  TakeBlockByte(byte, nowMs, out);
  return out;
}

void TVirtualPic::TakeBlockByte(uint8_t byte, int64_t nowMs, std::vector<TSimAnswer>& out) {
  const TSimFaults& f = options_.Faults;
  if (lineBytes_ > 0 && byte == 0x00 && nowMs - lastByteMs_ > kCatchUpPauseMs) catchingUp_ = true;
  lastByteMs_ = nowMs;
  const size_t index = lineBytes_++;
  if (blockLength_ != 0 && f.DropBytes > 0 && f.DropBlock == stats_.BlocksReceived + 1) {
    // The header always gets through, so the firmware knows how many bytes
    // it still waits for.
    const size_t header = BlockHeaderLength(pic_.Family);
    const size_t lost = std::min(static_cast<size_t>(f.DropBytes), blockLength_ - header);
    if (index >= blockLength_ - lost && index < blockLength_) return;
  }
  if (catchingUp_ && byte == 0x00) ++stats_.FillerBytes;
  block_.push_back(byte);
  if (block_.size() == BlockHeaderLength(pic_.Family)) {
    blockLength_ = BlockLength(pic_.Family, block_);
  }
  if (blockLength_ != 0 && block_.size() == blockLength_) CompleteBlock(out);
}

void TVirtualPic::CompleteBlock(std::vector<TSimAnswer>& out) {
  const TSimFaults& f = options_.Faults;
  const int number = ++stats_.BlocksReceived;
  uint8_t sum = 0;
  for (uint8_t b : block_)
    sum = static_cast<uint8_t>(sum + b);
  const bool nak = sum != 0 || (number >= f.NakFrom && number < f.NakFrom + f.NakFirst);
  if (!nak) {
    ++stats_.BlocksAccepted;
    const TBlockAction action = DecodeBlock(pic_, block_);
    std::vector<std::string> errors = memory_.Apply(action);
    if (action.Kind == TBlockAction::TKind::FlashWrite ||
        action.Kind == TBlockAction::TKind::FlashErase)
      ++stats_.FlashBlocks;
    if (!action.HostError.empty()) errors.insert(errors.begin(), action.HostError);
    for (const auto& e : errors)
      stats_.HostErrors.push_back(Format("%s (block %d)", e.c_str(), number));
  }
  block_.clear();
  lineBytes_ = 0;
  blockLength_ = 0;
  catchingUp_ = false;

  const int32_t delay = f.AnswerDelayMs + (nak ? 0 : options_.WriteMs);
  if (f.HangupAt == number) {
    hungUp_ = true;
    out.push_back({"", 0, true});
  } else if (f.SilentFrom > 0 && number >= f.SilentFrom) {
    // Taken, never answered.
  } else if (f.RubbishAt == number) {
    out.push_back({kRubbish, delay, false});
  } else if (nak) {
    ++stats_.NAnswers;
    out.push_back({std::string(1, kNak), delay, false});
  } else {
    out.push_back({std::string(1, kAck), delay, false});
  }
}

}  // namespace vantlebld
