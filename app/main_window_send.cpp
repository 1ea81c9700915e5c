// The terminal page of the main window, sending side: the send box with its
// modes and history, keys typed straight to the PIC, the macro buttons, the
// remote reset button and the two viewers of the dump file.
//
// Texts typed for the PIC are taken byte for byte in the terminal's 8-bit
// character set (Latin-1 here).
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QUrl>
#include <algorithm>

#include "app/main_window.h"
#include "app/window_text.h"
#include "terminal/term_view.h"
#include "ui_main_window.h"

namespace vantlebld {

namespace {

constexpr uint8_t kEnterKey = 0x0D;
constexpr const char* kMacroHelp =
    "LeftClick to send the macro (Char\\ style (with escaped hex codes));\r\n"
    "RightClick to store a new string in it (from the left edit)";

// A tooltip shows CR LF as one line break.
QString HintText(const std::string& s) {
  return BytesToText(s).replace("\r\n", "\n");
}

QColor ShadeColor(TSendBoxShade shade) {
  switch (shade) {
    case TSendBoxShade::ButtonFace:
      return QApplication::palette().color(QPalette::Button);
    case TSendBoxShade::Tooltip:
      return QApplication::palette().color(QPalette::ToolTipBase);
    case TSendBoxShade::Window:
      break;
  }
  return QApplication::palette().color(QPalette::Base);
}

// The whole file, opened for reading only (a read-only file can be sent).
std::string ReadWholeFile(const QString& name) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly))
    throw EVantleError(
        "Cannot open file \"" + name.toStdString() + "\". " + file.errorString().toStdString(),
        EVantleError::Kind::FileIO);
  const QByteArray data = file.readAll();
  if (file.error() != QFileDevice::NoError)
    throw EVantleError(
        "Cannot read file \"" + name.toStdString() + "\". " + file.errorString().toStdString(),
        EVantleError::Kind::FileIO);
  return data.toStdString();
}

}  // namespace

std::optional<TSendMode> TForm1::SendMode() const {
  return SendModeFromIndex(ui_->cbTermSelSend->currentIndex());
}

std::string TForm1::SendBoxText() const {
  return TextToBytes(ui_->edTermSend->currentText());
}

void TForm1::SetSendHistory(const std::vector<std::string>& history) {
  QComboBox& box = *ui_->edTermSend;
  const QSignalBlocker quiet(box);
  box.clear();
  for (const std::string& entry : history)
    box.addItem(BytesToText(entry));
  box.setCurrentIndex(history.empty() ? -1 : 0);
}

void TForm1::SendTermByte(uint8_t b) {
  runner_.Call([b](TVantleBootloader& e) { e.SendByte(b); });
}

void TForm1::SendTermString(const std::string& bytes) {
  // In order with the polls, without holding the window while a file goes
  // out; a failure stops the terminal as a failed read does.
  runner_.Send(bytes);
  if (ui_->cbTermEcho->isChecked()) Echo(bytes);
}

void TForm1::Echo(const std::string& bytes) {
  // Shown, not received: the buffer, the dump and the graphs never see it.
  ui_->TermWindow->AppendText(bytes, rcv_.Limit());
  ui_->TermWindow->ScrollToEnd();
}

void TForm1::bTermSendClick() {
  ui_->bTermSend->setEnabled(false);
  // Send is enabled again however the sending ends, errors included.
  struct TReenable {
    QPushButton* button;
    ~TReenable() { button->setEnabled(true); }
  } reenable{ui_->bTermSend};

  const std::optional<TSendMode> mode = SendMode();
  if (!mode) return;
  const std::string text = SendBoxText();
  std::string bytes;
  if (*mode == TSendMode::File) {
    const QString name = ui_->edTermSend->currentText();
    if (!QFileInfo(name).isFile()) return;
    bytes = ReadWholeFile(name);
  } else {
    try {
      bytes = SendBytesForText(*mode, text).value_or(std::string());
    } catch (const ENotationError&) {
      QApplication::beep();
      return;
    }
    // A line of text ends as the program on the PIC expects it.
    if (!SendModeTraits(*mode).SendsEachKey)
      bytes += kLineEnds.at(size_t(std::max(0, ui_->cbTermLineEnd->currentIndex())));
  }
  SendTermString(bytes);
  std::vector<std::string> history;
  for (int i = 0; i < ui_->edTermSend->count(); ++i)
    history.push_back(TextToBytes(ui_->edTermSend->itemText(i)));
  if (AddSendHistory(history, text)) SetSendHistory(history);
}

void TForm1::cbTermSelSendChange() {
  const std::optional<TSendMode> mode = SendMode();
  if (!mode) return;
  const TSendModeTraits& traits = SendModeTraits(*mode);
  QPalette p = ui_->edTermSend->palette();
  p.setColor(QPalette::Base, ShadeColor(traits.Shade));
  ui_->edTermSend->setPalette(p);
  ui_->edTermSend->lineEdit()->setPalette(p);
  edTermSendChange();
  if (traits.Button != TSendButton::WhileFileExists)
    ui_->bTermSend->setEnabled(traits.Button == TSendButton::Enabled);
  if (traits.FocusesSendBox) ui_->edTermSend->setFocus(Qt::OtherFocusReason);
}

void TForm1::edTermSendChange() {
  if (SendMode() != TSendMode::File) return;
  ui_->bTermSend->setEnabled(
      SendButtonEnabled(TSendMode::File, QFileInfo(ui_->edTermSend->currentText()).isFile()));
}

void TForm1::TypeKey(uint8_t key) {
  const std::optional<TSendMode> mode = SendMode();
  if (!mode || !SendModeTraits(*mode).SendsEachKey) return;
  SendTermByte(key);
  if (SendModeTraits(*mode).EchoesEachKey || ui_->cbTermEcho->isChecked())
    Echo(std::string(1, char(key)));
}

void TForm1::TermWindowKeyPress(uint8_t key) {
  termPanels_[1]->setText(BytesToText(KeyPanelText(char(key))));
  const std::optional<TSendMode> mode = SendMode();
  const TSendMode now = ModeAfterReceiveWindowKey(mode.value_or(TSendMode::Char));
  if (now != mode) {
    // Only the list's choice changes: the send box keeps its colour and
    // the Send button its state.
    const QSignalBlocker quiet(ui_->cbTermSelSend);
    ui_->cbTermSelSend->setCurrentIndex(int(now));
  }
  TypeKey(key);
}

void TForm1::edTermSendEnter(Qt::FocusReason reason) {
  // Coming back to the send box after typing in the receive window leaves
  // Type, so the box composes text again. When Type was just chosen from
  // the list, the focus comes here to type in: the mode stays.
  const bool byUser = reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
                      reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
  const std::optional<TSendMode> mode = SendMode();
  if (byUser && mode) {
    const TSendMode now = ModeOnSendBoxEnter(*mode);
    if (now != *mode) {
      const QSignalBlocker quiet(ui_->cbTermSelSend);
      ui_->cbTermSelSend->setCurrentIndex(int(now));
    }
  }
  ui_->bTermSend->setDefault(true);
}

void TForm1::edTermSendExit() {
  ui_->bTermSend->setDefault(false);
}

bool TForm1::SendBoxKeyPress(const QKeyEvent& event) {
  const std::optional<TSendMode> mode = SendMode();
  const bool typing = mode && SendModeTraits(*mode).SendsEachKey;
  if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) {
    if (typing) {
      TypeKey(kEnterKey);
    } else if (ui_->bTermSend->isEnabled()) {
      bTermSendClick();  // Send is the send box's default button
    }
    return true;
  }
  if (typing) {
    if (event.key() == Qt::Key_Backspace) {
      TypeKey(0x08);
    } else {
      for (QChar c : event.text())
        if (c.unicode() <= 0xFF) TypeKey(uint8_t(c.unicode()));
    }
  }
  return false;  // the key goes into the box as well
}

// --- Macros ---

void TForm1::MacroHint(int n) {
  QToolButton* buttons[] = {ui_->bMacro1, ui_->bMacro2, ui_->bMacro3};
  const std::string& text = macroStrings_[size_t(n - 1)];
  buttons[n - 1]->setToolTip(HintText(text.empty() ? kMacroHelp : text));
}

void TForm1::SendMacro(int n) {
  SendTermString(CharEscToBytes(macroStrings_[size_t(n - 1)]));
}

void TForm1::StoreMacro(int n) {
  macroStrings_[size_t(n - 1)] = SendBoxText();
  MacroHint(n);
}

// --- Buttons beside the receive window ---

void TForm1::bRemoteResetClick() {
  RemoteReset();
}

void TForm1::bShowFileBinClick() {
  const QString name = ui_->edTermDumpFilename->text();
  if (QFileInfo(name).isFile()) ShowFile(name);
}

void TForm1::ShowFile(const QString& name) {
  if (!OpenInEditor(name))
    Notice(TLineRole::Step, "No program could open \"" + name.toStdString() +
                                "\": open it with a viewer of your choice, or set the desktop's "
                                "default program for its type");
}

void TForm1::bShowFileHexClick() {
  const QString name = ui_->edTermDumpFilename->text();
  const std::string dump = ReadWholeFile(name);
  const QString hexName = name + "h";
  QFile hex(hexName);
  if (!hex.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw EVantleError(
        "Cannot create file \"" + hexName.toStdString() + "\". " + hex.errorString().toStdString(),
        EVantleError::Kind::FileIO);
  const std::string text = DumpToHexView(dump);
  if (hex.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !hex.flush())
    throw EVantleError(
        "Cannot write file \"" + hexName.toStdString() + "\". " + hex.errorString().toStdString(),
        EVantleError::Kind::FileIO);
  hex.close();
  ShowFile(hexName);
}

void TForm1::SetUpSending() {
  ui_->cbTermSelSend->clear();
  ui_->cbTermSelSend->addItems(QString(kSendModeList).split(','));
  ui_->cbTermSelSend->setCurrentIndex(int(kDefaultSendMode));
  ui_->cbTermSelSend->setToolTip(HintText(kSendModeHint));
  ui_->bTermSend->setEnabled(false);  // until the terminal opens or a mode is chosen
  for (std::string_view name : kLineEndNames)
    ui_->cbTermLineEnd->addItem(QString::fromLatin1(name.data(), qsizetype(name.size())));
  connect(ui_->cbTermSelSend, &QComboBox::currentIndexChanged, this,
          Guarded(&TForm1::cbTermSelSendChange));
  connect(ui_->edTermSend, &QComboBox::currentTextChanged, this,
          Guarded(&TForm1::edTermSendChange));
  connect(ui_->bTermSend, &QPushButton::clicked, this, Guarded(&TForm1::bTermSendClick));
  // Keys and focus reach an editable box's line edit by direct calls from
  // the box, past any filter of the line edit: the box is where a person's
  // keys land. The line edit's own filter serves events sent to it.
  ui_->edTermSend->installEventFilter(this);
  ui_->edTermSend->lineEdit()->installEventFilter(this);
  QToolButton* buttons[] = {ui_->bMacro1, ui_->bMacro2, ui_->bMacro3};
  for (int n = 1; n <= 3; ++n) {
    connect(buttons[n - 1], &QToolButton::clicked, this,
            [this, n] { Guard([&] { SendMacro(n); }); });
    connect(buttons[n - 1], &QWidget::customContextMenuRequested, this,
            [this, n] { Guard([&] { StoreMacro(n); }); });
    MacroHint(n);
  }
  ReportError = [this](const QString& message) {
    QMessageBox::critical(this, QCoreApplication::applicationName(), message);
  };
  OpenInEditor = [](const QString& name) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(name).absoluteFilePath()));
  };
}

}  // namespace vantlebld
