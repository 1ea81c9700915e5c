// The terminal page driven as its user drives it, on a bare pseudo-terminal
// the test writes to and reads from, and on a virtual PIC whose program
// starts after the write.
#include <QFocusEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "terminal/term_view.h"
#include "tests/app/window_fixture.h"

namespace vantlebld {
namespace {

using namespace std::string_literals;

std::string FileContent(const QString& name) {
  std::ifstream in(name.toStdString(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TerminalPageTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Start();
    ui().edTermDumpFilename->setText(Path("dump.bin"));
    form_->ReportError = [this](const QString& m) { errors_ << m; };
    form_->OpenInEditor = [this](const QString& name) { opened_ << name; };
  }
  QString Path(const char* name) const { return dir_.filePath(name); }
  void Open(const QString& port) {
    ui().comboPortName->setCurrentText(port);
    form_->bTermOpenClick();
    ASSERT_TRUE(form_->TerminalOpen());
  }
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
  std::string Shown() { return ui().TermWindow->Text(); }
  void SetSendText(const std::string& text) {
    ui().edTermSend->setCurrentText(QString::fromLatin1(text.data(), qsizetype(text.size())));
  }
  void SetGrid(const std::vector<std::pair<QString, QString>>& rows) {
    QTableWidget& grid = *ui().TranslateListEditor;
    grid.setRowCount(0);
    for (const auto& [code, replacement] : rows) {
      const int r = grid.rowCount();
      grid.insertRow(r);
      grid.setItem(r, 1, new QTableWidgetItem(replacement));
      grid.setItem(r, 0, new QTableWidgetItem(code));
    }
  }

  QTemporaryDir dir_;
  TRawLine line_;
  QStringList errors_;
  QStringList opened_;
};

TEST_F(TerminalPageTest, ShowsWhatArrivesInEveryViewAndDumpsEveryByte) {
  // On the terminal page the bootloader's baud box is out of use: grey.
  auto baseOf = [](QWidget* w) { return w->palette().color(QPalette::Base); };
  const QColor grey = QApplication::palette().color(QPalette::Button);
  ui().PageControl1->setCurrentIndex(1);
  EXPECT_EQ(baseOf(ui().ComboBaud->lineEdit()), grey);
  ui().PageControl1->setCurrentIndex(0);
  EXPECT_NE(baseOf(ui().ComboBaud->lineEdit()), grey);
  Open(QString::fromStdString(line_.SlavePath()));
  EXPECT_EQ(baseOf(ui().comboPortName->lineEdit()), grey);
  EXPECT_FALSE(ui().bTermOpen->isEnabled());
  EXPECT_FALSE(ui().comboPortName->isEnabled());
  EXPECT_FALSE(ui().bShowFileHex->isEnabled());
  EXPECT_TRUE(ui().bTermClose->isEnabled() && ui().bRemoteReset->isEnabled() &&
              ui().bTermSend->isEnabled());

  const std::string bytes = "AB\r\n\0\xFF"s;
  line_.Write(bytes);
  PollUntil(bytes.size());
  EXPECT_EQ(Shown(), bytes);

  View(TReceiveView::Hex);
  EXPECT_EQ(Shown(), "41 42 0D 0A 00 FF ");
  View(TReceiveView::Nr);
  EXPECT_EQ(Shown().size(), bytes.size() * kNrLineLength);
  EXPECT_EQ(Shown().substr(0, kNrLineLength), "A    65   41  01000001\r\n");
  View(TReceiveView::Gra1);
  EXPECT_TRUE(ui().TermWindow->isHidden());
  EXPECT_FALSE(ui().ImageGraph->isHidden());
  EXPECT_EQ(form_->GraphData(), bytes);
  EXPECT_FALSE(ui().ImageGraph->pixmap().isNull());

  // New bytes reach the graph view, and the text views when chosen again.
  line_.Write("xyz");
  PollUntil(bytes.size() + 3);
  EXPECT_EQ(form_->GraphData(), bytes + "xyz");
  View(TReceiveView::Char);
  EXPECT_EQ(Shown(), bytes + "xyz");

  form_->bTermCloseClick();
  EXPECT_FALSE(form_->TerminalOpen());
  EXPECT_FALSE(form_->Engine().Port->Active());
  EXPECT_TRUE(ui().bTermOpen->isEnabled() && ui().bShowFileHex->isEnabled());
  EXPECT_FALSE(ui().bTermSend->isEnabled() || ui().bRemoteReset->isEnabled());
  EXPECT_EQ(FileContent(Path("dump.bin")), bytes + "xyz");
  EXPECT_EQ(form_->RcvBuffer(), bytes + "xyz") << "a close keeps the buffer";
}

TEST_F(TerminalPageTest, ClearCodeEmptiesTheWindowAndTheDumpKeepsEverything) {
  ui().edClearCode->setText(" 1Bh 63h ");
  form_->edClearCodeExit();
  Open(QString::fromStdString(line_.SlavePath()));
  line_.Write("old\x1B");
  PollUntil(4);
  line_.Write("cnew");
  PollWhileNot([&] { return form_->RcvBuffer().find('w') != std::string::npos; });
  EXPECT_EQ(Shown(), "new");
  EXPECT_EQ(form_->RcvBuffer(), "new");
  line_.Write(
      "more\x1B"
      "c");
  PollWhileNot([&] { return Shown().empty(); });
  EXPECT_TRUE(form_->TerminalOpen());
  form_->bTermCloseClick();
  EXPECT_EQ(FileContent(Path("dump.bin")),
            "old\x1B"
            "cnewmore\x1B"
            "c");

  ui().edClearCode->setText("zz");
  EXPECT_THROW(form_->edClearCodeExit(), std::exception);
  EXPECT_EQ(form_->ClearCode(),
            "\x1B"
            "c")
      << "a bad code keeps the old one";
}

TEST_F(TerminalPageTest, BufferLengthComesFromTheSettingsFile) {
  form_.reset();
  std::ofstream(BinFile("vantlebld.ini")) << "[TERMINAL]\nTerminalBufferLength=10\n";
  form_ = std::make_unique<TForm1>(QStringList{});
  ui().edTermDumpFilename->setText(Path("dump.bin"));
  Open(QString::fromStdString(line_.SlavePath()));
  View(TReceiveView::Hex);
  line_.Write("abcdefghijklmnopqrstuvwxy");
  PollWhileNot([&] { return form_->RcvBuffer().find('y') != std::string::npos; });
  EXPECT_EQ(form_->RcvBuffer(), "pqrstuvwxy");
  EXPECT_EQ(Shown(), "70 71 72 73 74 75 76 77 78 79 ");
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, PortFailureWhilePollingClosesTheTerminal) {
  auto line = std::make_unique<TRawLine>();
  Open(QString::fromStdString(line->SlavePath()));
  line.reset();  // the adapter is pulled
  PollWhileNot([&] { return !form_->TerminalOpen(); });
  EXPECT_TRUE(Logged("   TerminalStop due to Reveice error"));
  EXPECT_TRUE(ui().bTermOpen->isEnabled());
}

TEST_F(TerminalPageTest, DumpFileThatCannotBeCreatedIsLoggedAndTheTerminalRuns) {
  ui().edTermDumpFilename->setText("/nonexistent/dump.bin");
  Open(QString::fromStdString(line_.SlavePath()));
  EXPECT_TRUE(Logged("      Could not open /nonexistent/dump.bin"));
  line_.Write("ok");
  PollUntil(2);
  EXPECT_EQ(Shown(), "ok");
  form_->bTermCloseClick();
  EXPECT_TRUE(Logged("      Could not close file/nonexistent/dump.bin"));
}

TEST_F(TerminalPageTest, HoldingTheRightButtonOnTheGraphHoldsThePoll) {
  Open(QString::fromStdString(line_.SlavePath()));
  View(TReceiveView::Gra2);
  QTest::mousePress(ui().ImageGraph, Qt::RightButton);
  EXPECT_TRUE(form_->GraphFrozen());
  line_.Write("abc");
  QTest::qWait(50);
  form_->TimerTerminalTimer();
  EXPECT_EQ(form_->RcvBuffer(), "");
  QTest::mouseRelease(ui().ImageGraph, Qt::RightButton);
  EXPECT_FALSE(form_->GraphFrozen());
  PollUntil(3);
  EXPECT_EQ(form_->GraphData(), "abc");

  QMouseEvent move(QEvent::MouseMove, QPointF(2, 5), QPointF(2, 5), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(ui().ImageGraph, &move);
  EXPECT_EQ(form_->TermStatusText(0).toStdString(),
            "pos:[2]:             ?    61h {62h}  63h   ?   ");
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, SendModesConvertTheTextAndKeepAHistory) {
  Open(QString::fromStdString(line_.SlavePath()));
  struct {
    TSendMode mode;
    std::string text;
    std::string sent;
  } cases[] = {
      {TSendMode::Char, "A\\x42", "A\\x42"},
      {TSendMode::CharEsc, "A\\x42", "AB"},
      {TSendMode::Mix2, "71 47h,\"ok\"", "GGok"},
      {TSendMode::Nr, "1 2 256", ""},
  };
  for (const auto& c : cases) {
    Mode(c.mode);
    SetSendText(c.text);
    form_->bTermSendClick();
    EXPECT_EQ(line_.ReadAvailable(c.sent.empty() ? 100 : 1000), c.sent) << c.text;
    EXPECT_EQ(ui().edTermSend->itemText(0).toStdString(), c.text);
    EXPECT_TRUE(ui().bTermSend->isEnabled());
  }
  EXPECT_EQ(ui().edTermSend->count(), 3) << "the same text is kept once";

  // The terminal's remote reset sends the pre-codes on the open link.
  ui().edPreCodes->setText("55h 0Dh");
  QTest::mouseClick(ui().bRemoteReset, Qt::LeftButton);
  EXPECT_EQ(line_.ReadAvailable(), "U\r");

  // Not a number: a beep, nothing sent, the history unchanged.
  Mode(TSendMode::Nr);
  SetSendText("1 x");
  form_->bTermSendClick();
  EXPECT_EQ(line_.ReadAvailable(100), "");
  EXPECT_NE(ui().edTermSend->itemText(0), "1 x");
  EXPECT_TRUE(ui().bTermSend->isEnabled());
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, FileModeSendsAReadOnlyFileWhole) {
  Open(QString::fromStdString(line_.SlavePath()));
  const QString file = Path("data.bin");
  std::ofstream(file.toStdString(), std::ios::binary) << "\x01\x02\r\nend"s;
  std::filesystem::permissions(file.toStdString(), std::filesystem::perms::owner_read);

  SetSendText(Path("none.bin").toStdString());
  Mode(TSendMode::File);
  EXPECT_FALSE(ui().bTermSend->isEnabled());
  SetSendText(file.toStdString());
  EXPECT_TRUE(ui().bTermSend->isEnabled());
  form_->bTermSendClick();
  EXPECT_EQ(line_.ReadAvailable(), "\x01\x02\r\nend"s);
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, KeysTypedInTheReceiveWindowGoOutAtOnce) {
  Open(QString::fromStdString(line_.SlavePath()));
  ASSERT_EQ(ui().cbTermSelSend->currentIndex(), int(TSendMode::CharEsc));
  QTest::keyClick(ui().TermWindow, Qt::Key_X);
  EXPECT_EQ(ui().cbTermSelSend->currentIndex(), int(TSendMode::Type));
  EXPECT_TRUE(ui().bTermSend->isEnabled()) << "the switch has no other effect";
  EXPECT_EQ(form_->TermStatusText(1).toStdString(), "> 78 <");
  QTest::keyClick(ui().TermWindow, Qt::Key_Return);
  EXPECT_EQ(line_.ReadAvailable(), "x\r");
  EXPECT_EQ(Shown(), "");

  Mode(TSendMode::TypEcho);
  EXPECT_FALSE(ui().bTermSend->isEnabled());
  QTest::keyClicks(ui().TermWindow, "hi");
  EXPECT_EQ(line_.ReadAvailable(), "hi");
  EXPECT_EQ(Shown(), "hi");
  View(TReceiveView::Hex);
  View(TReceiveView::Char);
  EXPECT_EQ(Shown(), "") << "echoed keys are not received bytes";
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, SendBoxLeavesTypeWhenTheUserComesBack) {
  auto focusIn = [this](Qt::FocusReason why) {
    QFocusEvent event(QEvent::FocusIn, why);
    QApplication::sendEvent(ui().edTermSend->lineEdit(), &event);
  };
  Mode(TSendMode::Type);
  focusIn(Qt::OtherFocusReason);  // the focus the mode choice itself moves
  EXPECT_EQ(ui().cbTermSelSend->currentIndex(), int(TSendMode::Type));
  focusIn(Qt::MouseFocusReason);
  EXPECT_EQ(ui().cbTermSelSend->currentIndex(), int(TSendMode::CharEsc));
  Mode(TSendMode::TypEcho);
  focusIn(Qt::MouseFocusReason);
  EXPECT_EQ(ui().cbTermSelSend->currentIndex(), int(TSendMode::TypEcho));

  // Typing in the box in Type mode sends each key; Enter is a key too.
  Open(QString::fromStdString(line_.SlavePath()));
  Mode(TSendMode::Type);
  QTest::keyClicks(ui().edTermSend->lineEdit(), "ab");
  QTest::keyClick(ui().edTermSend->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(line_.ReadAvailable(), "ab\r");
  EXPECT_EQ(ui().edTermSend->currentText(), "ab");
  // In a converting mode Enter presses Send.
  Mode(TSendMode::CharEsc);
  SetSendText("\\x41");
  QTest::keyClick(ui().edTermSend->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(line_.ReadAvailable(), "A");
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, MacrosSendTheirTextAndRightClickStoresTheSendBox) {
  Open(QString::fromStdString(line_.SlavePath()));
  EXPECT_EQ(ui().bMacro1->toolTip().toStdString(), "\\x0d\\x0a");
  EXPECT_TRUE(ui().bMacro2->toolTip().startsWith("LeftClick to sent the macro"));
  Mode(TSendMode::Nr);  // macros ignore the mode
  QTest::mouseClick(ui().bMacro1, Qt::LeftButton);
  EXPECT_EQ(line_.ReadAvailable(), "\r\n");

  SetSendText("go\\x21");
  emit ui().bMacro2->customContextMenuRequested({1, 1});
  EXPECT_EQ(form_->MacroStrings()[1], "go\\x21");
  EXPECT_EQ(ui().bMacro2->toolTip(), "go\\x21");
  form_->SendMacro(2);
  EXPECT_EQ(line_.ReadAvailable(), "go!");

  SetSendText("");
  form_->StoreMacro(1);
  EXPECT_EQ(form_->MacroStrings()[0], "");
  EXPECT_TRUE(ui().bMacro1->toolTip().startsWith("LeftClick to sent the macro"));

  SetSendText("bad\\q");
  form_->StoreMacro(3);
  try {
    form_->SendMacro(3);
    ADD_FAILURE() << "a bad macro was sent";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Invalid input string");
  }
  EXPECT_EQ(line_.ReadAvailable(100), "");
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, BadTranslationRowStopsTheRebuildAndIsEmptied) {
  SetGrid({{"00", "250"}, {"1 2", "5"}, {"41h", "\"a\""}});
  try {
    form_->TranslateListEditorExit();
    ADD_FAILURE() << "the bad row was taken";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Assertion failure (vantlebldMainWin, line 2094)");
  }
  EXPECT_EQ(ui().TranslateListEditor->item(1, 0)->text(), "");
  EXPECT_EQ(form_->TranslateTable()[0], "\xFA");
  EXPECT_EQ(form_->TranslateTable()['A'], "");
  form_->TranslateListEditorExit();  // the emptied row is skipped now
  EXPECT_EQ(form_->TranslateTable()['A'], "a");
  // Codes are unique: a second row for 00 is refused and emptied.
  EXPECT_THROW(ui().TranslateListEditor->item(1, 0)->setText("00"), std::exception);
  EXPECT_EQ(ui().TranslateListEditor->item(1, 0)->text(), "");

  // Only the Char view translates.
  Open(QString::fromStdString(line_.SlavePath()));
  line_.Write("A\0"s);
  PollUntil(2);
  EXPECT_EQ(Shown(), "a\xFA");
  View(TReceiveView::Hex);
  EXPECT_EQ(Shown(), "41 00 ");
  form_->bTermCloseClick();
}

TEST_F(TerminalPageTest, StoredTranslationRowsApplyAtStartAndGoBackAtExit) {
  form_.reset();
  std::ofstream(BinFile("vantlebld.ini")) << "[TRANSLATE RCV]\n0Dh=\"<CR>\"\n";
  form_ = std::make_unique<TForm1>(QStringList{});
  EXPECT_EQ(form_->TranslateTable()['\r'], "<CR>");
  SetGrid({{"0Ah", "\"<LF>\""}});
  form_.reset();
  std::ifstream in(BinFile("vantlebld.ini"));
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_NE(s.str().find("0Ah=\"<LF>\""), std::string::npos) << s.str();
  // A key that is no longer a row stays in the file, so it comes back.
  EXPECT_NE(s.str().find("0Dh=\"<CR>\""), std::string::npos);
}

TEST_F(TerminalPageTest, DumpViewersOpenTheRawFileOrItsHexForm) {
  form_->bShowFileBinClick();
  EXPECT_TRUE(opened_.isEmpty()) << "no dump yet: nothing to show";
  EXPECT_THROW(form_->bShowFileHexClick(), std::exception);
  EXPECT_TRUE(opened_.isEmpty());

  std::ofstream(Path("dump.bin").toStdString(), std::ios::binary) << "A\r\nB";
  form_->bShowFileBinClick();
  form_->bShowFileHexClick();
  EXPECT_EQ(opened_, (QStringList{Path("dump.bin"), Path("dump.binh")}));
  EXPECT_EQ(FileContent(Path("dump.binh")), "41 42 ");
}

TEST_F(TerminalPageTest, WriteSwitchesToTheTerminalOnTheOpenLink) {
  TSimOptions options;
  options.RunAfterWrite = true;
  options.StreamRate = 20000;
  TVirtualPic pic(k18F252, Pic18F252(), options);
  TPtyServer server(pic);
  const QString path = QString::fromStdString(server.Open());
  server.Start();

  ui().cbSwitchToTerminal->setChecked(true);
  ui().edHexName->setCurrentText(kHex);
  Run(true, path);
  EXPECT_TRUE(LoggedStart("   WRITE OK"));
  EXPECT_EQ(ui().PageControl1->currentIndex(), 1);
  ASSERT_TRUE(form_->TerminalOpen());
  EXPECT_TRUE(form_->Engine().Port->Active());
  PollUntil(200);
  EXPECT_NE(Shown().find("\r\n"), std::string::npos) << "the program's text lines arrive";

  // The next job takes the link back from the terminal (the program on
  // the PIC does not answer a search without a reset).
  ui().cbSwitchToTerminal->setChecked(false);
  ui().seSearchDelay->setValue(1);
  Run(false, path);
  EXPECT_FALSE(form_->TerminalOpen());
  EXPECT_FALSE(form_->Engine().Port->Active());
  server.Stop();
}

}  // namespace
}  // namespace vantlebld
