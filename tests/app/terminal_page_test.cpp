// The terminal page driven as its user drives it, on a bare pseudo-terminal
// the test writes to and reads from, and on a virtual PIC whose program
// starts after the write; and the settings file the window reads and
// writes back.
#include <QMouseEvent>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cstring>
#include <filesystem>

#include "sim/boot_path.h"
#include "sim/written_file_check.h"
#include "terminal/term_view.h"
#include "tests/app/window_fixture.h"

namespace vantlebld {
namespace {

using namespace std::string_literals;

class TerminalPageTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Start();
    Prepare();
  }
  // The dump goes to the test's directory.
  void Prepare() { ui().edTermDumpFilename->setText(Path("dump.bin")); }
  QString Path(const char* name) const { return dir_.filePath(name); }
  std::string Dumped(const char* name = "dump.bin") const {
    return FileContent(Path(name).toStdString());
  }
  void Open(const std::string& port) {
    ui().comboPortName->setCurrentText(QString::fromStdString(port));
    QTest::mouseClick(ui().bTermOpen, Qt::LeftButton);
    ASSERT_TRUE(form_->TerminalOpen());
  }
  void Put(const std::string& bytes) { ASSERT_TRUE(line_.Put(bytes)); }
  // Polls as the terminal's timer does until done() holds (3 s at most).
  template <typename TDone>
  void PollWhileNot(TDone done) {
    for (int i = 0; i < 300 && !done(); ++i) {
      form_->TimerTerminalTimer();
      if (!done()) QTest::qWait(10);
    }
    ASSERT_TRUE(done());
  }
  void PollUntil(size_t count) {
    PollWhileNot([&] { return form_->RcvBuffer().size() >= count; });
  }
  void View(TReceiveView view) { ui().cbTermSelRcv->setCurrentIndex(int(view)); }
  void Mode(TSendMode mode) { ui().cbTermSelSend->setCurrentIndex(int(mode)); }
  TSendMode ModeShown() { return TSendMode(ui().cbTermSelSend->currentIndex()); }
  std::string Shown() { return ui().TermWindow->Text(); }
  void SetSendText(const std::string& text) {
    ui().edTermSend->setCurrentText(QString::fromLatin1(text.data(), qsizetype(text.size())));
  }
  QTableWidget& Grid() { return *ui().TranslateListEditor; }

  QTemporaryDir dir_;
  TLine line_;
};

// Stored values away from their design values reach the boxes, the engine
// and the terminal, and go back as they were read, with what the window
// does not show: the buffer length, other sections, and a translation code
// that is no longer a row.
TEST_F(TerminalPageTest, SettingsFileReachesTheWindowAndGoesBackWhole) {
  const std::string pic = "[PIC]\nCOMport=" + line_.path + "\nCOMspeed=9600\nStopBits=2\n";
  const std::string options =
      "[OPTIONS]\nPCDetectCode=$C1\nPreCodes=128 80h\nRemoteResetSignals=DRr\n"
      "RTSDTRonConnect=0\nSearchDelay=9\nTimeout=1200\nSearchForCOMs=0\nSizeOfBLD_W=0\n"
      "UDP_DestAddr=192.168.1.7\nUDP_DestPort=9000\n";
  New("[FILES]\nHexFile=b.hex\nLRU0=b.hex\nLRU1=a.hex\n\n" + pic + "\n" + options +
      "\n[TERMINAL]\nTerminalBufferLength=10\nSwitchToTerminal=1\nWriteOnHexChange=1\n"
      "[TRANSLATE RCV]\n0Dh=\"<CR>\"\n[MY NOTES]\nkept=yes\n");
  Prepare();
  form_->TimerStartTimer();
  const TVantleBootloader& e = form_->Engine();
  EXPECT_EQ((std::array{e.StopBits, e.SearchSeconds, e.WaitMs, e.BaudRate, e.RTSDTRonConnect}),
            (std::array{2, 9, 1200, 9600, 0}));
  EXPECT_FALSE(ui().LabelBaudAlert->isHidden());
  EXPECT_EQ(form_->TranslateTable()['\r'], "<CR>");

  Grid().item(0, 0)->setText("0Ah");
  form_.reset();
  const std::string saved = FileContent(BinFile("vantlebld.ini"));
  for (const std::string& kept :
       {"HexFile=b.hex\nLRU0=b.hex\nLRU1=a.hex\n"s, pic, options, "TerminalBufferLength=10\n"s,
        "SwitchToTerminal=1\nWriteOnHexChange=1\n"s, "0Dh=\"<CR>\"\n"s, "0Ah=\"<CR>\"\n"s,
        "[MY NOTES]\nkept=yes"s})
    EXPECT_NE(saved.find(kept), std::string::npos) << kept << " in\n" << saved;
}

TEST_F(TerminalPageTest, ShowsWhatArrivesInEveryViewClearsAtTheCodeAndDumpsEveryByte) {
  // On the terminal page the bootloader's baud box is out of use: grey.
  const QColor grey = QApplication::palette().color(QPalette::Button);
  const auto base = [](QComboBox* w) {
    return w->lineEdit()->palette().color(QPalette::Active, QPalette::Base);
  };
  ui().PageControl1->setCurrentIndex(1);
  EXPECT_EQ(base(ui().ComboBaud), grey);
  ui().PageControl1->setCurrentIndex(0);
  EXPECT_NE(base(ui().ComboBaud), grey);
  Open(line_.path);
  EXPECT_FALSE(ui().bTermOpen->isEnabled() || ui().comboPortName->isEnabled());

  const std::string bytes = "AB\r\n\0\xFF"s;
  Put(bytes);
  PollUntil(bytes.size());
  EXPECT_EQ(Shown(), bytes);
  View(TReceiveView::Hex);
  EXPECT_EQ(Shown(), "41 42 0D 0A 00 FF ");
  View(TReceiveView::Gra1);
  EXPECT_TRUE(ui().TermWindow->isHidden() && !ui().ImageGraph->isHidden());
  // New bytes reach the graph, and the text views when chosen again.
  Put("xyz");
  PollUntil(bytes.size() + 3);
  EXPECT_EQ(form_->GraphData(), bytes + "xyz");
  View(TReceiveView::Char);
  EXPECT_EQ(Shown(), bytes + "xyz");
  // The clear code empties the window and the buffer.
  ui().edClearCode->setText(" 1Bh 63h ");
  form_->edClearCodeExit();
  Put("\x1B"
      "cnew");
  PollWhileNot([&] { return form_->RcvBuffer().find('w') != std::string::npos; });
  EXPECT_EQ(Shown(), "new");

  QTest::mouseClick(ui().bTermClose, Qt::LeftButton);
  EXPECT_FALSE(form_->TerminalOpen() || form_->Engine().Link->IsOpen());
  EXPECT_TRUE(ui().bTermOpen->isEnabled());
  EXPECT_EQ(Dumped(), bytes + "xyz\x1B" + "cnew");
  EXPECT_EQ(form_->RcvBuffer(), "new") << "a close keeps the buffer";
}

TEST_F(TerminalPageTest, RunsWithoutItsDumpFileAndStopsWhenTheAdapterIsPulled) {
  ui().edTermDumpFilename->setText("/nonexistent/dump.bin");
  Open(line_.path);
  EXPECT_TRUE(LoggedStart("      Could not open /nonexistent/dump.bin: "));
  Put("ok");
  PollUntil(2);
  EXPECT_EQ(Shown(), "ok");
  line_.Close();
  PollWhileNot([&] { return !form_->TerminalOpen(); });
  const std::string closed = "Terminal closed: the link to " + line_.path + " failed (";
  EXPECT_TRUE(LoggedStart("   " + closed));
  EXPECT_TRUE(ui().StatusBarApp->currentMessage().startsWith(QString::fromStdString(closed)));
  EXPECT_FALSE(LoggedStart("      Could not close"));  // a dump never opened
  EXPECT_TRUE(ui().bTermOpen->isEnabled());
}

// Holding the right button holds the poll; moving over the graph shows
// the samples around the mouse.
TEST_F(TerminalPageTest, TheGraphHoldsWhileTheRightButtonIsDownAndReadsOut) {
  Open(line_.path);
  View(TReceiveView::Gra2);
  QTest::mousePress(ui().ImageGraph, Qt::RightButton);
  Put("abc");
  QTest::qWait(50);
  form_->TimerTerminalTimer();
  EXPECT_EQ(form_->RcvBuffer(), "");
  QTest::mouseRelease(ui().ImageGraph, Qt::RightButton);
  PollUntil(3);
  EXPECT_EQ(form_->GraphData(), "abc");

  QMouseEvent move(QEvent::MouseMove, QPointF(2, 5), QPointF(2, 5), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(ui().ImageGraph, &move);
  EXPECT_EQ(form_->TermStatusText(0).toStdString(),
            "pos:[2]:             ?    61h {62h}  63h   ?   ");
}

// Send converts the box's text by the mode (the notations' tests hold the
// conversions) and keeps it once in the history; a text that does not
// convert sends nothing. File mode sends a file whole, a read-only one
// too, once it exists.
TEST_F(TerminalPageTest, SendConvertsTheTextKeepsAHistoryAndSendsFiles) {
  Open(line_.path);
  for (const auto& [mode, text, sent] : {std::tuple{TSendMode::CharEsc, "A\\x42", "AB"},
                                         {TSendMode::Nr, "1 x", ""},
                                         {TSendMode::CharEsc, "A\\x42", "AB"}}) {
    Mode(mode);
    SetSendText(text);
    QTest::mouseClick(ui().bTermSend, Qt::LeftButton);
    EXPECT_EQ(line_.Sent(strlen(sent)), sent) << text;
  }
  EXPECT_EQ(ui().edTermSend->count(), 1);

  const std::string file = Path("data.bin").toStdString();
  std::ofstream(file, std::ios::binary) << "\x01\x02\r\nend"s;
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);
  SetSendText(Path("none.bin").toStdString());
  Mode(TSendMode::File);
  EXPECT_FALSE(ui().bTermSend->isEnabled());
  SetSendText(file);
  EXPECT_TRUE(ui().bTermSend->isEnabled());
  QTest::mouseClick(ui().bTermSend, Qt::LeftButton);
  EXPECT_EQ(line_.Sent(7), "\x01\x02\r\nend"s);
}

// Each line sent ends as chosen and reaches the program on the PIC, which
// echoes it; Echo ticked shows what was sent too. Both are kept.
TEST_F(TerminalPageTest, ALineGoesOutWithTheChosenLineEnd) {
  TSimLine sim(TSimOptions{.RunProgramAtStart = true});
  Open(sim.path);
  QTest::mouseClick(ui().cbTermEcho, Qt::LeftButton, {}, {6, ui().cbTermEcho->height() / 2});
  std::string sent, shown;
  for (const auto& [name, end] :
       {std::pair{"no end", ""s}, {"CR", "\r"}, {"LF", "\n"}, {"CR LF", "\r\n"}}) {
    ui().cbTermLineEnd->setCurrentText(name);
    SetSendText("hi");
    QTest::mouseClick(ui().bTermSend, Qt::LeftButton);
    sent += "hi" + end;
    shown += "hi" + end + "hi" + end;  // the echo at once, then the PIC's
    PollUntil(sent.size());
  }
  EXPECT_EQ(form_->RcvBuffer(), sent);  // as the PIC's program got it
  EXPECT_EQ(Shown(), shown);
  form_.reset();
  EXPECT_NE(FileContent(BinFile("vantlebld.ini")).find("SendLineEnd=3\nLocalEcho=1\n"),
            std::string::npos);
}

// The Remote Reset button sends the Options page's pre-codes on the open
// link (the engine's tests hold how they are read).
TEST_F(TerminalPageTest, RemoteResetSendsThePreCodes) {
  Open(line_.path);
  ui().edPreCodes->setText("300 80h");
  QTest::mouseClick(ui().bRemoteReset, Qt::LeftButton);
  EXPECT_EQ(line_.Sent(2), "\x2C\x80");
}

// Keys and clicks as a person gives them: to the widget that has the
// focus, through the window's event loop.
TEST_F(TerminalPageTest, TypedKeysGoOutAtOnce) {
  form_->show();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  ui().PageControl1->setCurrentWidget(ui().TabSheetTerminal);
  const auto type = [](const char* keys) { QTest::keyClicks(QApplication::focusWidget(), keys); };
  const auto press = [](Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, mods);
  };
  const auto click = [](QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, {4, 4}); };
  Open(line_.path);
  // A key in the receive window switches to Type and nothing else.
  ASSERT_EQ(ModeShown(), TSendMode::CharEsc);
  click(ui().TermWindow);
  type("x");
  EXPECT_EQ(ModeShown(), TSendMode::Type);
  EXPECT_TRUE(ui().bTermSend->isEnabled());
  EXPECT_EQ(form_->TermStatusText(1).toStdString(), "> 78 <");
  press(Qt::Key_Return);
  EXPECT_EQ(line_.Sent(2), "x\r");
  EXPECT_EQ(Shown(), "");
  // Clicking into the send box leaves Type; Enter, main or keypad, sends.
  click(ui().edTermSend->lineEdit());
  EXPECT_EQ(ModeShown(), TSendMode::CharEsc);
  type("\\x41");
  press(Qt::Key_Return);
  EXPECT_EQ(line_.Sent(1), "A");
  press(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(line_.Sent(1), "A");
  // Type chosen from the list brings the focus to the box, and keeps: each
  // key goes out at once, Enter too.
  Mode(TSendMode::Type);
  type("ab");
  press(Qt::Key_Return);
  EXPECT_EQ(line_.Sent(3), "ab\r");
  EXPECT_EQ(ModeShown(), TSendMode::Type);
  // TypEcho also shows them, and is not left by a click into the box.
  Mode(TSendMode::TypEcho);
  click(ui().edTermSend->lineEdit());
  EXPECT_EQ(ModeShown(), TSendMode::TypEcho);
  EXPECT_FALSE(ui().bTermSend->isEnabled());
  type("hi");
  EXPECT_EQ(line_.Sent(2), "hi");
  EXPECT_EQ(Shown(), "hi");
  View(TReceiveView::Hex);
  View(TReceiveView::Char);
  EXPECT_EQ(Shown(), "") << "echoed keys are not received bytes";
}

// After a write with "switch to terminal" the terminal takes the open link
// and shows the program's lines; the next job takes the link back (the
// program on the PIC does not answer a search without a reset).
TEST_F(TerminalPageTest, WriteSwitchesToTheTerminalOnTheOpenLink) {
  TSimLine sim(TSimOptions{.RunAfterWrite = true, .StreamRate = 20000});
  ui().cbSwitchToTerminal->setChecked(true);
  ui().edHexName->setCurrentText(kHex);
  Run(true, sim.path);
  EXPECT_TRUE(LoggedStart("   WRITE OK"));
  EXPECT_EQ(ui().PageControl1->currentIndex(), 1);
  ASSERT_TRUE(form_->TerminalOpen() && form_->Engine().Link->IsOpen());
  PollUntil(200);
  EXPECT_NE(Shown().find("\r\n"), std::string::npos) << "the program's text lines arrive";
  ui().cbSwitchToTerminal->setChecked(false);
  Run(false, sim.path);
  EXPECT_FALSE(form_->TerminalOpen() || form_->Engine().Link->IsOpen());
  sim.server.Stop();
}

// "Write again when the HEX file changes": once the terminal holds the
// link after a write, each rebuilt file is written through the program's
// remote reset and the terminal takes the link again; a file cut in the
// middle (a build still writing it) is waited for, not written.
TEST_F(TerminalPageTest, ARebuiltHexFileIsWrittenAgainOnceItIsComplete) {
  constexpr int kRewriteWaitMs = 15000;
  TSimLine sim(TSimOptions{.RunAfterWrite = true, .ResetCodes = "\x80\x55"});
  ui().edPreCodes->setText("128 55h");
  const std::string hex = Path("prog.hex").toStdString();
  const std::string first = FileContent(kHex.toStdString());
  const std::string second = FileContent(VANTLEBLD_SOURCE_DIR "/examples/pic18f452_blink8m.hex");
  const auto written = [&] { return std::ranges::count(form_->TrayHistory(), TStatusImage::Done); };
  // The build puts text in the file; the window runs until done() holds.
  const auto rebuild = [&](const std::string& text, const std::function<bool()>& done) {
    std::ofstream(hex, std::ios::binary | std::ios::trunc) << text;
    return QTest::qWaitFor(done, kRewriteWaitMs);
  };
  std::ofstream(hex, std::ios::binary) << first;
  form_->show();
  ui().PageControl1->setCurrentWidget(ui().TabSheetTermOpt);
  for (QCheckBox* box : {ui().cbSwitchToTerminal, ui().cbWriteOnHexChange})
    QTest::mouseClick(box, Qt::LeftButton, {}, {6, box->height() / 2});
  ui().edHexName->setCurrentText(QString::fromStdString(hex));
  Run(true, sim.path);

  ASSERT_TRUE(rebuild(second.substr(0, second.size() / 2),
                      [&] { return LoggedStart("   HEX file is not complete HEX yet"); }));
  QTest::qWait(2 * THexFileWatch::kSettleMs);  // the watch goes on looking: still nothing
  // Whole, but its second record's checksum is off by one digit: said once,
  // with its line, and not written.
  std::string corrupt = second;
  size_t at = corrupt.find('\n', corrupt.find('\n') + 1) - 1;
  if (corrupt[at] == '\r') --at;
  corrupt[at] = corrupt[at] == '0' ? '1' : '0';
  const std::string kCorrupt = "   " + hex + " line 2: bad checksum; waiting for the next build";
  ASSERT_TRUE(rebuild(corrupt, [&] { return Logged(kCorrupt); }));
  QTest::qWait(2 * THexFileWatch::kSettleMs);
  EXPECT_EQ(std::ranges::count(form_->LogList(), kCorrupt), 1);
  ASSERT_TRUE(rebuild(second, [&] { return written() == 2 && form_->TerminalOpen(); }));
  // And back to the first program, which the second overwrote in part.
  ASSERT_TRUE(rebuild(first, [&] { return written() == 3 && form_->TerminalOpen(); }));

  sim.server.Stop();
  EXPECT_EQ(sim.pic.Stats().RemoteResets, 2) << "the cut file went out too";
  const TWrittenFileCheck check =
      CheckWrittenFile(sim.pic.Pic(), first, sim.pic.Flash(), sim.pic.EEPROM(), true, false);
  EXPECT_TRUE(check.Ok) << testing::PrintToString(check.Lines);
  EXPECT_TRUE(JudgeBootPath(sim.pic.Pic(), sim.pic.Flash()).Ok);
}

// A code typed again into the translation grid is reported and emptied;
// the error never passes through Qt's signal code.
TEST_F(TerminalPageTest, ADuplicateTranslationCodeIsReportedAndEmptied) {
  std::vector<QString> reported;
  form_->ReportError = [&](const QString& message) { reported.push_back(message); };
  form_->show();
  QApplication::setActiveWindow(form_.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  ui().PageControl1->setCurrentWidget(ui().TabSheetTermOpt);
  ASSERT_GE(Grid().rowCount(), 1);
  const QString taken = Grid().item(0, 0)->text();
  QTest::mouseClick(ui().bTranslateAdd, Qt::LeftButton);
  QTest::keyClicks(QApplication::focusWidget(), taken);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QCoreApplication::processEvents();  // the cell takes the text from the loop
  EXPECT_EQ(reported, std::vector<QString>{"Duplicate Code " + taken});
  const int added = Grid().rowCount() - 1;
  ASSERT_NE(Grid().item(added, 0), nullptr);
  EXPECT_EQ(Grid().item(added, 0)->text(), "");
}

}  // namespace
}  // namespace vantlebld
