// The terminal page of the main window, receiving side: opening and closing
// on the engine's link, the 100 ms poll, the receive views (text and
// graph), the translation table and the clear code.
//
// The poll takes only what already waits at the port and never blocks; the
// text views paint only their visible rows, so a full buffer costs the same
// as a short one.
#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableWidget>
#include <algorithm>

#include "app/main_window.h"
#include "app/window_text.h"
#include "terminal/graph.h"
#include "terminal/term_view.h"
#include "ui_main_window.h"

namespace vantlebld {

namespace {

constexpr int kTerminalPollMs = 100;
constexpr int kPanelMargin = 8;     // the frame around a status bar panel's text
constexpr int kKeyPanelWidth = 50;  // the last key typed into the receive window
constexpr int kTerminalPage = 1;

// A box painted grey while it is out of use, in the window's colour
// otherwise.
void Shade(QWidget& w, bool grey) {
  QPalette p = w.palette();
  p.setColor(QPalette::Base, grey ? QApplication::palette().color(QPalette::Button)
                                  : QApplication::palette().color(QPalette::Base));
  w.setPalette(p);
  // An editable list paints its text in its own line edit.
  if (auto* list = qobject_cast<QComboBox*>(&w); list != nullptr && list->lineEdit() != nullptr)
    list->lineEdit()->setPalette(p);
}

TReceiveView ViewOf(int index) {
  return index >= 0 && index < kReceiveViewCount ? TReceiveView(index) : TReceiveView::Char;
}

}  // namespace

void TForm1::SetUpTerminal() {
  TimerTerminal.setInterval(kTerminalPollMs);
  connect(&TimerTerminal, &QTimer::timeout, this, Guarded(&TForm1::TimerTerminalTimer));

  const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  ui_->TermWindow->setFont(fixed);
  ui_->Edit1->setFont(fixed);
  // The ruler reads from its start, its marks over the receive window's
  // columns (a line edit keeps 2 pixels before its text).
  ui_->Edit1->setTextMargins(std::max(0, ui_->TermWindow->frameWidth() - 2), 0, 0, 0);
  ui_->Edit1->setCursorPosition(0);
  ui_->TermWindow->SetPaperColor(QApplication::palette().color(QPalette::Button));
  ui_->ImageGraph->setVisible(false);
  ui_->ImageGraph->setMouseTracking(true);
  ui_->ImageGraph->setMinimumSize(1, 1);
  ui_->ImageGraph->installEventFilter(this);

  for (int i = 0; i < 2; ++i) {
    termPanels_[i] = new QLabel(ui_->StatusBar1);
    ui_->StatusBar1->addWidget(termPanels_[i]);
  }
  termPanels_[0]->setFont(fixed);
  // Wide enough for the longest read-out, five values around position 99999.
  const QString widest =
      QString::fromStdString(vantlebld::ShowGraphPosition(99999, 1, std::string(100000, '\xFF')));
  termPanels_[0]->setFixedWidth(QFontMetrics(fixed).horizontalAdvance(widest) + kPanelMargin);
  termPanels_[1]->setFixedWidth(kKeyPanelWidth);

  ui_->TranslateListEditor->horizontalHeader()->setStretchLastSection(true);
  ui_->TranslateListEditor->verticalHeader()->setVisible(false);
  connect(ui_->TranslateListEditor, &QTableWidget::cellChanged, this,
          Guarded(&TForm1::TranslateListEditorChanged));
  connect(ui_->bTranslateAdd, &QPushButton::clicked, this, [this] {
    QTableWidget& grid = *ui_->TranslateListEditor;
    grid.insertRow(grid.rowCount());
    grid.setCurrentCell(grid.rowCount() - 1, 0);
    // The new row has no items yet: open the editor on the cell itself.
    grid.setFocus(Qt::OtherFocusReason);
    grid.edit(grid.currentIndex());
  });
  connect(ui_->bTranslateDelete, &QPushButton::clicked, this, [this] {
    QTableWidget& grid = *ui_->TranslateListEditor;
    if (grid.currentRow() >= 0) grid.removeRow(grid.currentRow());
    Guard([this] { TranslateListEditorExit(); });
  });
  // The table is rebuilt when the focus leaves the grid (and its cell
  // editors) for another control.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    QWidget* grid = ui_->TranslateListEditor;
    const bool wasIn = old != nullptr && (old == grid || grid->isAncestorOf(old));
    const bool isIn = now != nullptr && (now == grid || grid->isAncestorOf(now));
    if (wasIn && !isIn && now != nullptr) Guard([this] { TranslateListEditorExit(); });
  });
  connect(ui_->edClearCode, &QLineEdit::editingFinished, this, Guarded(&TForm1::edClearCodeExit));
  connect(ui_->seGr2reference, &QSpinBox::valueChanged, this,
          Guarded(&TForm1::seGr2referenceChange));
  Gr2Reference = ui_->seGr2reference->value();

  connect(ui_->bTermOpen, &QPushButton::clicked, this, Guarded(&TForm1::bTermOpenClick));
  connect(ui_->bTermClose, &QPushButton::clicked, this, Guarded(&TForm1::bTermCloseClick));
  connect(ui_->bClear, &QPushButton::clicked, this, Guarded(&TForm1::bClearClick));
  connect(ui_->cbTermSelRcv, &QComboBox::currentIndexChanged, this,
          Guarded(&TForm1::cbTermSelRcvChange));
  connect(ui_->bShowFileBin, &QToolButton::clicked, this, Guarded(&TForm1::bShowFileBinClick));
  connect(ui_->bShowFileHex, &QToolButton::clicked, this, Guarded(&TForm1::bShowFileHexClick));
  connect(ui_->bRemoteReset, &QToolButton::clicked, this, Guarded(&TForm1::bRemoteResetClick));
  connect(ui_->TermWindow, &TTermView::KeyTyped, this, Guarded(&TForm1::TermWindowKeyPress));
  connect(ui_->PageControl1, &QTabWidget::currentChanged, this,
          [this](int index) { index == kTerminalPage ? TerminalShow() : TerminalHide(); });
}

void TForm1::LoadTerminalSettings(const TSettings& s) {
  rcv_.SetLimit(s.TerminalBufferLength);
  macroStrings_ = s.MacroStrings;
  ui_->cbTermLineEnd->setCurrentIndex(s.SendLineEnd);
  ui_->cbTermEcho->setChecked(s.LocalEcho);
  for (int n = 1; n <= 3; ++n)
    MacroHint(n);
  QTableWidget& grid = *ui_->TranslateListEditor;
  const QSignalBlocker quiet(grid);
  grid.setRowCount(0);
  for (const TTranslateRow& row : s.TranslateRows) {
    const int r = grid.rowCount();
    grid.insertRow(r);
    grid.setItem(r, 0, new QTableWidgetItem(BytesToText(row.Code)));
    grid.setItem(r, 1, new QTableWidgetItem(BytesToText(row.New)));
  }
}

void TForm1::SaveTerminalSettings(TSettings& s) const {
  s.MacroStrings = macroStrings_;
  s.SendLineEnd = std::max(0, ui_->cbTermLineEnd->currentIndex());
  s.LocalEcho = ui_->cbTermEcho->isChecked();
  s.TranslateRows.clear();
  for (const TTranslateRule& row : TranslateGridRows())
    s.TranslateRows.push_back({row.Code, row.New});
  const QFont font = ui_->TermWindow->font();
  s.FontName = font.family().toStdString();
  s.FontSize = font.pointSize() > 0 ? font.pointSize() : s.FontSize;
  s.FontBold = font.bold() && !font.italic() && !font.underline() && !font.strikeOut();
}

QString TForm1::TermStatusText(int panel) const {
  return panel >= 0 && panel < 2 ? termPanels_[panel]->text() : QString();
}

// --- Opening and closing ---

void TForm1::bTermOpenClick() {
  if (jobRunning_) return;  // the job holds the link
  const int32_t baud = BaudRateOf(ui_->cbTerminalBaud->currentText().toStdString());
  bool opened = false;
  runner_.Call([&opened, port = PortToOpen(), baud](TVantleBootloader& e) {
    opened = e.Connect(port, baud);
  });
  if (opened) StartTerminal();
}

void TForm1::bTermCloseClick() {
  StopHexWatch();  // the user has done with the program on the PIC
  StopTerminal(true);
}

void TForm1::StartTerminal() {
  runner_.Call([baud = BaudRateOf(ui_->cbTerminalBaud->currentText().toStdString())](
                   TVantleBootloader& e) { e.Configure(baud); });
  ui_->bTermOpen->setEnabled(false);
  ui_->bShowFileHex->setEnabled(false);
  ui_->cbTerminalBaud->setEnabled(false);
  ui_->comboPortName->setEnabled(false);
  Shade(*ui_->comboPortName, true);
  ui_->bTermClose->setEnabled(true);
  ui_->bRemoteReset->setEnabled(true);
  ui_->bTermSend->setEnabled(true);
  ui_->TermWindow->SetPaperColor(QApplication::palette().color(QPalette::Base));

  DumpFile.setFileName(ui_->edTermDumpFilename->text());
  if (!DumpFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    Notice(TLineRole::Problem, "Could not open " + DumpFile.fileName().toStdString() + ": " +
                                   DumpFile.errorString().toStdString() +
                                   "; the terminal runs without its dump (name another file "
                                   "beside Clear, then Close and Open)");
  }
  TimerTerminal.start();
  UpdateHexWatch();
}

void TForm1::StopTerminal(bool closePort) {
  if (TimerTerminal.isActive()) {
    TimerTerminal.stop();
    ui_->bTermOpen->setEnabled(true);
    ui_->bShowFileHex->setEnabled(true);
    ui_->cbTerminalBaud->setEnabled(true);
    ui_->comboPortName->setEnabled(true);
    Shade(*ui_->comboPortName, false);
    ui_->bTermClose->setEnabled(false);
    ui_->bRemoteReset->setEnabled(false);
    ui_->bTermSend->setEnabled(false);
    ui_->TermWindow->SetPaperColor(QApplication::palette().color(QPalette::Button));

    // A dump that never opened has been reported already.
    if (DumpFile.isOpen()) {
      bool closed = DumpFile.flush();
      DumpFile.close();
      closed = closed && DumpFile.error() == QFileDevice::NoError;
      if (!closed)
        Notice(TLineRole::Problem, "Could not close " + DumpFile.fileName().toStdString() + ": " +
                                       DumpFile.errorString().toStdString() +
                                       "; the dump may lack its last bytes (is the disk full?)");
    }
    if (closePort) runner_.Call([](TVantleBootloader& e) { e.Disconnect(); });
    UpdateHexWatch();
  }
}

// --- The poll ---

void TForm1::TimerTerminalTimer() {
  if (graphFrozen_) return;  // the bytes wait at the port until the graph is let go
  // The runner reads on its thread; what arrived comes back through
  // TerminalReceived.
  runner_.Poll();
}

void TForm1::TerminalReceived(const std::string& chunk) {
  if (!TerminalOpen()) return;  // a read that was under way when the terminal closed
  // Every byte goes to the dump, clear codes included, before the views
  // see them.
  const bool dumped = DumpFile.isOpen() &&
                      DumpFile.write(chunk.data(), static_cast<qint64>(chunk.size())) ==
                          static_cast<qint64>(chunk.size()) &&
                      DumpFile.flush();
  if (!dumped) QApplication::beep();
  ShowReceived(rcv_.Take(chunk));
}

void TForm1::TerminalReadFailed(const QString& reason) {
  if (!TerminalOpen()) return;
  try {
    StopTerminal(true);
  } catch (const std::exception&) {
    // the link is gone already; the line below says why the terminal stopped
  }
  Notice(TLineRole::Step, "Terminal closed: the link to " + PortToOpen() + " failed (" +
                              reason.toStdString() +
                              "); check the cable and the adapter, then click Open again");
}

void TForm1::ShowReceived(const TReceived& received) {
  // The buffer has been emptied up to the code already; the window follows.
  if (received.Cleared) ui_->TermWindow->Clear();
  const TReceiveView view = ViewOf(ui_->cbTermSelRcv->currentIndex());
  TTermView& window = *ui_->TermWindow;
  switch (view) {
    case TReceiveView::Char: {
      if (received.New.empty()) return;
      const std::string rendered = TranslateReceived(received.New, translateTable_);
      // Each byte shows as at least one character; an expanding table
      // keeps as many more characters as it adds.
      const size_t perByte = std::max<size_t>(1, rendered.size() / received.New.size());
      window.AppendText(rendered, rcv_.Limit() * perByte);
      window.ScrollToEnd();
      break;
    }
    case TReceiveView::Hex:
    case TReceiveView::Nr:
      window.SetText(FormatReceived(rcv_.Buffer(), int(view)));
      window.ScrollToEnd();
      break;
    case TReceiveView::Gra1:
    case TReceiveView::Gra2:
      DrawGraph(rcv_.Buffer(), int(view) - int(TReceiveView::Gra1));
      break;
  }
}

void TForm1::bClearClick() {
  ui_->TermWindow->Clear();
  rcv_.Clear();
}

void TForm1::cbTermSelRcvChange() {
  termPanels_[0]->clear();
  const TReceiveView view = ViewOf(ui_->cbTermSelRcv->currentIndex());
  if (IsGraphView(view)) {
    ui_->TermWindow->setVisible(false);
    ui_->ImageGraph->setVisible(true);
    // The graph is drawn at the size it takes in the page now.
    ui_->TabSheetTerminal->layout()->activate();
    DrawGraph(rcv_.Buffer(), int(view) - int(TReceiveView::Gra1));
  } else {
    ui_->ImageGraph->setVisible(false);
    ui_->TermWindow->setVisible(true);
    ui_->TermWindow->SetText(FormatReceived(rcv_.Buffer(), int(view), translateTable_));
    ui_->TermWindow->ScrollToEnd();
  }
}

void TForm1::TerminalShow() {
  Shade(*ui_->ComboBaud, true);
}

void TForm1::TerminalHide() {
  Shade(*ui_->ComboBaud, false);
}

// --- Graphs ---

void TForm1::DrawGraph(const std::string& samples, int kind) {
  const TGraphSettings settings{ui_->seXAxisCompress->value(), Gr2Reference};
  const QImage image =
      vantlebld::DrawGraph(samples, kind == 0 ? TGraphKind::Gra1 : TGraphKind::Gra2,
                           ui_->ImageGraph->size(), settings, graphData_);
  ui_->ImageGraph->setPixmap(QPixmap::fromImage(image));
}

void TForm1::ShowGraphPosition(int x) {
  termPanels_[0]->setText(
      BytesToText(vantlebld::ShowGraphPosition(x, ui_->seXAxisCompress->value(), graphData_)));
}

void TForm1::seGr2referenceChange() {
  Gr2Reference = ui_->seGr2reference->value();
}

bool TForm1::TerminalEventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->ImageGraph) {
    switch (event->type()) {
      case QEvent::MouseMove:
        ShowGraphPosition(static_cast<QMouseEvent*>(event)->position().toPoint().x());
        return false;
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
        // Holding the right button freezes the graph to read it.
        if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
          graphFrozen_ = event->type() == QEvent::MouseButtonPress;
        return false;
      default:
        return false;
    }
  }
  if (watched == ui_->edTermSend || watched == ui_->edTermSend->lineEdit()) {
    if (event->type() == QEvent::FocusIn) {
      edTermSendEnter(static_cast<QFocusEvent*>(event)->reason());
    } else if (event->type() == QEvent::FocusOut) {
      edTermSendExit();
    } else if (event->type() == QEvent::KeyPress) {
      return SendBoxKeyPress(*static_cast<QKeyEvent*>(event));
    }
  }
  return false;
}

// --- Translation table and clear code ---

std::vector<TTranslateRule> TForm1::TranslateGridRows() const {
  const QTableWidget& grid = *ui_->TranslateListEditor;
  std::vector<TTranslateRule> rows;
  for (int r = 0; r < grid.rowCount(); ++r) {
    auto cell = [&](int c) {
      const QTableWidgetItem* item = grid.item(r, c);
      return item != nullptr ? TextToBytes(item->text()) : std::string();
    };
    rows.push_back({cell(0), cell(1)});
  }
  return rows;
}

void TForm1::TranslateListEditorExit() {
  QTableWidget& grid = *ui_->TranslateListEditor;
  const auto fault = RebuildTranslateTable(TranslateGridRows(), translateTable_);
  if (!fault) return;
  // The faulty row is taken out of the next rebuild before the user is told.
  {
    const QSignalBlocker quiet(grid);
    if (QTableWidgetItem* code = grid.item(int(fault->Row), 0)) code->setText(QString());
  }
  throw EVantleError(fault->Message, EVantleError::Kind::Assertion);
}

void TForm1::TranslateListEditorChanged(int row, int column) {
  if (column != 0) return;
  QTableWidget& grid = *ui_->TranslateListEditor;
  QTableWidgetItem* changed = grid.item(row, 0);
  if (changed == nullptr || changed->text().isEmpty()) return;
  // Codes are unique: a second row for the same text would never apply.
  for (int r = 0; r < grid.rowCount(); ++r) {
    const QTableWidgetItem* other = grid.item(r, 0);
    if (r != row && other != nullptr && other->text() == changed->text()) {
      const QString text = changed->text();
      const QSignalBlocker quiet(grid);
      changed->setText(QString());
      throw EVantleError("Duplicate Code " + text.toStdString());
    }
  }
}

void TForm1::edClearCodeExit() {
  rcv_.SetClearCode(ParseClearCode(TextToBytes(ui_->edClearCode->text())));
}

}  // namespace vantlebld
