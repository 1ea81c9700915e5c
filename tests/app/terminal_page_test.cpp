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

#include "terminal/term_view.h"
#include "tests/app/window_fixture.h"

namespace vantlebld {
namespace {

using namespace std::string_literals;

// What an action threw, "" when it threw nothing.
template <typename TAction>
std::string Thrown(TAction action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

class TerminalPageTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    Start();
    ui().edTermDumpFilename->setText(Path("dump.bin"));
    form_->OpenInEditor = [this](const QString& name) {
      opened_ << name;
      return opens_;
    };
  }
  QString Path(const char* name) const { return dir_.filePath(name); }
  std::string Dumped(const char* name = "dump.bin") const {
    return FileContent(Path(name).toStdString());
  }
  void Open(const std::string& port) {
    ui().comboPortName->setCurrentText(QString::fromStdString(port));
    form_->bTermOpenClick();
    ASSERT_TRUE(form_->TerminalOpen());
  }
  void OpenRaw() { Open(line_.path); }
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
  TLine line_;
  QStringList opened_;
  bool opens_ = true;  // whether a program takes the file
};

TEST_F(TerminalPageTest, ShowsWhatArrivesInEveryViewAndDumpsEveryByte) {
  // On the terminal page the bootloader's baud box is out of use: grey.
  auto baseOf = [](QWidget* w) { return w->palette().color(QPalette::Base); };
  const QColor grey = QApplication::palette().color(QPalette::Button);
  ui().PageControl1->setCurrentIndex(1);
  EXPECT_EQ(baseOf(ui().ComboBaud->lineEdit()), grey);
  ui().PageControl1->setCurrentIndex(0);
  EXPECT_NE(baseOf(ui().ComboBaud->lineEdit()), grey);
  OpenRaw();
  EXPECT_EQ(baseOf(ui().comboPortName->lineEdit()), grey);
  EXPECT_FALSE(ui().bTermOpen->isEnabled() || ui().comboPortName->isEnabled() ||
               ui().bShowFileHex->isEnabled());
  EXPECT_TRUE(ui().bTermClose->isEnabled() && ui().bRemoteReset->isEnabled() &&
              ui().bTermSend->isEnabled());

  const std::string bytes = "AB\r\n\0\xFF"s;
  Put(bytes);
  PollUntil(bytes.size());
  EXPECT_EQ(Shown(), bytes);
  View(TReceiveView::Hex);
  EXPECT_EQ(Shown(), "41 42 0D 0A 00 FF ");
  View(TReceiveView::Nr);
  EXPECT_EQ(Shown().substr(0, kNrLineLength), "A    65   41  01000001\r\n");
  View(TReceiveView::Gra1);
  EXPECT_TRUE(ui().TermWindow->isHidden() && !ui().ImageGraph->isHidden());
  EXPECT_FALSE(ui().ImageGraph->pixmap().isNull());

  // New bytes reach the graph view, and the text views when chosen again.
  Put("xyz");
  PollUntil(bytes.size() + 3);
  EXPECT_EQ(form_->GraphData(), bytes + "xyz");
  View(TReceiveView::Char);
  EXPECT_EQ(Shown(), bytes + "xyz");

  form_->bTermCloseClick();
  EXPECT_FALSE(form_->TerminalOpen() || form_->Engine().Port->Active());
  EXPECT_TRUE(ui().bTermOpen->isEnabled() && ui().bShowFileHex->isEnabled());
  EXPECT_FALSE(ui().bTermSend->isEnabled() || ui().bRemoteReset->isEnabled());
  EXPECT_EQ(Dumped(), bytes + "xyz");
  EXPECT_EQ(form_->RcvBuffer(), bytes + "xyz") << "a close keeps the buffer";
}

TEST_F(TerminalPageTest, ClearCodeEmptiesTheWindowAndTheDumpKeepsEverything) {
  ui().edClearCode->setText(" 1Bh 63h ");
  form_->edClearCodeExit();
  OpenRaw();
  Put("old\x1B");
  PollUntil(4);
  Put("cnew");
  PollWhileNot([&] { return form_->RcvBuffer().find('w') != std::string::npos; });
  EXPECT_EQ(Shown(), "new");
  EXPECT_EQ(form_->RcvBuffer(), "new");
  Put("more\x1B"s + "c");
  PollWhileNot([&] { return Shown().empty(); });
  form_->bTermCloseClick();
  EXPECT_EQ(Dumped(), "old\x1B"s + "cnewmore\x1B" + "c");

  ui().edClearCode->setText("zz");
  EXPECT_THROW(form_->edClearCodeExit(), std::exception);
  EXPECT_EQ(form_->ClearCode(), "\x1B"s + "c") << "a bad code keeps the old one";
}

// The buffer length is not shown in the window: it goes back as it was
// read. A translation key that is no longer a row stays in the file, so
// it comes back.
TEST_F(TerminalPageTest, SettingsFileGivesTheBufferLengthAndTranslationRows) {
  New("[TERMINAL]\nTerminalBufferLength=10\n[TRANSLATE RCV]\n0Dh=\"<CR>\"\n");
  EXPECT_EQ(form_->TranslateTable()['\r'], "<CR>");
  ui().edTermDumpFilename->setText(Path("dump.bin"));
  OpenRaw();
  View(TReceiveView::Hex);
  Put("abcdefghijklmnopqrstuvwxy");
  PollWhileNot([&] { return form_->RcvBuffer().find('y') != std::string::npos; });
  EXPECT_EQ(form_->RcvBuffer(), "pqrstuvwxy");
  EXPECT_EQ(Shown(), "70 71 72 73 74 75 76 77 78 79 ");

  SetGrid({{"0Ah", "\"<LF>\""}});
  form_.reset();
  const std::string saved = FileContent(BinFile("vantlebld.ini"));
  for (const char* kept : {"0Ah=\"<LF>\"", "0Dh=\"<CR>\"", "TerminalBufferLength=10\n"})
    EXPECT_NE(saved.find(kept), std::string::npos) << kept << " in\n" << saved;
}

TEST_F(TerminalPageTest, RunsWithoutItsDumpFileAndStopsWhenTheAdapterIsPulled) {
  ui().edTermDumpFilename->setText("/nonexistent/dump.bin");
  OpenRaw();
  EXPECT_TRUE(Logged("      Could not open /nonexistent/dump.bin"));
  Put("ok");
  PollUntil(2);
  EXPECT_EQ(Shown(), "ok");
  line_.Close();
  PollWhileNot([&] { return !form_->TerminalOpen(); });
  EXPECT_TRUE(Logged("   TerminalStop due to Reveice error"));
  EXPECT_TRUE(Logged("      Could not close file/nonexistent/dump.bin"));
  EXPECT_TRUE(ui().bTermOpen->isEnabled());
}

TEST_F(TerminalPageTest, HoldingTheRightButtonOnTheGraphHoldsThePoll) {
  OpenRaw();
  View(TReceiveView::Gra2);
  QTest::mousePress(ui().ImageGraph, Qt::RightButton);
  EXPECT_TRUE(form_->GraphFrozen());
  Put("abc");
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
  // The panel shows the read-out whole, even at a five-digit position.
  const QString wide = "pos:[12345]:           41h  42h {43h}  44h  45h ";
  int panels = 0;
  for (const QLabel* panel : ui().StatusBar1->findChildren<QLabel*>()) {
    if (panel->text() != form_->TermStatusText(0)) continue;
    ++panels;
    EXPECT_GE(panel->contentsRect().width(), panel->fontMetrics().horizontalAdvance(wide));
  }
  EXPECT_EQ(panels, 1);
}

TEST_F(TerminalPageTest, SendModesConvertTheTextAndKeepAHistory) {
  OpenRaw();
  const struct {
    TSendMode mode;
    std::string text, sent;
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
    EXPECT_EQ(line_.Sent(c.sent.size()), c.sent) << c.text;
    EXPECT_EQ(ui().edTermSend->itemText(0).toStdString(), c.text);
    EXPECT_TRUE(ui().bTermSend->isEnabled());
  }
  EXPECT_EQ(ui().edTermSend->count(), 3) << "the same text is kept once";

  // Not a number: a beep, nothing sent, the history unchanged.
  SetSendText("1 x");
  form_->bTermSendClick();
  EXPECT_EQ(line_.Sent(0), "");
  EXPECT_NE(ui().edTermSend->itemText(0), "1 x");
  EXPECT_TRUE(ui().bTermSend->isEnabled());

  // The terminal's remote reset sends the pre-codes on the open link.
  ui().edPreCodes->setText("55h 0Dh");
  QTest::mouseClick(ui().bRemoteReset, Qt::LeftButton);
  EXPECT_EQ(line_.Sent(2), "U\r");

  // File mode sends a file whole, a read-only one too, once it exists.
  const std::string file = Path("data.bin").toStdString();
  std::ofstream(file, std::ios::binary) << "\x01\x02\r\nend"s;
  std::filesystem::permissions(file, std::filesystem::perms::owner_read);
  SetSendText(Path("none.bin").toStdString());
  Mode(TSendMode::File);
  EXPECT_FALSE(ui().bTermSend->isEnabled());
  SetSendText(file);
  EXPECT_TRUE(ui().bTermSend->isEnabled());
  form_->bTermSendClick();
  EXPECT_EQ(line_.Sent(7), "\x01\x02\r\nend"s);
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
  OpenRaw();
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

TEST_F(TerminalPageTest, MacrosSendTheirTextAndRightClickStoresTheSendBox) {
  OpenRaw();
  EXPECT_EQ(ui().bMacro1->toolTip().toStdString(), "\\x0d\\x0a");
  EXPECT_TRUE(ui().bMacro2->toolTip().startsWith("LeftClick to sent the macro"));
  Mode(TSendMode::Nr);  // macros ignore the mode
  QTest::mouseClick(ui().bMacro1, Qt::LeftButton);
  EXPECT_EQ(line_.Sent(2), "\r\n");

  SetSendText("go\\x21");
  emit ui().bMacro2->customContextMenuRequested({1, 1});
  EXPECT_EQ(form_->MacroStrings()[1], "go\\x21");
  EXPECT_EQ(ui().bMacro2->toolTip(), "go\\x21");
  form_->SendMacro(2);
  EXPECT_EQ(line_.Sent(3), "go!");

  SetSendText("");
  form_->StoreMacro(1);
  EXPECT_EQ(form_->MacroStrings()[0], "");
  EXPECT_TRUE(ui().bMacro1->toolTip().startsWith("LeftClick to sent the macro"));

  SetSendText("bad\\q");
  form_->StoreMacro(3);
  EXPECT_EQ(Thrown([&] { form_->SendMacro(3); }), "Invalid input string");
  EXPECT_EQ(line_.Sent(0), "");
}

TEST_F(TerminalPageTest, BadTranslationRowStopsTheRebuildAndIsEmptied) {
  SetGrid({{"00", "250"}, {"1 2", "5"}, {"41h", "\"a\""}});
  EXPECT_EQ(Thrown([&] { form_->TranslateListEditorExit(); }), kTranslateAssertion);
  EXPECT_EQ(ui().TranslateListEditor->item(1, 0)->text(), "");
  EXPECT_EQ(form_->TranslateTable()[0], "\xFA");
  EXPECT_EQ(form_->TranslateTable()['A'], "");
  form_->TranslateListEditorExit();  // the emptied row is skipped now
  EXPECT_EQ(form_->TranslateTable()['A'], "a");
  // Codes are unique: a second row for 00 is refused and emptied.
  EXPECT_THROW(ui().TranslateListEditor->item(1, 0)->setText("00"), std::exception);
  EXPECT_EQ(ui().TranslateListEditor->item(1, 0)->text(), "");

  // Only the Char view translates.
  OpenRaw();
  Put("A\0"s);
  PollUntil(2);
  EXPECT_EQ(Shown(), "a\xFA");
  View(TReceiveView::Hex);
  EXPECT_EQ(Shown(), "41 00 ");
}

TEST_F(TerminalPageTest, DumpViewersOpenTheRawFileOrItsHexForm) {
  form_->bShowFileBinClick();
  EXPECT_THROW(form_->bShowFileHexClick(), std::exception);
  EXPECT_TRUE(opened_.isEmpty()) << "no dump yet: nothing to show";

  std::ofstream(Path("dump.bin").toStdString(), std::ios::binary) << "A\r\nB";
  QTest::mouseClick(ui().bShowFileBin, Qt::LeftButton);
  QTest::mouseClick(ui().bShowFileHex, Qt::LeftButton);
  EXPECT_EQ(opened_, (QStringList{Path("dump.bin"), Path("dump.binh")}));
  EXPECT_EQ(Dumped("dump.binh"), "41 42 ");
  // No program for the file: the log says so.
  opens_ = false;
  QTest::mouseClick(ui().bShowFileBin, Qt::LeftButton);
  EXPECT_TRUE(Logged("   No program could open \"" + Path("dump.bin").toStdString() + "\""));
}

// "Add row" opens the new row's first cell: what the person types next
// lands there.
TEST_F(TerminalPageTest, AddRowOpensTheNewCellForTyping) {
  form_->show();
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  ui().PageControl1->setCurrentWidget(ui().TabSheetTermOpt);
  QTableWidget& grid = *ui().TranslateListEditor;
  const int rows = grid.rowCount();
  QTest::mouseClick(ui().bTranslateAdd, Qt::LeftButton);
  ASSERT_EQ(grid.rowCount(), rows + 1);
  QTest::keyClicks(QApplication::focusWidget(), "41");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QCoreApplication::processEvents();  // the cell takes the text from the loop
  ASSERT_NE(grid.item(rows, 0), nullptr);
  EXPECT_EQ(grid.item(rows, 0)->text(), "41");
}

TEST_F(TerminalPageTest, WriteSwitchesToTheTerminalOnTheOpenLink) {
  TSimLine sim(TSimOptions{.RunAfterWrite = true, .StreamRate = 20000});
  ui().cbSwitchToTerminal->setChecked(true);
  ui().edHexName->setCurrentText(kHex);
  Run(true, sim.path);
  EXPECT_TRUE(LoggedStart("   WRITE OK"));
  EXPECT_EQ(ui().PageControl1->currentIndex(), 1);
  ASSERT_TRUE(form_->TerminalOpen());
  EXPECT_TRUE(form_->Engine().Port->Active());
  PollUntil(200);
  EXPECT_NE(Shown().find("\r\n"), std::string::npos) << "the program's text lines arrive";

  // The next job takes the link back from the terminal (the program on
  // the PIC does not answer a search without a reset).
  ui().cbSwitchToTerminal->setChecked(false);
  Run(false, sim.path);
  EXPECT_FALSE(form_->TerminalOpen() || form_->Engine().Port->Active());
  sim.server.Stop();
}

}  // namespace
}  // namespace vantlebld
