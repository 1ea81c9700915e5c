#include "engine/job_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "engine/format.h"
#include "engine/user_text.h"

namespace vantlebld {

namespace {

using TAnswer = TBlockAnswerEvent::TAnswer;

std::string Optional(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : "null";
}

const char* PreflightName(TBoardReport::TPreflight p) {
  switch (p) {
    case TBoardReport::TPreflight::Ok:
      return "\"ok\"";
    case TBoardReport::TPreflight::Refused:
      return "\"refused\"";
    case TBoardReport::TPreflight::NotChecked:
      break;
  }
  return "null";
}

const char* ResultName(TBoardReport::TResult r) {
  switch (r) {
    case TBoardReport::TResult::Ok:
      return "ok";
    case TBoardReport::TResult::Refused:
      return "refused";
    case TBoardReport::TResult::Stopped:
      return "stopped";
    case TBoardReport::TResult::Failed:
      break;
  }
  return "failed";
}

std::string BoardJson(const TBoardReport& b) {
  const bool refused = b.Preflight == TBoardReport::TPreflight::Refused;
  const std::vector<std::pair<const char*, std::string>> fields = {
      {"port", JsonString(b.Port)},
      {"pic_code", b.PicCode ? std::to_string(*b.PicCode) : "null"},
      {"pic_name", Optional(b.PicName)},
      {"hex_file", Optional(b.HexFile)},
      {"hex_sha256", Optional(b.HexSha256)},
      {"preflight", PreflightName(b.Preflight)},
      {"preflight_reason", refused ? JsonString(b.PreflightReason) : "null"},
      {"blocks", std::to_string(b.Blocks)},
      {"bytes", std::to_string(b.Bytes)},
      {"n_answers", std::to_string(b.NAnswers)},
      {"catch_ups", std::to_string(b.CatchUps)},
      {"ms", std::to_string(b.Ms)},
      {"result", JsonString(ResultName(b.Result))},
      {"message", Optional(b.Message)},
  };
  std::string text = "    {\n";
  for (size_t i = 0; i < fields.size(); ++i) {
    text += std::string("      \"") + fields[i].first + "\": " + fields[i].second +
            (i + 1 < fields.size() ? ",\n" : "\n");
  }
  return text + "    }";
}

}  // namespace

TBoardRecorder::TBoardRecorder(std::string port, std::optional<std::string> hexFile,
                               std::optional<std::string> hexSha256)
    : start_(std::chrono::steady_clock::now()) {
  report_.Port = std::move(port);
  report_.HexFile = std::move(hexFile);
  report_.HexSha256 = std::move(hexSha256);
}

void TBoardRecorder::Follow(const TJobEvent& event) {
  TBoardReport& r = report_;
  if (const auto* found = std::get_if<TFoundEvent>(&event.Value)) {
    r.PicCode = found->Code;
    r.PicName = found->Model;
  } else if (const auto* sent = std::get_if<TBlockSentEvent>(&event.Value)) {
    // Blocks go out only after the plan passed its proof.
    r.Preflight = TBoardReport::TPreflight::Ok;
    lineBytes_ = sent->Bytes;
  } else if (const auto* answer = std::get_if<TBlockAnswerEvent>(&event.Value)) {
    // Each send of a block has one first answer: K, N, rubbish or a
    // time-out; a catch-up's answer follows its time-out.
    if (answer->Answer == TAnswer::CaughtUp || answer->Answer == TAnswer::Other) return;
    ++r.Blocks;
    r.Bytes += lineBytes_;
    if (answer->Answer == TAnswer::N) ++r.NAnswers;
    if (answer->Answer == TAnswer::TimeOut) ++r.CatchUps;
  } else if (const auto* refused = std::get_if<TRefusedEvent>(&event.Value)) {
    r.Preflight = TBoardReport::TPreflight::Refused;
    r.PreflightReason = refused->Reason;
  } else if (const auto* done = std::get_if<TDoneEvent>(&event.Value)) {
    r.Preflight = TBoardReport::TPreflight::Ok;
    TakeLinkStats(done->Stats);
  } else if (const auto* failed = std::get_if<TFailedEvent>(&event.Value)) {
    if (failure_) return;  // the job's own failure comes first
    failure_ = failed->Message + (failed->Hint.empty() ? "" : "\n" + failed->Hint);
    stoppedEvent_ = failed->Kind == EVantleError::Kind::Stopped;
  }
}

void TBoardRecorder::TakeLinkStats(const TVantleBootloader::TLinkStats& stats) {
  report_.Blocks = stats.BlocksSent;
  report_.Bytes = stats.BytesSent;
  report_.NAnswers = stats.NAnswers;
  report_.CatchUps = stats.CatchUps;
}

TBoardReport TBoardRecorder::Finish(bool ok, bool stopRequested, const std::string& error) {
  using TResult = TBoardReport::TResult;
  report_.Ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
                   .count();
  if (ok) {
    report_.Result = TResult::Ok;
    report_.Message.reset();
    return report_;
  }
  report_.Result = report_.Preflight == TBoardReport::TPreflight::Refused ? TResult::Refused
                   : stoppedEvent_ || stopRequested                       ? TResult::Stopped
                                                                          : TResult::Failed;
  if (failure_) {
    report_.Message = failure_;
  } else if (!error.empty()) {
    report_.Message = error;
  }
  return report_;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    const size_t length = Utf8Length(text, at);
    if (length == 0) {
      out += "\\ufffd";
      ++at;
      continue;
    }
    if (length > 1) {
      out.append(text, at, length);
    } else if (c == '"' || c == '\\') {
      out += std::string("\\") + c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) {
      static constexpr char kDigits[] = "0123456789abcdef";
      out += std::string("\\u00") + kDigits[(c >> 4) & 0xF] + kDigits[c & 0xF];
    } else {
      out += c;
    }
    at += length;
  }
  return out + "\"";
}

std::string ReportJson(const std::string& tool, const std::string& job,
                       const std::vector<TBoardReport>& boards) {
  std::string text = "{\n  \"version\": " + std::to_string(kReportVersion) +
                     ",\n  \"tool\": " + JsonString(tool) + ",\n  \"job\": " + JsonString(job) +
                     ",\n  \"boards\": [";
  for (size_t i = 0; i < boards.size(); ++i)
    text += (i == 0 ? "\n" : ",\n") + BoardJson(boards[i]);
  return text + (boards.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

void WriteFileAtomically(const std::string& path, const std::string& text) {
  const auto fail = [&path](const std::string& reason) {
    throw EVantleError("cannot write the report " + path + ": " + reason,
                       EVantleError::Kind::FileIO);
  };
  // A name of its own beside the file, so the rename stays in one folder;
  // "x" never takes over a file that is there.
  std::random_device random;
  std::string temp;
  std::FILE* file = nullptr;
  for (int attempt = 0; attempt < 8 && file == nullptr; ++attempt) {
    temp = path + Format(".%08x.tmp", static_cast<unsigned>(random()));
    file = std::fopen(temp.c_str(), "wbx");
    if (file == nullptr && errno != EEXIST) break;
  }
  if (file == nullptr) fail(std::strerror(errno));
  const bool written =
      std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    const int error = written ? errno : writeError;
    std::remove(temp.c_str());
    fail(std::strerror(error));
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::remove(temp.c_str());
    fail(ec.message());
  }
}

}  // namespace vantlebld
