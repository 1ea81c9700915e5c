// vantlebld-screenshots: shows the window, searches for a PIC that does not
// answer until Abort Search is clicked, writes an example into a
// virtual PIC on a pseudo-terminal whose program then streams text lines,
// lets the terminal take the link over, and saves a picture of the
// terminal in each receive view and of every page, at the window's usual
// size, at its minimum size and maximised. Run under a real X server (./dev.sh
// screenshots uses Xvfb).
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <cstdio>

#include "app/application.h"
#include "app/main_window.h"
#include "app/map_window.h"
#include "app/settings.h"
#include "sim/pty_server.h"
#include "sim/virtual_pic.h"
#include "ui_main_window.h"
#include "vantlebld_version.h"

namespace {

constexpr uint8_t kPic18F252 = 0x41;
constexpr int32_t kStreamRate = 2000;  // bytes per second from the program on the PIC
const char* const kPageNames[] = {"messages", "terminal", "options", "termopt", "tools"};
const char* const kViewNames[] = {"char", "hex", "nr", "gra1", "gra2"};

void Settle() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents();
}

// Lets the window run (the terminal polls meanwhile).
void RunFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

// Lets the window run until its job has ended.
void WaitForJob(const vantlebld::TForm1& form) {
  QElapsedTimer clock;
  clock.start();
  while (form.JobRunning() && clock.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vantlebld;
  if (argc < 3) {
    std::fprintf(stderr, "usage: vantlebld-screenshots OUTDIR EXAMPLE.hex\n");
    return 1;
  }
  TApplication app(argc, argv);
  QApplication::setApplicationName("VantleBld");
  QApplication::setApplicationVersion(VANTLEBLD_VERSION);  // the banner names it, as in the program
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(outDir);

  TForm1 form({});
  TPICInfo info = PicTable()[kPic18F252];
  DerivePicGeometry(info);
  TSimOptions options;
  options.RunAfterWrite = true;
  options.StreamRate = kStreamRate;
  TVirtualPic pic(kPic18F252, info, options);
  TPtyServer server(pic);
  const std::string pty = server.Open();
  server.Start();

  form.resize(kDesignWidth, kDesignHeight);  // whatever the last run stored
  form.show();
  form.TimerStartTimer();
  Ui::TForm1& ui = form.Controls();
  int saved = 0;

  // A search for a PIC that never answers: the status bar while it
  // searches, then what the window says once Abort Search is clicked.
  {
    TSimOptions deaf;
    deaf.Faults.NoAnswer = true;
    TVirtualPic silent(kPic18F252, info, deaf);
    TPtyServer silentServer(silent);
    ui.comboPortName->setCurrentText(QString::fromStdString(silentServer.Open()));
    silentServer.Start();
    ui.bJustCheckPIC->click();
    RunFor(1200);
    if (form.grab().save(outDir + "/searching.png")) ++saved;
    ui.bAbortSearch->click();
    WaitForJob(form);
    Settle();
    if (form.grab().save(outDir + "/not_found.png")) ++saved;
    silentServer.Stop();
  }
  ui.edHexName->setCurrentText(QString::fromLocal8Bit(argv[2]));
  ui.comboPortName->setCurrentText(QString::fromStdString(pty));
  ui.cbSwitchToTerminal->setChecked(true);
  ui.edTermDumpFilename->setText(outDir + "/dump.bin");
  ui.seXAxisCompress->setValue(1);
  form.bWriteFlashClick();
  WaitForJob(form);
  RunFor(2000);  // the program starts and its lines arrive

  for (int view = 0; view < 5; ++view) {
    ui.cbTermSelRcv->setCurrentIndex(view);
    RunFor(300);
    if (form.grab().save(QString("%1/terminal_%2.png").arg(outDir, kViewNames[view]))) ++saved;
  }
  ui.cbTermSelRcv->setCurrentIndex(0);
  form.StopTerminal(true);
  server.Stop();
  Settle();

  ui.edQBaud->setText("9600");  // the calculator shows a result once an input changes
  // The console's help on the message page, as a user sees it after typing
  // "help" and Enter.
  ui.PageControl1->setCurrentIndex(0);
  form.Memo1KeyPress("help");
  Settle();
  if (form.grab().save(outDir + "/messages_help.png")) ++saved;
  // The usual size, the minimum, and the whole screen (as maximised; a
  // virtual X server has no window manager to maximise it).
  const QSize sizes[] = {form.size(), form.minimumSize(),
                         QApplication::primaryScreen()->availableGeometry().size()};
  const char* const suffixes[] = {"", "_min", "_max"};
  for (int size = 0; size < 3; ++size) {
    form.resize(sizes[size]);
    for (int page = 0; page < ui.PageControl1->count(); ++page) {
      ui.PageControl1->setCurrentIndex(page);
      Settle();
      const QString name = QString("%1/%2%3.png").arg(outDir, kPageNames[page], suffixes[size]);
      if (form.grab().save(name)) ++saved;
    }
  }
  // A PIC18 file for a PIC16F876A: the question the window asks, taken of
  // the whole screen while it shows, then answered with its default (No).
  form.resize(kDesignWidth, kDesignHeight);
  ui.cbOperatingMode->setCurrentIndex(1);
  ui.cbOfflineCode->setCurrentText("$31");
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    answer.stop();
    Settle();
    if (QApplication::primaryScreen()->grabWindow(0).save(outDir + "/foreign_hex_question.png"))
      ++saved;
    box->button(QMessageBox::No)->click();
  });
  answer.start(50);
  form.bWriteFlashClick();
  WaitForJob(form);
  // The map of the file on the PIC a check found, a click on Map.
  ui.cbOfflineCode->setCurrentText("$41");
  form.bJustCheckPICClick();
  WaitForJob(form);
  ui.bMap->click();
  Settle();
  if (auto* map = form.findChild<vantlebld::TMapWindow*>();
      map != nullptr && map->grab().save(outDir + "/map.png"))
    ++saved;
  std::printf("%d screenshots in %s\n", saved, argv[1]);
  return saved == 2 + 3 * ui.PageControl1->count() + 1 + 5 + 1 + 1 ? 0 : 1;
}
