// vantlebld-screenshots: shows the window, writes an example into a
// virtual PIC on a pseudo-terminal, and saves a picture of every page,
// at the window's usual size and at its minimum size. Run under a real X
// server (./dev.sh screenshots uses Xvfb).
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "app/application.h"
#include "app/main_window.h"
#include "app/settings.h"
#include "sim/pty_server.h"
#include "sim/virtual_pic.h"
#include "ui_main_window.h"

namespace {

constexpr uint8_t kPic18F252 = 0x41;
const char* const kPageNames[] = {"messages", "terminal", "options", "termopt", "tools"};

void Settle() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents();
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
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(outDir);

  TForm1 form({});
  TPICInfo info = PicTable()[kPic18F252];
  DerivePicGeometry(info);
  TVirtualPic pic(kPic18F252, info);
  TPtyServer server(pic);
  const std::string pty = server.Open();
  server.Start();

  form.resize(kDesignWidth, kDesignHeight);  // whatever the last run stored
  form.show();
  form.TimerStartTimer();
  Ui::TForm1& ui = form.Controls();
  ui.edHexName->setCurrentText(QString::fromLocal8Bit(argv[2]));
  ui.comboPortName->setCurrentText(QString::fromStdString(pty));
  form.bWriteFlashClick();
  server.Stop();
  Settle();

  ui.edQBaud->setText("9600");  // the calculator shows a result once an input changes
  int saved = 0;
  // The console's help on the message page, as a user sees it after typing
  // "help" and Enter.
  ui.PageControl1->setCurrentIndex(0);
  form.Memo1KeyPress("help");
  Settle();
  if (form.grab().save(outDir + "/messages_help.png")) ++saved;
  for (const bool minimum : {false, true}) {
    if (minimum) form.resize(form.minimumSize());
    for (int page = 0; page < ui.PageControl1->count(); ++page) {
      ui.PageControl1->setCurrentIndex(page);
      Settle();
      const QString name =
          QString("%1/%2%3.png").arg(outDir, kPageNames[page], minimum ? "_min" : "");
      if (form.grab().save(name)) ++saved;
    }
  }
  std::printf("%d screenshots in %s\n", saved, argv[1]);
  return saved == 2 * ui.PageControl1->count() + 1 ? 0 : 1;
}
