// The main window driven as its user drives it: the start-up state, a
// write into a virtual PIC on a pseudo-terminal, a failed job, the abort
// button, the log dump, the command line, the console and one job at a
// time.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QTimer>
#include <array>
#include <filesystem>
#include <map>

#include "app/map_window.h"
#include "sim/boot_path.h"
#include "tests/app/window_fixture.h"
#include "tests/support/ser2net.h"

namespace vantlebld {
namespace {

using enum TStatusImage;

// The boxes show the settings' design values (7 s, 300 ms); the engine
// keeps its own until a box changes.
TEST_F(MainWindowTest, StartsDisabledWithTheBannerWhileTheEngineKeepsItsOwnValues) {
  TForm1& f = New();
  TVantleBootloader& e = f.Engine();
  EXPECT_EQ((std::array{e.SearchSeconds, e.WaitMs, e.BaudRate, e.StopBits}),
            (std::array{3, 200, 115200, 1}));
  EXPECT_TRUE(ui().Memo1->toPlainText().startsWith("Interface to VantleBootLoader, v"));
  const size_t logged = f.LogList().size();
  EXPECT_FALSE(f.isEnabled());
  f.TimerStartTimer();
  EXPECT_TRUE(f.isEnabled());
  EXPECT_EQ(f.LogList().size(), logged);  // no argument: no write at start
  ui().seSearchDelay->setValue(9);
  ui().seTimeout->setValue(40);
  EXPECT_EQ(std::pair(e.SearchSeconds, e.WaitMs), std::pair(9, 40));
}

// The outcome of a click on Write Flash (the engine's tests hold the
// write's steps): the Options page's pre-codes go out first; progress to
// 100 and back, the title, the tray, and the file once at the top of the
// history.
TEST_F(MainWindowTest, WritesTheFileIntoThePicAndRemembersItOnce) {
  TForm1& f = Start();
  int top = 0;
  QObject::connect(ui().ProgressBar1, &QProgressBar::valueChanged,
                   [&top](int v) { top = std::max(top, v); });
  ui().edHexName->addItems({"older.hex", kHex});
  ui().edHexName->setCurrentText(kHex);
  ui().edPreCodes->setText("5");
  TSimLine sim;
  Run(true, sim.path);
  Finish(sim);
  EXPECT_TRUE(LoggedStart("   PreCodes: ,  Wait 1ms"));
  EXPECT_TRUE(Logged(kFound) && LoggedStart("   WRITE OK  at ") && !Logged("      ERROR!"));
  EXPECT_EQ(std::pair(top, ui().ProgressBar1->value()), std::pair(100, 0));
  EXPECT_EQ(f.windowTitle(), "VantleBld - pic18f252_blink.hex");
  EXPECT_EQ(f.TrayHistory(), (Images{Idle, Searching, Found, Done}));
  EXPECT_TRUE(ui().bWriteFlash->isEnabled() && ui().bAbortSearch->isHidden());
  f.TimerEndWaitTimer();
  EXPECT_EQ(f.TrayHistory().back(), Idle);  // after the end wait
  EXPECT_EQ((QStringList{ui().edHexName->itemText(0), ui().edHexName->itemText(1)}),
            (QStringList{kHex, "older.hex"}));
  EXPECT_EQ(ui().edHexName->count(), 2);
}

// A port on another machine, typed into the Port box as a person types it:
// the write goes through ser2net, and the virtual PIC's judge finds the
// program starting through the bootloader.
TEST_F(MainWindowTest, WritesThroughANetworkPortTypedIntoThePortBox) {
  Start();
  ui().edHexName->setCurrentText(kHex);
  TSimLine sim;
  const test::TempDir dir;
  test::TSer2Net server(dir, {sim.path});
  QComboBox& box = *ui().comboPortName;
  box.setFocus();
  box.lineEdit()->selectAll();
  QTest::keyClicks(&box, QString::fromStdString(server.Port(0)));
  QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
  WaitForJob();
  EXPECT_TRUE(Logged("Connected to " + server.Port(0) + " at 115200"));
  EXPECT_TRUE(LoggedStart("   WRITE OK  at ")) << testing::PrintToString(form_->LogList());
  server.Stop();
  sim.server.WaitFinished();
  EXPECT_TRUE(JudgeBootPath(sim.pic.Pic(), sim.pic.Flash()).Ok);
}

// A failed job shows ERROR with its reason, the error image, and the
// buttons back; the link is closed.
TEST_F(MainWindowTest, AFailedJobLogsItsErrorAndRestoresTheButtons) {
  TForm1& f = Start();
  Run(false, "/dev/nonexistent");
  EXPECT_TRUE(Logged("      ERROR!") &&
              Logged("         Communication error 1: Cannot open /dev/nonexistent: No such file "
                     "or directory"));
  EXPECT_EQ(f.TrayHistory(), (Images{Idle, Searching, Error}));
  EXPECT_FALSE(f.Engine().Link->IsOpen());
  EXPECT_TRUE(ui().bJustCheckPIC->isEnabled() && ui().bAbortSearch->isHidden());
}

// A person's click at a point of the screen, from the X server itself
// (xdotool), after a pause: it reaches the window through the event loop
// as a user's click does, whatever the window is doing meanwhile.
void ClickLater(QWidget* control, double seconds) {
  const QPoint at = control->mapToGlobal(control->rect().center());
  const QString script =
      QString("sleep %1; xdotool mousemove %2 %3 click 1").arg(seconds).arg(at.x()).arg(at.y());
  ASSERT_TRUE(QProcess::startDetached("sh", {"-c", script}));
}

// Write Flash, then "Abort Search" 0.6 s into the 5 s search of a PIC that
// never answers: the search stops at once instead of running its 50
// probes. On an X server only (the suite's MainWindowUnderX11 runs it
// there): synthesized clicks skip the input path the fault was in.
TEST_F(MainWindowTest, AbortDuringTheSearchEndsTheJobAsNotFound) {
  if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
  Start();
  form_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  ui().seSearchDelay->setValue(5);
  ui().seTimeout->setValue(100);
  ui().edHexName->setCurrentText(kHex);
  TSimLine sim(TSimOptions{.Faults = {.NoAnswer = true}});
  ui().comboPortName->setCurrentText(QString::fromStdString(sim.path));
  // "Abort Search" shows in CheckPIC's place while the search runs.
  ClickLater(ui().bWriteFlash, 0);
  ClickLater(ui().bJustCheckPIC, 0.6);
  const auto probes = [this] { return std::ranges::count(form_->LogList(), "Wait 100 ms"); };
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return probes() > 0 && ui().bAbortSearch->isHidden(); }, 15000));
  WaitForJob();  // the search's end comes before the job's failure is shown
  Finish(sim);
  EXPECT_TRUE(Logged("         Not found!"));
  EXPECT_FALSE(Logged("  Searching for PIC ..., Not found"));  // it did not run out
  EXPECT_LT(probes(), 25);
}

// The dump holds the whole log, details too, and replaces an older one;
// the pane shows no details. Where it went, or why it could not be
// written (a folder in its place), shows in the pane and the status bar.
TEST_F(MainWindowTest, DumpReplacesTheFileWithTheWholeLog) {
  for (const bool blocked : {false, true}) {
    TForm1& f = Start();
    const std::string path = f.ProgramDir().toStdString() + "dumplog.log";
    if (blocked) std::filesystem::create_directory(path);
    if (!blocked) std::ofstream(path) << "old\nold\nold\nold\nold\nold\nold\nold\n";
    f.Say(TLineRole::Plain, "plain");
    f.Say(TLineRole::Step, "hidden detail", true);
    std::string whole;
    for (const std::string& line : f.LogList())
      whole += line + "\n";
    QTest::mouseClick(ui().bDumpLogToFile, Qt::LeftButton);
    const std::string said = ui().StatusBarApp->currentMessage().toStdString();
    EXPECT_TRUE(said.starts_with((blocked ? "Log not written to " : "Log written to ") + path));
    EXPECT_TRUE(MemoHas(said.c_str()) && !MemoHas("hidden detail")) << said;
    if (!blocked) EXPECT_EQ(FileContent(path), whole);
  }
}

// Any argument starts the write, unless the command line was refused; only
// -a with -x ends the program (the program's test shows the 3 of a failed
// write).
TEST_F(MainWindowTest, CommandLineStandsFirstInThePaneAndSetsTheExitCode) {
  // The command line stands first in the pane, above the banner; its
  // values stand in their boxes.
  EXPECT_EQ(Create({"-b9600", "-com3", "my.hex"}).Engine().BaudRate, 9600);
  EXPECT_EQ((QStringList{ui().comboPortName->currentText(), ui().edHexName->currentText()}),
            (QStringList{"COM3", "my.hex"}));
  const QStringList memo = ui().Memo1->toPlainText().split('\n');
  EXPECT_EQ(memo.at(0), QCoreApplication::arguments().join(' '));
  EXPECT_TRUE(memo.at(1).startsWith("Interface to VantleBootLoader"));

  const std::pair<QStringList, int> cases[] = {{{"-a", kMissingHex}, 0},
                                               {{"-q", "-a", "-x", kMissingHex}, 1}};
  for (const auto& [args, code] : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    TForm1& started = Create(args);
    Offline();
    started.TimerStartTimer();
    WaitForJob();
    EXPECT_EQ(started.ExitCode(), code);
    EXPECT_EQ(Logged("         File not found"), code != 1);
  }
  // The end asked for holds every event loop to come; the program's own
  // loop, run here, lets the next test's message boxes open again.
  QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

// A PIC18 file for a PIC16F876A: a person clicking Write Flash is asked
// and the default answer (Enter) keeps the PIC as it was; Yes writes. The
// automatic write refuses without asking.
TEST_F(MainWindowTest, AFileOfAnotherFamilyIsWrittenOnlyWhenTheUserSaysSo) {
  const std::string kRefused = "         HEX file holds PIC18 code, the PIC is a PIC16F876A";
  QString asked;
  bool yes = false;
  QTimer answer;  // answers the question box as soon as it shows
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    asked = box->text();
    yes ? QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton)
        : QTest::keyClick(box, Qt::Key_Return);
  });
  answer.start(20);
  for (const bool say : {false, true}) {
    SCOPED_TRACE(say);
    yes = say;
    asked.clear();
    Start();
    Offline("$31");
    ui().edHexName->setCurrentText(kHex);
    QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
    WaitForJob();
    EXPECT_EQ(asked.toStdString(), kRefused.substr(9) + ".\n\nWrite anyway?");
    EXPECT_EQ(Logged(kRefused), !say);
  }
  asked.clear();
  TForm1& automatic = Create({"-a", "-x", kHex});
  Offline("$31");
  automatic.TimerStartTimer();
  WaitForJob();
  EXPECT_TRUE(asked.isEmpty());
  EXPECT_TRUE(Logged(kRefused));
  EXPECT_EQ(automatic.ExitCode(), 3);
}

// A write stopped as soon as the button reads Stop, by a click on it or by
// closing the window: it ends after the block on the line and says where;
// the PIC (whose judge finds reset still reaching its bootloader) takes the
// next write at once. A closed window closes once the job has ended, never
// while the job runs on its stack.
TEST_F(MainWindowTest, AWriteStopsAfterTheBlockOnTheLine) {
  // The last window closing would end the suite's own event loop.
  QApplication::setQuitOnLastWindowClosed(false);
  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "window closed" : "Stop clicked");
    TForm1& f = Start();
    f.show();
    ui().edHexName->setCurrentText(kHex);
    bool openWhileStopping = false;
    QTimer user;  // a person who stops the write once it is under way
    QObject::connect(&user, &QTimer::timeout, [&] {
      QPushButton& b = *ui().bAbortSearch;
      if (b.isHidden() || b.text() != "Stop") return;
      if (!closing) QTest::mouseClick(&b, Qt::LeftButton);
      if (closing) f.close();
      openWhileStopping = f.isVisible();
    });
    user.start(20);
    TSimLine sim(TSimOptions{.WriteMs = 100});
    Run(true, sim.path);
    user.stop();
    Finish(sim);
    EXPECT_TRUE(LoggedStart("         Stopped after block "))
        << testing::PrintToString(f.LogList());
    EXPECT_FALSE(LoggedStart("   WRITE OK"));
    EXPECT_TRUE(JudgeBootPath(sim.pic.Pic(), sim.pic.Flash()).ReachesBootloader);
    EXPECT_LT(sim.pic.Stats().BlocksReceived, 13);  // 5 flash blocks, 8 EEPROM bytes
    EXPECT_TRUE(openWhileStopping);
    EXPECT_EQ(Logged("   Closing: the job stops after the block on the line"), closing);
    if (closing) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }));
      continue;
    }
    EXPECT_TRUE(!ui().bJustCheckPIC->isHidden() && ui().bAbortSearch->isHidden());
    TSimLine again;
    Run(true, again.path);
    Finish(again);
    EXPECT_TRUE(LoggedStart("   WRITE OK  at "));
  }
  QApplication::setQuitOnLastWindowClosed(true);
}

// A write whose blocks could not give a running program goes nowhere: the
// file box typed empty, and a file whose reset code has no jump; each logs
// its reason under ERROR! and no block is sent. Automatic mode exits with 3.
// (A file of another family written anyway meets the same refusal: the
// engine's preflight table has it; here a question box after an automatic
// run's quit would not wait for its answer.)
TEST_F(MainWindowTest, AWriteThatWouldNotStartIsRefusedBeforeItsFirstBlock) {
  test::TempDir dir;
  // MOVLW 1, MOVWF 81h, NOP, NOP from address 0: no jump.
  const std::string noJump =
      dir.Write("nojump.hex", test::HexRecord(0, 0, {0x01, 0x0E, 0x81, 0x6E, 0, 0, 0, 0}) + "\n" +
                                  test::kHexEnd + "\n");
  const std::string kNoStart =
      "HEX file would not start: its reset code at 000000h runs into the bootloader at 007E00h "
      "(no jump in the first 4 words)";
  const struct {
    std::string typed;
    std::string reason;
  } cases[] = {
      {"", "File not found: no HEX file was named (choose one, or name it on the command line)"},
      {noJump, kNoStart},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    Start();
    Offline("$41");
    QComboBox& box = *ui().edHexName;
    box.setFocus();
    QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_Delete);
    QTest::keyClicks(&box, QString::fromStdString(c.typed));
    QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
    WaitForJob();
    EXPECT_TRUE(Logged("      ERROR!") && Logged("         " + c.reason))
        << testing::PrintToString(form_->LogList());
    EXPECT_FALSE(LoggedStart("   Hex: ")) << "a block went out";
    EXPECT_FALSE(LoggedStart("   WRITE OK"));
  }
  TForm1& automatic = Create({"-a", "-x", QString::fromStdString(noJump)});
  Offline("$41");
  automatic.TimerStartTimer();
  WaitForJob();
  EXPECT_TRUE(Logged("         " + kNoStart));
  EXPECT_EQ(automatic.ExitCode(), 3);
}

// A console command as a person enters it: typed into the message pane
// where the caret stands, then Enter.
void Type(TForm1& form, const std::string& line) {
  QPlainTextEdit& memo = *form.Controls().Memo1;
  memo.setFocus();
  QTest::keyClicks(&memo, QString::fromStdString(line));
  QTest::keyClick(&memo, Qt::Key_Return);
}

// Console commands without a link: offline_code, then a check, and the
// write commands running their job with the typed address and value.
TEST_F(MainWindowTest, ConsoleCommandsWithoutALink) {
  TForm1& f = Start();
  Type(f, "offline_code 41h");
  EXPECT_EQ(f.OperatingMode(), 1);
  EXPECT_TRUE(Logged("Working offline, Assuming PIC code = 41h "));
  QTest::mouseClick(ui().bJustCheckPIC, Qt::LeftButton);  // no link needed now
  WaitForJob();
  EXPECT_TRUE(Logged(kFound) && !LoggedStart("   WRITE OK"));  // a check, without the file
  EXPECT_EQ(f.windowTitle(), "VantleBld");                     // no file named
  Type(f, "writeeeprom 5 b6h");
  WaitForJob();
  Type(f, "writeconfig 300003h 0Fh");
  WaitForJob();
  EXPECT_TRUE(Logged("performed: eeprom[000005h]<-B6h ") && Logged("performed: CFG[300003h]<-Fh "));
  // The job left the caret on a fresh line: the next command is read whole.
  Type(f, "offline_code");
  EXPECT_TRUE(LoggedStart("Error! offline_code needs a PIC code"));
  // What is not a number or not a byte is refused with the reason, never
  // cut to a byte and written.
  const std::pair<const char*, const char*> refused[] = {
      {"writeeeprom 0 zz", "writeeeprom: \"zz\" is not a number; eg: writeeeprom 0 b6h"},
      {"writeeeprom 0 300", "writeeeprom: 300 is not a byte value (0..255, 00h..FFh);*"},
      {"writeconfig 300003h", "writeconfig: needs an address and a value;*"}};
  for (const auto& [line, reason] : refused) {
    Type(f, line);
    const std::string expected = reason;
    EXPECT_TRUE(expected.ends_with('*')
                    ? LoggedStart("         " + expected.substr(0, expected.size() - 1))
                    : Logged("         " + expected))
        << line;
  }
  EXPECT_FALSE(LoggedStart("performed: eeprom[000000h]"));
}

// While a write searches, and again while its blocks go out to a PIC that
// takes its time, a person tries the other ways to start a job or touch
// its link: the controls are disabled, console commands and closing the
// window are refused with a line; the write ends and the PIC starts
// through its bootloader, and nothing else runs after it.
TEST_F(MainWindowTest, OneJobAtATime) {
  TForm1& f = Start();
  ui().edHexName->setCurrentText(kHex);
  // Answers after some probes; each block takes 30 ms to write.
  TSimLine sim(TSimOptions{.WriteMs = 30, .ListenAfterMs = 300});
  ui().comboPortName->setCurrentText(QString::fromStdString(sim.path));
  int tries = 0;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    const bool writing = std::ranges::any_of(f.LogList(), [](const std::string& l) {
      return l.find("Writing flash") != std::string::npos;
    });
    if (!(tries == 0 && Logged("Wait 30 ms")) && !(tries == 1 && writing)) return;
    ++tries;
    // The status bar names the port and the probe while it searches.
    if (tries == 1)
      EXPECT_TRUE(ui().StatusBarApp->currentMessage().startsWith(
          QString::fromStdString("Searching for the PIC on " + sim.path +
                                 " at 115200 baud: reset the board now (probe ")));
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui().bWriteFlash, ui().bJustCheckPIC, ui().bSearchCOM, ui().comboPortName,
             ui().ComboBaud, ui().edHexName, ui().seTimeout, ui().cbOperatingMode, ui().bTermOpen,
             ui().bRemoteReset, ui().edTermSend})
      EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    // Abort Search while it searches, Stop while it writes.
    EXPECT_FALSE(ui().bAbortSearch->isHidden());
    EXPECT_EQ(ui().bAbortSearch->text(), tries == 1 ? "Abort Search" : "Stop");
    QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
    QTest::keyClick(ui().Memo1, Qt::Key_Return);  // off the log's last line
    for (const char* command : {"clearallflash", "writeeeprom 0 1", "offline_code 41h"})
      Type(f, command);
  });
  user.start(10);
  QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
  WaitForJob();
  user.stop();
  Finish(sim);
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(std::ranges::count(f.LogList(), "   Busy: wait until the running job has ended"), 6);
  EXPECT_EQ(std::ranges::count(f.LogList(), std::string(kFound)), 1);
  EXPECT_TRUE(LoggedStart("   WRITE OK  at "));
  EXPECT_EQ(f.OperatingMode(), kModeSerial);
  EXPECT_TRUE(ui().bJustCheckPIC->isEnabled() && ui().comboPortName->isEnabled() &&
              ui().bAbortSearch->isHidden());
  EXPECT_EQ(ui().StatusBarApp->currentMessage(), "");
}

// At the design size no page scrolls; on each page an Alt+letter names
// one control; the short option boxes keep their width in a wide window.
TEST_F(MainWindowTest, PagesFitTheDesignSizeAndNameEachMnemonicOnce) {
  TForm1& f = Start();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.resize(586, 372);
  for (int page = 0; page < ui().PageControl1->count(); ++page) {
    ui().PageControl1->setCurrentIndex(page);
    QCoreApplication::processEvents();
    for (const QScrollArea* area : ui().PageControl1->currentWidget()->findChildren<QScrollArea*>())
      EXPECT_FALSE(area->horizontalScrollBar()->isVisible() ||
                   area->verticalScrollBar()->isVisible())
          << area->objectName().toStdString();
    QStringList texts;  // the tabs' and the shown buttons'
    for (int tab = 0; tab < ui().PageControl1->count(); ++tab)
      texts << ui().PageControl1->tabText(tab);
    for (const QAbstractButton* b : f.findChildren<QAbstractButton*>())
      if (b->isVisible()) texts << b->text();
    std::map<QChar, QString> named;
    for (const QString& text : texts)
      if (const qsizetype amp = text.indexOf('&'); amp >= 0)
        EXPECT_TRUE(named.emplace(text.at(amp + 1).toUpper(), text).second) << text.toStdString();
  }
  const int idWidth = ui().edPCDetect->width();
  f.resize(1600, 1000);
  QCoreApplication::processEvents();
  EXPECT_EQ(ui().edPCDetect->width(), idWidth);
}

// Tab moves on from the message pane; a file dropped on it (on its
// viewport, where a drag lands) is the window's, never text in the pane.
TEST_F(MainWindowTest, TabLeavesThePaneAndAFileDroppedOnItIsChosen) {
  TForm1& f = Start();
  f.show();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  ui().Memo1->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_NE(QApplication::focusWidget(), ui().Memo1);
  const QUrl hex = QUrl::fromLocalFile(kHex);
  const std::pair<QList<QUrl>, std::string> drops[] = {
      {{QUrl::fromLocalFile("/tmp/a.txt")}, "Please Drag&Drop only .HEX files!"},
      {{hex, hex}, "Please Drag&Drop a SINGLE .hex file!"},
      {{hex}, "Drag&Dropped:   " + kHex.toStdString()}};
  for (const auto& [urls, said] : drops) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter({5, 5}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ui().Memo1->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(ui().Memo1->viewport(), &drop);
    EXPECT_TRUE(Logged(said)) << said;
  }
  EXPECT_EQ(ui().edHexName->currentText(), kHex);
  EXPECT_FALSE(MemoHas("file://"));
}

// Map, once a HEX file is typed: its window asks for the model and draws
// the file on the one picked there until a job identifies the PIC, then on
// that one.
TEST_F(MainWindowTest, MapDrawsTheFileOnThePickedThenTheIdentifiedPic) {
  Start().show();
  ui().edHexName->setCurrentText("");
  EXPECT_FALSE(ui().bMap->isEnabled());
  QTest::keyClicks(ui().edHexName, kHex);
  ASSERT_TRUE(ui().bMap->isEnabled());
  QTest::mouseClick(ui().bMap, Qt::LeftButton);
  auto* map = form_->findChild<TMapWindow*>();
  ASSERT_TRUE(map != nullptr);
  EXPECT_TRUE(map->isVisible());
  EXPECT_EQ(map->Status()->text(), "Choose the PIC");
  QTest::keyClicks(map->Model(), "$31");  // a 16F: PIC18 code is refused
  EXPECT_TRUE(map->Status()->text().startsWith("A write would be refused: HEX file holds PIC18"))
      << map->Status()->text().toStdString();
  QTest::qWait(QApplication::keyboardInputInterval() + 50);  // a new search in the box
  QTest::keyClicks(map->Model(), "$41");
  EXPECT_TRUE(map->Model()->currentText().startsWith("$41"));
  EXPECT_EQ(map->Status()->text(), kHex);
  EXPECT_TRUE(map->Picture()->renderer()->isValid());
  Offline("$42");
  Run(false, "");
  EXPECT_TRUE(map->Model()->currentText().startsWith("$42"))
      << map->Model()->currentText().toStdString();
  EXPECT_EQ(map->Status()->text(), kHex);
}

}  // namespace
}  // namespace vantlebld

int main(int argc, char** argv) {
  // Offscreen unless a platform is named (the suite's X server run).
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
