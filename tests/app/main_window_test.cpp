// The main window driven as its user drives it: the start-up state, write
// and check jobs against a virtual PIC on a pseudo-terminal, the ways a job
// fails, the abort button, the log dump, the pre-codes, the console and the
// settings file it keeps beside the program.
#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <array>
#include <optional>

#include "sim/boot_path.h"
#include "tests/app/window_fixture.h"

namespace vantlebld {
namespace {

TEST_F(MainWindowTest, StartsWithTheDesignValuesWhileTheEngineKeepsItsOwn) {
  TForm1& f = New();
  const TVantleBootloader& e = f.Engine();
  EXPECT_EQ((QStringList{f.windowTitle(), ui().comboPortName->currentText(),
                         ui().ComboBaud->currentText(), ui().edPCDetect->text(),
                         ui().edRtsDtrPulse->text()}),
            (QStringList{"Vantle Bootloader", "COM1", "115200", "C1h", ""}));
  EXPECT_EQ(std::pair(ui().seSearchDelay->value(), ui().seTimeout->value()), std::pair(7, 300));
  EXPECT_EQ((std::array{e.SearchSeconds, e.WaitMs, e.BaudRate, e.StopBits}),
            (std::array{3, 200, 115200, 1}));
  EXPECT_TRUE(ui().LabelBaudAlert->isHidden() && ui().bAbortSearch->isHidden());
  EXPECT_TRUE(ui().Memo1->toPlainText().startsWith("Interface to VantleBootLoader, v"));
  EXPECT_FALSE(LoggedStart("Interface to"));  // the banner is not part of the log
  EXPECT_EQ(f.TrayHistory(), Images{TStatusImage::Idle});
  const size_t logged = f.LogList().size();
  EXPECT_FALSE(f.isEnabled());
  f.TimerStartTimer();
  EXPECT_TRUE(f.isEnabled());
  EXPECT_EQ(f.LogList().size(), logged);  // no argument: no write at start
  ui().seSearchDelay->setValue(9);
  ui().seTimeout->setValue(40);
  ui().ComboBaud->setCurrentText("fast");
  EXPECT_EQ((std::array{e.SearchSeconds, e.WaitMs, e.BaudRate}), (std::array{9, 40, 115200}));
}

TEST_F(MainWindowTest, StoredValuesReachTheEngineAndUnknownSectionsSurvive) {
  TForm1& f = New("[PIC]\nStopBits=2\n[OPTIONS]\nSearchDelay=9\n[MY NOTES]\nkept=yes\n");
  EXPECT_FALSE(ui().LabelBaudAlert->isHidden());
  EXPECT_EQ((std::array{f.Engine().StopBits, f.Engine().SearchSeconds, f.Engine().WaitMs}),
            (std::array{2, 9, 200}));
  form_.reset();
  const std::string saved = FileContent(BinFile("vantlebld.ini"));
  for (const char* kept : {"[MY NOTES]\nkept=yes", "StopBits=2", "SearchDelay=9", "Timeout=300"})
    EXPECT_NE(saved.find(kept), std::string::npos) << kept << " in\n" << saved;
}

TEST_F(MainWindowTest, WritesTheFileIntoThePicAndRemembersItOnce) {
  TForm1& f = Start();
  std::vector<int> progress;
  QObject::connect(ui().ProgressBar1, &QProgressBar::valueChanged,
                   [&progress](int v) { progress.push_back(v); });
  ui().edHexName->addItem("older.hex");
  ui().edHexName->setCurrentText(kHex);
  TSimLine first;
  Run(true, first.path);
  Finish(first);
  EXPECT_TRUE(Logged(kFound) && LoggedStart("   WRITE OK  at ") && !Logged("      ERROR!"));
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.end()[-2], 100);  // the write's last block, then the reset
  EXPECT_EQ(progress.back(), 0);
  EXPECT_TRUE(first.pic.Stats().HostErrors.empty());
  // The first code bytes of the example.
  EXPECT_EQ(std::pair(first.pic.Flash().at(0x100), first.pic.Flash().at(0x101)),
            std::pair(uint8_t{0x8A}, uint8_t{0x6A}));
  EXPECT_EQ(f.windowTitle(), "VantleBld - pic18f252_blink.hex");
  EXPECT_EQ(f.TrayHistory(), (Images{TStatusImage::Idle, TStatusImage::Searching,
                                     TStatusImage::Found, TStatusImage::Done}));
  EXPECT_TRUE(ui().bWriteFlash->isEnabled() && ui().bAbortSearch->isHidden());
  f.TimerEndWaitTimer();
  EXPECT_EQ(f.TrayHistory().back(), TStatusImage::Idle);

  TSimLine second;
  Run(true, second.path);
  Finish(second);
  EXPECT_EQ(std::ranges::count(f.LogList(), std::string(kFound)), 2);
  QStringList history;
  for (int i = 0; i < ui().edHexName->count(); ++i)
    history << ui().edHexName->itemText(i);
  EXPECT_EQ(history, (QStringList{kHex, "older.hex"}));
}

// Detail lines reach the pane only with LogDetails on (the dump test shows
// them hidden otherwise).
TEST_F(MainWindowTest, CheckIdentifiesWithoutTheFileAndShowsDetailsWhenAsked) {
  TForm1& f = Start();
  ui().cbLogDetails->click();
  EXPECT_TRUE(f.LogDetails());
  ui().edHexName->setCurrentText(kMissingHex);
  TSimLine sim;
  Run(false, sim.path);
  Finish(sim);
  EXPECT_TRUE(Logged(kFound) && !LoggedStart("      File not found"));
  EXPECT_EQ(sim.pic.Stats().BlocksReceived, 0);
  EXPECT_EQ(f.TrayHistory().back(), TStatusImage::Done);
  EXPECT_TRUE(MemoHas("Also found:"));  // the image report, a detail line
}

TEST_F(MainWindowTest, FailedJobsLogTheirErrorAndRestoreTheButtons) {
  const struct {
    const char* name;
    bool write;
    bool silentPic;  // a PIC that never answers; otherwise offline mode
    const QString& hex;
    const char* idCode;
    const char* message;  // what a failed job adds, nine blanks in
  } cases[] = {
      {"write to a silent PIC", true, true, kHex, "C1h", "Not found!"},
      {"check of a silent PIC", false, true, kHex, "C1h", "Not found!"},
      {"missing file", true, false, kMissingHex, "C1h", "File not found"},
      {"ID code not a number", true, false, kHex, "zz", "not an int"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TForm1& f = Start();
    ui().edHexName->setCurrentText(c.hex);
    ui().edPCDetect->setText(c.idCode);
    std::optional<TSimLine> sim;
    if (c.silentPic) {
      sim.emplace(TSimOptions{.Faults = {.NoAnswer = true}});
    } else {
      Offline();
    }
    Run(c.write, sim ? sim->path : std::string());
    EXPECT_TRUE(Logged("      ERROR!") && !Logged(kFound));
    EXPECT_TRUE(Logged(std::string(9, ' ') + c.message));
    EXPECT_EQ(f.TrayHistory(),
              (Images{TStatusImage::Idle, TStatusImage::Searching, TStatusImage::Error}));
    EXPECT_FALSE(f.Engine().Port->Active());
    EXPECT_TRUE(ui().bWriteFlash->isEnabled() && ui().bAbortSearch->isHidden());
    EXPECT_EQ(f.ExitCode(), 0);
  }
  // A port that cannot be opened: the system's reason, for a check too.
  Start();
  ui().comboPortName->setCurrentText("/dev/nonexistent");
  QTest::mouseClick(ui().bJustCheckPIC, Qt::LeftButton);
  EXPECT_TRUE(Logged(
      "         Communication error 1: Cannot open /dev/nonexistent: No such file or directory"));
}

// A person's click at a point of the screen, from the X server itself
// (xdotool), after a pause: it reaches the window through the event loop
// as a user's click does, whatever the window is doing meanwhile.
void ClickLater(QPoint at, double seconds) {
  const QString script =
      QString("sleep %1; xdotool mousemove %2 %3 click 1").arg(seconds).arg(at.x()).arg(at.y());
  ASSERT_TRUE(QProcess::startDetached("sh", {"-c", script}));
}
QPoint Centre(QWidget* control) {
  return control->mapToGlobal(control->rect().center());
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
  ClickLater(Centre(ui().bWriteFlash), 0);
  ClickLater(Centre(ui().bJustCheckPIC), 0.6);
  const auto probes = [this] { return std::ranges::count(form_->LogList(), "Wait 100 ms"); };
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return probes() > 0 && ui().bAbortSearch->isHidden(); }, 15000));
  Finish(sim);
  EXPECT_TRUE(Logged("         Not found!"));
  EXPECT_FALSE(Logged("  Searching for PIC ..., Not found"));  // it did not run out
  EXPECT_LT(probes(), 25);
}

TEST_F(MainWindowTest, DumpReplacesTheFileWithTheWholeLog) {
  TForm1& f = Start();
  std::ofstream(BinFile("dumplog.log")) << "old\nold\nold\nold\nold\nold\nold\nold\n";
  f.AddLog(0, "plain");
  f.AddLog(LogDetail | LogIndent3, "hidden detail");
  f.bDumpLogToFileClick();
  std::string whole;
  for (const std::string& line : f.LogList())
    whole += line + "\n";
  EXPECT_EQ(FileContent(BinFile("dumplog.log")), whole);
  EXPECT_TRUE(whole.ends_with(
      "plain\n   hidden detail\nWrite to file: " + f.ProgramDir().toStdString() + "dumplog.log\n"));
  EXPECT_FALSE(MemoHas("hidden detail") || MemoHas("Write to file: "));
}

TEST_F(MainWindowTest, PreCodesInUdpModeAreLoggedButNotSent) {
  TForm1& f = Start();
  test::TUdpReceiver receiver;
  ui().cbOperatingMode->setCurrentIndex(2);
  ui().cbOfflineCode->setCurrentText("$41  PIC18F252");
  EXPECT_FALSE(ui().cbOfflineCode->isHidden());
  EXPECT_EQ(f.Engine().OfflineCode, 0x41);
  f.Engine().UDP_DestPort = receiver.port;
  ui().edPreCodes->setText("128 80h");
  f.bJustCheckPICClick();
  EXPECT_TRUE(Logged(kFound));
  EXPECT_TRUE(MemoHas("\n      PreCodes: ,  Wait 1ms ,  Wait 1ms \n      Wait 100ms\n"));
  EXPECT_TRUE(Logged("      PreCodes: ") && Logged("      PreCodes: ,  Wait 1ms "));
  EXPECT_EQ(std::ranges::count(f.LogList(), std::string("Sent:80h")), 2);
  // Only the engine's reset request reaches the network.
  EXPECT_EQ(receiver.Next(), "R");
  EXPECT_EQ(receiver.Next(50), std::nullopt);
}

TEST_F(MainWindowTest, PreCodesGoOutAsBytesOnTheSerialLine) {
  constexpr char kMarker = 0x55;  // sent after the pre-codes: all of them have gone out
  const struct {
    const char* text;
    std::string sent;
    bool waits, restIgnored;
  } cases[] = {
      {"128 80h", "\x80\x80", true, false},
      {"300", "\x2C", true, false},
      {"1,2;zz 3", "\x01\x02", true, false},
      {"zz 5", "", true, false},
      {"1 2 3 4 5 6 7 8 9 10 11 12", "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A", true, true},
      {" \t ", "", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TForm1& f = Create();
    TLine line;
    f.Engine().Connect(line.path, 115200, "");
    ui().edPreCodes->setText(c.text);
    f.SendPreCodes();
    f.Engine().SendByte(kMarker);
    EXPECT_EQ(line.Sent(c.sent.size() + 1), c.sent + kMarker);
    EXPECT_EQ(Logged("      PreCodes: "), !c.sent.empty());
    EXPECT_EQ(Logged("      Wait 100ms"), c.waits);
    EXPECT_EQ(LoggedStart("      PreCodes: only the first 10"), c.restIgnored);
    f.Engine().Disconnect();
  }
}

TEST_F(MainWindowTest, CommandLineFillsTheControlsAndSetsTheExitCode) {
  TForm1& f = Create({"-b9600", "-com3", "my.hex"});
  EXPECT_EQ((QStringList{ui().ComboBaud->currentText(), ui().comboPortName->currentText(),
                         ui().edHexName->currentText()}),
            (QStringList{"9600", "COM3", "my.hex"}));
  EXPECT_EQ(f.Engine().BaudRate, 9600);
  // The command line stands first in the pane, above the banner.
  const QStringList memo = ui().Memo1->toPlainText().split('\n');
  EXPECT_EQ(memo.at(0), QCoreApplication::arguments().join(' '));
  EXPECT_TRUE(Logged(memo.at(0).toStdString()));
  EXPECT_TRUE(memo.at(1).startsWith("Interface to VantleBootLoader"));

  const std::pair<QStringList, int> cases[] = {
      {{"-a", "-x", kMissingHex}, 3},
      {{"-a", kMissingHex}, 0},
      {{"-x", kMissingHex}, 0},
      {{kMissingHex}, 0},
      {{"-q", "-a", "-x", kMissingHex}, 1},
  };
  for (const auto& [args, code] : cases) {
    SCOPED_TRACE(args.join(' ').toStdString());
    TForm1& started = Create(args);
    Offline();
    started.TimerStartTimer();
    EXPECT_EQ(started.ExitCode(), code);
    // Any argument starts the write, unless the command line was refused.
    EXPECT_EQ(Logged("         File not found"), code != 1);
  }
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
  const auto offline16F = [this] {
    ui().cbOperatingMode->setCurrentIndex(1);
    ui().cbOfflineCode->setCurrentText("$31");
    ui().edHexName->setCurrentText(kHex);
  };
  for (const bool say : {false, true}) {
    SCOPED_TRACE(say);
    yes = say;
    asked.clear();
    Start();
    offline16F();
    QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
    EXPECT_EQ(asked.toStdString(), kRefused.substr(9) + ".\n\nWrite anyway?");
    EXPECT_EQ(Logged(kRefused), !say);
    EXPECT_EQ(LoggedStart("   WRITE OK  at "), say);
  }
  asked.clear();
  TForm1& automatic = Create({"-a", "-x", kHex});
  offline16F();
  automatic.TimerStartTimer();
  EXPECT_TRUE(asked.isEmpty());
  EXPECT_TRUE(Logged(kRefused));
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

TEST_F(MainWindowTest, ConsoleWritesOneEEPROMAndOneConfigurationLocation) {
  const struct {
    const char* line;
    bool config;
    uint8_t value;  // what the virtual PIC18 holds afterwards
    const char* performed;
  } cases[] = {
      {"writeeeprom 0 b6h", false, 0xB6, "performed: eeprom[000000h]<-B6h "},
      {"writeconfig 300003h FFh", true, 0xFF, "performed: CFG[300003h]<-FFh "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TForm1& f = Start();
    ui().cbLogDetails->click();
    TSimLine sim;
    ui().comboPortName->setCurrentText(QString::fromStdString(sim.path));
    Type(f, c.line);
    Finish(sim);
    EXPECT_TRUE(Logged(c.performed));
    EXPECT_EQ(sim.pic.Stats().BlocksAccepted, 1);
    EXPECT_EQ(c.config ? sim.pic.Config().at(0x300003) : sim.pic.EEPROM().at(0), c.value);
  }
}

TEST_F(MainWindowTest, ConsoleCommandsWithoutALink) {
  TForm1& f = Start();
  const auto before = f.LogList().size();
  for (const char* line : {"Help", "OFFLINE_CODE 41h", "help ", "write eeprom 0 1"})
    Type(f, line);
  EXPECT_EQ(f.LogList().size(), before) << "no command: nothing happens";
  Type(f, "writeeeprom 5");  // no value: refused before any link is opened
  EXPECT_TRUE(Logged("      ERROR!"));
  EXPECT_TRUE(LoggedStart("         writeeeprom needs an address and a value"));
  EXPECT_FALSE(f.Engine().Port->Active());

  Type(f, "help");
  EXPECT_TRUE(Logged("ontop  - keep the window on top of the others"));
  EXPECT_TRUE(LoggedStart("  ...any serial port: -p<name>"));
  Type(f, "logdetails");
  EXPECT_TRUE(f.LogDetails());
  EXPECT_TRUE(MemoHas("logdetails,  ok"));
  Type(f, "offline_code 41h");
  EXPECT_EQ(f.Engine().OperatingMode, 1);
  EXPECT_TRUE(Logged("Working offline, Assuming PIC code = 41h "));
  QTest::mouseClick(ui().bJustCheckPIC, Qt::LeftButton);  // no link needed now
  EXPECT_TRUE(Logged(kFound));
  // The job left the caret on a fresh line: the next command is read whole.
  Type(f, "offline_code");
  EXPECT_TRUE(Logged("Error!"));
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
  const auto writing = [&f] {
    return std::ranges::any_of(f.LogList(), [](const std::string& l) {
      return l.find("Writing flash") != std::string::npos;
    });
  };
  int tries = 0;
  QTimer user;
  QObject::connect(&user, &QTimer::timeout, [&] {
    if (!(tries == 0 && LoggedStart("  Searching for PIC")) && !(tries == 1 && writing())) return;
    ++tries;
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui().bWriteFlash, ui().bJustCheckPIC, ui().bSearchCOM, ui().comboPortName,
             ui().ComboBaud, ui().edHexName, ui().seTimeout, ui().cbOperatingMode, ui().bTermOpen,
             ui().bRemoteReset, ui().edTermSend})
      EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(!ui().bAbortSearch->isHidden(), tries == 1);  // only while it can abort
    QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
    QTest::keyClick(ui().Memo1, Qt::Key_Return);  // off the log's last line
    for (const char* command : {"clearallflash", "writeeeprom 0 1", "offline_code 41h"})
      Type(f, command);
    f.close();
  });
  user.start(10);
  QTest::mouseClick(ui().bWriteFlash, Qt::LeftButton);
  user.stop();
  Finish(sim);
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(std::ranges::count(f.LogList(), "   Busy: wait until the running job has ended"), 8);
  EXPECT_EQ(std::ranges::count(f.LogList(), std::string(kFound)), 1);
  EXPECT_TRUE(LoggedStart("   WRITE OK  at "));
  EXPECT_EQ(f.Engine().OperatingMode, kModeSerial);
  EXPECT_TRUE(JudgeBootPath(sim.pic.Pic(), sim.pic.Flash()).Ok);
  EXPECT_TRUE(ui().bJustCheckPIC->isEnabled() && ui().comboPortName->isEnabled() &&
              ui().bAbortSearch->isHidden());
}

// At the design size no page scrolls sideways; at the minimum size every
// control of the top row keeps its whole text.
TEST_F(MainWindowTest, PagesFitTheDesignSizeAndTheTopRowTheMinimum) {
  TForm1& f = Start();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.resize(586, 372);
  for (int page = 0; page < ui().PageControl1->count(); ++page) {
    ui().PageControl1->setCurrentIndex(page);
    QCoreApplication::processEvents();
    for (const QAbstractScrollArea* area :
         ui().PageControl1->currentWidget()->findChildren<QAbstractScrollArea*>()) {
      if (qobject_cast<const QScrollArea*>(area) == nullptr) continue;
      EXPECT_FALSE(area->horizontalScrollBar()->isVisible()) << area->objectName().toStdString();
    }
  }
  f.resize(f.minimumSize());
  QCoreApplication::processEvents();
  for (QPushButton* b : {ui().bWriteFlash, ui().bJustCheckPIC, ui().bSearchCOM, ui().bBrowse}) {
    const int text = b->fontMetrics().horizontalAdvance(QString(b->text()).remove('&'));
    EXPECT_GT(b->width(), text) << b->objectName().toStdString();
  }
}

TEST_F(MainWindowTest, ToolsPageRecomputesOnEveryChange) {
  Start();
  EXPECT_EQ(ui().labelResult->text(), "Result");  // nothing computed before a change
  ui().edQBaud->setText("9600");
  EXPECT_EQ(ui().edSpbrgResult->text(), "129");
  EXPECT_EQ(ui().LabelPLL->text(), "=1 or pll");
  ui().cbSPBRGSelect->setCurrentIndex(4);
  EXPECT_EQ(ui().LabelPLL->text(), "=M/N1/N2");
  ui().edQBaud->setText("0");
  EXPECT_TRUE(ui().edSpbrgResult->text().isEmpty());
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
