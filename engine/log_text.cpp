#include "engine/log_text.h"

#include <type_traits>

#include "engine/format.h"

namespace vantlebld {

namespace {

constexpr char kIndentStep[] = "   ";
constexpr char kIndentProblem[] = "      ";
constexpr char kJoin[] = ", ";

template <class... F>
struct TOverload : F... {
  using F::operator()...;
};
template <class... F>
TOverload(F...) -> TOverload<F...>;

std::string RelocatedLine(const TRelocatedEvent& r) {
  if (Is16F(r.Family)) return Format("Prepare16FAfter - 0>+Goto %.4llx", (long long)r.Entry);
  if (Is18F(r.Family)) return Format("Prepare18FAfter - 0>Goto %.4llx", (long long)r.Entry);
  return Format("PrepareDSAfter - 0>Goto %llx", (long long)r.Entry);
}

std::string WriteOkLine(const TDoneEvent& d) {
  std::tm local{};
  localtime_r(&d.At, &local);
  // The whole time in seconds: a write longer than a minute shows all of it.
  return Format("%s  at %d:%02d,   time:%lld.%03lld sec", kWriteOk, local.tm_hour, local.tm_min,
                static_cast<long long>(d.Ms / 1000), static_cast<long long>(d.Ms % 1000));
}

}  // namespace

int32_t ProgressOf(const TJobEvent& event) {
  if (const auto* p = std::get_if<TProbeEvent>(&event.Value)) {
    return p->Total > 0 ? static_cast<int32_t>(int64_t{p->Left} * 100 / p->Total) : 0;
  }
  if (const auto* b = std::get_if<TBlockSentEvent>(&event.Value)) {
    if (b->FlashTotal <= 0) return -1;
    return static_cast<int32_t>((int64_t{b->FlashDone} * 200 + b->FlashTotal) /
                                (int64_t{b->FlashTotal} * 2));
  }
  if (std::holds_alternative<TDoneEvent>(event.Value)) return 100;
  return -1;
}

void TLogRenderer::Line(TLineRole role, bool verbose, const std::string& text) {
  TLine line;
  line.Shown = showDetails_ || !verbose;
  switch (role) {
    case TLineRole::Plain:
      break;
    case TLineRole::Step:
      line.Text = kIndentStep;
      break;
    case TLineRole::Problem:
      line.Text = kIndentProblem;
      break;
    case TLineRole::Reason:
      line.Text = std::string(kIndentStep) + kIndentProblem;
      break;
    case TLineRole::Continued:
      line.Text = last_ + kJoin;
      line.ReplacesLast = line.Shown;
      break;
  }
  line.Text += text;
  if (line.Shown) last_ = line.Text;
  if (sink_) sink_(line);
}

void TLogRenderer::Add(const TJobEvent& event) {
  using enum TLineRole;
  using TAnswer = TBlockAnswerEvent::TAnswer;
  std::visit(TOverload{
                 [&](const TDetailEvent& d) { Line(d.Role, d.Verbose, d.Text); },
                 [&](const TProbeEvent& p) { Line(Plain, true, Format("Wait %d ms", p.WaitMs)); },
                 [&](const TFoundEvent& f) { Line(Step, false, "Found:" + f.Model); },
                 [&](const THexSummaryEvent& h) {
                   Line(Step, false, "HEX: " + h.Age + " old, " + h.Summary + ". ");
                 },
                 [&](const TRelocationWarningEvent& w) {
                   if (w.Note.Kind == TRelocationNote::TKind::MadeAbsolute) {
                     Line(Plain, true, "  " + w.Note.Text);
                   } else {
                     Line(Problem, false, w.Plain ? w.Note.Text : "WARNING: " + w.Note.Text);
                   }
                 },
                 [&](const TRelocatedEvent& r) { Line(Plain, true, RelocatedLine(r)); },
                 [&](const TBlockSentEvent& b) {
                   if (!b.Line.empty()) Line(b.Role, b.Verbose, b.Line);
                 },
                 [&](const TBlockAnswerEvent& a) {
                   switch (a.Answer) {
                     case TAnswer::K:
                       Line(Step, true, "Received \"K\": Ok");
                       break;
                     case TAnswer::N:
                       Line(Step, true, "Received \"N\": crc fail");
                       break;
                     case TAnswer::Rubbish:
                       Line(Step, true, "Received rubbish, " + DeviceBytes(a.Bytes));
                       break;
                     case TAnswer::TimeOut:
                       Line(Problem, true, "timeout");
                       Line(Step, true, Format("timeout %d, trying to catch up", a.Attempt));
                       break;
                     case TAnswer::CaughtUp:
                       Line(Step, true, Format("caught up after %d bytes", a.Fed));
                       break;
                     case TAnswer::Other:
                       Line(Step, true,
                            Format("after %d bytes, i got something: %.2Xh", a.Fed,
                                   a.Bytes.empty() ? 0 : static_cast<uint8_t>(a.Bytes[0])));
                       break;
                   }
                 },
                 [&](const TRefusedEvent&) {
                   // The reason reaches the person under the job's ERROR! line.
                 },
                 [&](const TDoneEvent& d) { Line(Step, false, WriteOkLine(d)); },
                 [&](const TFailedEvent& f) {
                   Line(Problem, false, "ERROR!");
                   Line(Reason, false, f.Message);
                   if (!f.Hint.empty()) Line(Reason, false, f.Hint);
                 },
             },
             event.Value);
}

TLinePrinter::TLinePrinter(TPrint print, bool showDetails)
    : print_(std::move(print)),
      renderer_(
          [this](const TLogRenderer::TLine& line) {
            if (!line.Shown) return;
            if (!line.ReplacesLast) Flush();
            held_ = line.Text;
            pending_ = true;
          },
          showDetails) {}

void TLinePrinter::Flush() {
  if (pending_ && print_) print_(held_);
  pending_ = false;
}

}  // namespace vantlebld
