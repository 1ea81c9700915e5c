// The terminal page under a full stream: a virtual PIC's program sends
// 100000 bytes per second on a line paced at 1 Mbaud into the window's
// terminal (10000-byte receive buffer). For each receive view the UI
// thread's time per 100 ms poll is measured: the poll itself plus the
// repaint it causes. Goal: under 5 ms per poll in every view, and the dump
// file holds every byte the terminal was sent, in order.
//
// Runs offscreen unless a display platform is named.
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/main_window.h"
#include "engine/vantlebld_comm.h"
#include "sim/pty_server.h"
#include "sim/user_program.h"
#include "sim/virtual_pic.h"
#include "terminal/term_view.h"
#include "ui_main_window.h"

namespace {

using namespace vantlebld;
using TClock = std::chrono::steady_clock;

constexpr int32_t kStreamRate = 100000;  // bytes per second: 1 Mbaud, 10 bits a byte
constexpr int32_t kLineBaud = 1000000;
constexpr int kPollMs = 100;
constexpr int kWarmUpPolls = 5;
constexpr int kMeasuredPolls = 30;
constexpr uint8_t k18F252 = 0x41;

// Lets the window run (the serial port's reads, posted repaints) until the
// next poll is due.
void RunUntil(const QElapsedTimer& clock, qint64 dueMs) {
  while (clock.elapsed() < dueMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    QThread::usleep(500);
  }
}

// Where the dump starts in the stream: the stream is numbered lines of
// fixed length, so the first whole line's number gives the offset.
bool StreamOffsetOf(const std::string& dump, uint64_t& offset) {
  const size_t firstLine = dump.find("\r\n");
  if (firstLine == std::string::npos || dump.size() < firstLine + 2 + kStreamNumberDigits)
    return false;
  const uint64_t number = std::stoull(dump.substr(firstLine + 2, kStreamNumberDigits));
  const uint64_t lineStart = number * kStreamLineLength;
  if (lineStart < firstLine + 2) return false;
  offset = lineStart - (firstLine + 2);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setApplicationName("VantleBld");
  QTemporaryDir dir;

  if (!ReadPicCodes(VANTLEBLD_SOURCE_DIR "/data/piccodes.ini", {})) {
    std::fprintf(stderr, "no device table\n");
    return 1;
  }
  TPICInfo info = PicTable()[k18F252];
  DerivePicGeometry(info);
  TSimOptions options;
  options.RunProgramAtStart = true;
  options.StreamRate = kStreamRate;
  TVirtualPic pic(k18F252, info, options);
  TPtyServer server(pic, kLineBaud);
  const QString path = QString::fromStdString(server.Open());

  std::vector<double> perView[kReceiveViewCount];
  size_t dumped = 0;
  std::string dump;
  double seconds = 0;
  {
    TForm1 form({});
    form.resize(1000, 700);
    form.show();
    form.TimerStartTimer();
    Ui::TForm1& ui = form.Controls();
    const QString dumpName = dir.filePath("dump.bin");
    ui.edTermDumpFilename->setText(dumpName);
    ui.PageControl1->setCurrentIndex(1);
    ui.comboPortName->setCurrentText(path);
    ui.cbTerminalBaud->setCurrentText(QString::number(kLineBaud));
    form.bTermOpenClick();
    server.Start();
    // The bench polls itself, on the same 100 ms beat, to time each poll.
    form.TerminalTimer().stop();

    bool received = false;
    QObject::connect(&form.Runner(), &TJobRunner::Received, [&received] { received = true; });
    QElapsedTimer clock;
    clock.start();
    qint64 due = 0;
    for (int view = 0; view < kReceiveViewCount; ++view) {
      ui.cbTermSelRcv->setCurrentIndex(view);
      for (int i = 0; i < kWarmUpPolls + kMeasuredPolls; ++i) {
        due += kPollMs;
        RunUntil(clock, due);
        const auto t0 = TClock::now();
        // The poll reads on the runner's thread; the window shows what came
        // when its Received arrives (the window's handler runs first).
        received = false;
        form.TimerTerminalTimer();
        QDeadlineTimer answered(kPollMs / 2);
        while (!received && !answered.hasExpired())
          QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (IsGraphView(TReceiveView(view)))
          ui.ImageGraph->repaint();
        else
          ui.TermWindow->viewport()->repaint();
        const auto t1 = TClock::now();
        if (i >= kWarmUpPolls)
          perView[view].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      }
    }
    seconds = double(clock.elapsed()) / 1000.0;
    form.bTermCloseClick();
    std::ifstream in(dumpName.toStdString(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    dump = s.str();
    dumped = dump.size();
  }
  server.Stop();

  bool ok = true;
  for (int view = 0; view < kReceiveViewCount; ++view) {
    std::vector<double>& t = perView[view];
    std::sort(t.begin(), t.end());
    double sum = 0;
    for (double v : t)
      sum += v;
    const double mean = sum / double(t.size());
    std::printf("terminal view %s: %.2f ms per poll (median %.2f, worst %.2f; goal 5)\n",
                kReceiveViewList[view], mean, t[t.size() / 2], t.back());
    ok = ok && mean < 5.0;
  }

  // Every byte of the stream between the dump's first and last byte must
  // be there, in order.
  uint64_t offset = 0;
  uint64_t lost = 0;
  if (!StreamOffsetOf(dump, offset)) {
    std::printf("terminal bytes lost: unknown (the dump holds no whole line)\n");
    return 1;
  }
  const std::string expected = StreamBytes(offset, dump.size());
  if (expected != dump) {
    // Count what is missing: the stream from the first mismatch to where
    // the dump's last whole line says it has got to.
    const size_t mismatch =
        size_t(std::mismatch(dump.begin(), dump.end(), expected.begin()).first - dump.begin());
    const size_t lastLine = dump.rfind("\r\n", dump.size() - 3);
    const uint64_t lastNumber = std::stoull(dump.substr(lastLine + 2, kStreamNumberDigits));
    const uint64_t end = lastNumber * kStreamLineLength + (dump.size() - lastLine - 2);
    lost = std::max<uint64_t>(1, end - offset - dump.size());
    std::printf("first difference at dump byte %zu\n", mismatch);
  }
  std::printf("terminal bytes received: %zu in %.1f s (%.0f bytes per second, stream %d)\n", dumped,
              seconds, double(dumped) / seconds, kStreamRate);
  std::printf("terminal bytes lost: %llu\n", static_cast<unsigned long long>(lost));
  return ok && lost == 0 ? 0 : 1;
}
