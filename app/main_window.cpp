#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextStream>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

#include "app/console.h"
#include "app/map_window.h"
#include "app/settings.h"
#include "app/window_text.h"
#include "engine/format.h"
#include "engine/remote_reset.h"
#include "platform/port_enumerator.h"
#include "terminal/notations.h"
#include "tools/brg_calculator.h"
#include "ui_main_window.h"

namespace vantlebld {

namespace {

constexpr int kStartDelayMs = 100;
constexpr int kEndWaitMs = 2000;
constexpr int kMessagesPage = 0;
constexpr int kTerminalPage = 1;
constexpr int kStatusPanelWidth = 200;
// A line edit's frame and margins around its text, in pixels.
constexpr int kEditFrameWidth = 16;
// How often the watched HEX file is looked at; it counts once it has stood
// still for THexFileWatch::kSettleMs.
constexpr int kHexWatchPollMs = 50;

std::string ToStd(const QString& s) {
  return s.toLocal8Bit().toStdString();
}
QString ToQt(const std::string& s) {
  return QString::fromLocal8Bit(s.c_str(), static_cast<qsizetype>(s.size()));
}

// The message pane as the log sees it: a plain-text edit, one block a line.
class TMemoPane final : public TLogPane {
 public:
  explicit TMemoPane(QPlainTextEdit& memo) : memo_(memo) {}
  void RemoveLastLine() override {
    QTextCursor c(memo_.document());
    c.setPosition(LastTextBlock().position());
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    c.removeSelectedText();
    if (memo_.document()->blockCount() > 1) c.deletePreviousChar();
  }
  void AddLine(const std::string& line) override {
    const QString shown = ToQt(PaneText(line));
    if (OnPrompt()) {
      QTextCursor c(memo_.document());
      c.movePosition(QTextCursor::End);
      c.insertText(shown);
    } else {
      memo_.appendPlainText(shown);
    }
    // The newest line in view, read from its start: scrolling sideways to
    // the end of a long line would hide the start of every line. The caret
    // then goes to the end of the text.
    memo_.moveCursor(QTextCursor::End);
    memo_.moveCursor(QTextCursor::StartOfBlock);
    memo_.ensureCursorVisible();
    memo_.moveCursor(QTextCursor::End);
    memo_.horizontalScrollBar()->setValue(0);
  }
  // A fresh empty line at the end with the caret on it, where the user
  // types the next console command.
  void Prompt() override {
    if (!OnPrompt() && !memo_.document()->lastBlock().text().isEmpty()) memo_.appendPlainText("");
    memo_.moveCursor(QTextCursor::End);
  }

 private:
  // The last line is the empty one Prompt left.
  bool OnPrompt() const {
    return memo_.document()->blockCount() > 1 && memo_.document()->lastBlock().text().isEmpty();
  }
  QTextBlock LastTextBlock() const {
    const QTextBlock last = memo_.document()->lastBlock();
    return OnPrompt() ? last.previous() : last;
  }
  QPlainTextEdit& memo_;
};

// The first dotted part that counts for users: 1.2.3.4 shows as 1.2.3.
QString ShortVersion(const QString& version) {
  const qsizetype dot = version.lastIndexOf('.');
  return version.count('.') >= 3 && dot > 0 ? version.left(dot) : version;
}

}  // namespace

TForm1::TForm1(const QStringList& args, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::TForm1>()), args_(args) {
  ui_->setupUi(this);
  pane_ = std::make_unique<TMemoPane>(*ui_->Memo1);
  log_ = std::make_unique<TWindowLog>(*pane_);
  setAcceptDrops(true);
  programDir_ = ProgramDirectory();

  // The runner's signals arrive queued: between the window's own events.
  connect(&runner_, &TJobRunner::Event, this, [this](const TJobEvent& e) { ShowEvent(e); });
  connect(&runner_, &TJobRunner::Finished, this, [this](const TJobResult& r) { JobFinished(r); });
  connect(&runner_, &TJobRunner::Received, this,
          [this](const QByteArray& bytes) { TerminalReceived(bytes.toStdString()); });
  connect(&runner_, &TJobRunner::ReadFailed, this,
          [this](const QString& reason) { TerminalReadFailed(reason); });
  TVantleBootloader& engine = Engine();
  engine.SearchSeconds = 3;
  engine.WaitMs = 200;
  engine.OfflineCode = 0;
  // The link is made on the runner's thread, which alone uses it.
  runner_.Call([mode = operatingMode_](TVantleBootloader& e) { e.Link = MakeLink(mode); });

  ui_->cbOfflineCode->clear();
  for (const auto& line : engine.PicCodeList())
    ui_->cbOfflineCode->addItem(ToQt(line));
  ui_->cbOfflineCode->setCurrentText("$00");

  connect(ui_->bWriteFlash, &QPushButton::clicked, this, Guarded(&TForm1::bWriteFlashClick));
  connect(ui_->bJustCheckPIC, &QPushButton::clicked, this, Guarded(&TForm1::bJustCheckPICClick));
  connect(ui_->bMap, &QPushButton::clicked, this, Guarded(&TForm1::bMapClick));
  connect(ui_->edHexName, &QComboBox::currentTextChanged, this, [this] {
    Guard([this] {
      ui_->bMap->setEnabled(!ui_->edHexName->currentText().trimmed().isEmpty());
      UpdateMap();
      // Another file named: the one written is no longer the one to write.
      if (hexWatch_ && ToStd(ui_->edHexName->currentText()) != hexWatch_->Path()) StopHexWatch();
    });
  });
  ui_->bMap->setEnabled(false);
  connect(ui_->bAbortSearch, &QPushButton::clicked, this, Guarded(&TForm1::bAbortSearchClick));
  connect(ui_->bBrowse, &QPushButton::clicked, this, Guarded(&TForm1::bBrowseClick));
  connect(ui_->bDumpLogToFile, &QPushButton::clicked, this, Guarded(&TForm1::bDumpLogToFileClick));
  connect(ui_->cbLogDetails, &QCheckBox::clicked, this, Guarded(&TForm1::cbLogDetailsClick));
  connect(ui_->cbWriteOnHexChange, &QCheckBox::toggled, this,
          Guarded(&TForm1::cbWriteOnHexChangeClick));
  timerHexWatch_.setInterval(kHexWatchPollMs);
  connect(&timerHexWatch_, &QTimer::timeout, this, Guarded(&TForm1::TimerHexWatchTimer));
  connect(ui_->cbRTSDTRonConnect, &QCheckBox::stateChanged, this,
          Guarded(&TForm1::cbRTSDTRonConnectClick));
  connect(ui_->seSearchDelay, &QSpinBox::valueChanged, this, Guarded(&TForm1::seSearchDelayChange));
  connect(ui_->seTimeout, &QSpinBox::valueChanged, this, Guarded(&TForm1::seTimeoutChange));
  connect(ui_->ComboBaud, &QComboBox::currentTextChanged, this, Guarded(&TForm1::ComboBaudChange));
  connect(ui_->cbOperatingMode, &QComboBox::currentIndexChanged, this,
          Guarded(&TForm1::cbOperatingModeChange));
  connect(ui_->cbOfflineCode, &QComboBox::currentTextChanged, this,
          Guarded(&TForm1::cbOperatingModeChange));

  ui_->Memo1->installEventFilter(this);
  // Files dropped anywhere reach DropFiles: the controls that take drops of
  // their own (the pane, the line edits) are watched for them.
  ui_->Memo1->viewport()->installEventFilter(this);
  for (QWidget* w : findChildren<QWidget*>())
    if (w->acceptDrops() && w != ui_->Memo1) w->installEventFilter(this);
  // The short option boxes keep the width of their few characters however
  // wide the window grows.
  for (const auto& [edit, chars] : {std::pair{ui_->edPCDetect, 5},
                                    {ui_->edQuartzMHz, 8},
                                    {ui_->edMultiplier, 8},
                                    {ui_->edQBaud, 8},
                                    {ui_->edSpbrgResult, 8},
                                    {ui_->edError, 8}}) {
    edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QString(chars, '0')) +
                          kEditFrameWidth);
  }
  connect(ui_->cbSPBRGSelect, &QComboBox::currentIndexChanged, this,
          Guarded(&TForm1::BrgCalculate));
  for (QLineEdit* edit : {ui_->edQuartzMHz, ui_->edMultiplier, ui_->edQBaud}) {
    connect(edit, &QLineEdit::textChanged, this, Guarded(&TForm1::BrgCalculate));
  }
  statusPanel_ = new QLabel(this);
  statusPanel_->setFixedWidth(kStatusPanelWidth);
  ui_->StatusBarApp->addWidget(statusPanel_);
  ui_->comboPortName->setToolTip("Select a COM");
  ui_->cbDetectAlsoOpenComs->setToolTip(
      "Also checks for open coms and display in lowercase (slower)");
  ui_->cbSearchForCOMs->setToolTip("Search for available COMs and update the COM list");
  connect(ui_->bSearchCOM, &QPushButton::clicked, this, Guarded(&TForm1::bSearchCOMClick));
  connect(ui_->cbSearchForCOMs, &QCheckBox::clicked, this, Guarded(&TForm1::cbSearchForCOMsClick));
  connect(ui_->comboPortName, &QComboBox::activated, this, Guarded(&TForm1::comboPortNameSelect));
  // Only typing moves an open link; picking an entry or setting the text
  // from the program does not.
  connect(ui_->comboPortName->lineEdit(), &QLineEdit::textEdited, this,
          Guarded(&TForm1::comboPortNameChange));
  SetUpTerminal();
  SetUpSending();
  LoadSettings();
  const TCommandLine commandLine = ParseCommandLine(ToStdList(args_));
  ApplyCommandLine(commandLine);
  cbRTSDTRonConnectClick();

  setWindowIcon(ProgramIcon());
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    trayIcon_ = new QSystemTrayIcon(this);
    trayIcon_->setToolTip("VantleBootloader for PIC");
    connect(trayIcon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
              if (why == QSystemTrayIcon::DoubleClick) {
                Guard([this] { bWriteFlashClick(); });
              } else if (why == QSystemTrayIcon::Context) {
                setVisible(!isVisible());
                if (isVisible()) activateWindow();
              }
            });
  }
  TakeTrayImage(TStatusImage::Idle);
  ShowTrayImage();
  if (trayIcon_ != nullptr) trayIcon_->show();
  PrintBanner();
  pane_->Prompt();

  setEnabled(false);
  timerStart_.setSingleShot(true);
  connect(&timerStart_, &QTimer::timeout, this, Guarded(&TForm1::TimerStartTimer));
  timerStart_.start(kStartDelayMs);
  timerEndWait_.setInterval(kEndWaitMs);
  connect(&timerEndWait_, &QTimer::timeout, this, Guarded(&TForm1::TimerEndWaitTimer));
}

TForm1::~TForm1() {
  // The application's signals reach this window through handlers that use
  // its controls; the controls go before the window itself (whose hiding
  // still moves the focus), so the handlers go first.
  disconnect(qApp, nullptr, this, nullptr);
  SaveSettings();
}

QString TForm1::ProgramDirectory() {
  const QFileInfo exe(QCoreApplication::applicationDirPath());
  const QString exeDir =
      exe.canonicalFilePath().isEmpty() ? exe.absoluteFilePath() : exe.canonicalFilePath();
  if (SettingsPlace(ToStd(exeDir), exe.isWritable()) == TSettingsPlace::BesideProgram)
    return exeDir + "/";
  const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(config);
  return QDir(config).absolutePath() + "/";
}

void TForm1::ApplyCommandLine(const TCommandLine& c) {
  if (args_.isEmpty()) return;
  // The command line stands first in the pane, above the banner.
  Say(TLineRole::Plain, ToStd(QCoreApplication::arguments().join(' ')));
  if (c.HexFile) ui_->edHexName->setCurrentText(ToQt(*c.HexFile));
  if (c.Baud) ui_->ComboBaud->setCurrentText(ToQt(*c.Baud));
  if (c.Port) ui_->comboPortName->setCurrentText(ToQt(*c.Port));
  autoWrite_ = c.AutoWrite;
  autoClose_ = c.AutoClose;
  automaticReport_ = TAutomaticReport(c.Report);
  if (c.ExitCode != 0) QuitWithCode(c.ExitCode);
}

QString TForm1::SettingsPath() const {
  return programDir_ + ToQt(kSettingsFileName);
}

void TForm1::LoadSettings() {
  std::string readError;
  settings_ = vantlebld::LoadSettingsFile(ToStd(SettingsPath()), &readError);
  const TSettings& s = settings_;
  // The history goes in first: adding items to an empty editable list
  // would replace the file name shown.
  for (const auto& entry : s.HexHistory)
    ui_->edHexName->addItem(ToQt(entry));
  ui_->edHexName->setCurrentText(ToQt(s.HexFile));
  ui_->comboPortName->setCurrentText(ToQt(s.COMport));
  ui_->ComboBaud->setCurrentText(ToQt(s.COMspeed));
  Engine().StopBits = s.StopBits;
  if (s.BaudAlert) ui_->LabelBaudAlert->setVisible(true);
  ComboBaudChange();
  ui_->cbTerminalBaud->setCurrentText(ui_->ComboBaud->currentText());
  setGeometry(s.Left, s.Top, s.Width, s.Height);
  ui_->edPCDetect->setText(ToQt(s.PCDetectCode));
  ui_->edPreCodes->setText(ToQt(s.PreCodes));
  ui_->edRtsDtrPulse->setText(ToQt(s.RemoteResetSignals));
  ui_->cbRTSDTRonConnect->setCheckState(s.RTSDTRonConnect == kRtsDtrOff  ? Qt::Unchecked
                                        : s.RTSDTRonConnect == kRtsDtrOn ? Qt::Checked
                                                                         : Qt::PartiallyChecked);
  // A box whose value really changes passes it to the engine; the design
  // values leave the engine's start values in force.
  ui_->seSearchDelay->setValue(s.SearchDelay);
  ui_->seTimeout->setValue(s.Timeout);
  ui_->cbSearchForCOMs->setChecked(s.SearchForCOMs);
  udpDestAddr_ = s.UDP_DestAddr;
  udpDestPort_ = s.UDP_DestPort;
  ui_->cbSwitchToTerminal->setChecked(s.SwitchToTerminal);
  ui_->cbWriteOnHexChange->setChecked(s.WriteOnHexChange);
  ui_->cbTerminalBaudSave->setChecked(s.TerminalBaudSave);
  if (s.TerminalBaudSave) ui_->cbTerminalBaud->setCurrentText(ToQt(s.TerminalBaud));
  LoadTerminalSettings(s);
  if (s.TranslateRowsRead) {
    // A stored row that no longer reads is reported once the window is up.
    try {
      TranslateListEditorExit();
    } catch (const std::exception& e) {
      const QString message = ToQt(e.what());
      QTimer::singleShot(0, this, [this, message] { ReportError(message); });
    }
  }
  if (!readError.empty()) Say(TLineRole::Step, "Settings not read: " + readError);
}

void TForm1::SaveSettings() {
  // What the window does not show (the terminal's buffer length) goes back
  // as it was read.
  TSettings s = settings_;
  SaveTerminalSettings(s);
  s.HexFile = ToStd(ui_->edHexName->currentText());
  s.HexHistory.clear();
  for (int i = 0; i < ui_->edHexName->count(); ++i)
    s.HexHistory.push_back(ToStd(ui_->edHexName->itemText(i)));
  s.COMport = ToStd(ui_->comboPortName->currentText());
  s.COMspeed = std::to_string(Engine().BaudRate);
  s.StopBits = Engine().StopBits;
  const QRect bounds = geometry();
  s.Top = bounds.top();
  s.Left = bounds.left();
  s.Width = bounds.width();
  s.Height = bounds.height();
  s.PCDetectCode = ToStd(ui_->edPCDetect->text());
  s.PreCodes = ToStd(ui_->edPreCodes->text());
  s.RemoteResetSignals = ToStd(ui_->edRtsDtrPulse->text());
  s.RTSDTRonConnect = Engine().RTSDTRonConnect;
  s.SearchDelay = ui_->seSearchDelay->value();
  s.Timeout = ui_->seTimeout->value();
  s.SearchForCOMs = ui_->cbSearchForCOMs->isChecked();
  // SizeOfBLD_W goes back to the file as it was read.
  s.UDP_DestAddr = udpDestAddr_;
  s.UDP_DestPort = udpDestPort_;
  s.SwitchToTerminal = ui_->cbSwitchToTerminal->isChecked();
  s.WriteOnHexChange = ui_->cbWriteOnHexChange->isChecked();
  s.TerminalBaudSave = ui_->cbTerminalBaudSave->isChecked();
  s.TerminalBaud = ToStd(ui_->cbTerminalBaud->currentText());
  std::string reason;
  if (!SaveSettingsFile(s, ToStd(SettingsPath()), &reason)) {
    std::fprintf(stderr, "VantleBld: settings not saved: %s\n", reason.c_str());
    Notice(TLineRole::Problem, "Settings not saved: " + reason);
  }
}

void TForm1::PrintBanner() {
  QPlainTextEdit& memo = *ui_->Memo1;
  memo.appendPlainText("Interface to VantleBootLoader, v" +
                       ShortVersion(QCoreApplication::applicationVersion()));
  memo.appendPlainText("Help: type help and Enter here for the console commands; man vantlebld");
  memo.appendPlainText(QString(98, '-'));
  if (TVantleBootloader::FindPicCodes().empty())
    memo.appendPlainText("Warning:  piccodes.ini  not found.");
}

void TForm1::Say(TLineRole role, const std::string& text, bool verbose) {
  ShowEvent({TDetailEvent{role, verbose, text}});
}

void TForm1::Notice(TLineRole role, const std::string& text) {
  Say(role, text);
  ui_->StatusBarApp->showMessage(ToQt(text));
}

namespace {

// Unattended, what went wrong or needs care and the final word go to
// stderr too.
bool ForStandardError(const TJobEvent& event) {
  if (const auto* d = std::get_if<TDetailEvent>(&event.Value)) {
    return !d->Verbose && d->Role == TLineRole::Problem;
  }
  if (const auto* w = std::get_if<TRelocationWarningEvent>(&event.Value)) {
    return w->Note.Kind != TRelocationNote::TKind::MadeAbsolute;
  }
  return std::holds_alternative<TFailedEvent>(event.Value) ||
         std::holds_alternative<TDoneEvent>(event.Value);
}

}  // namespace

void TForm1::ShowEvent(const TJobEvent& event) {
  const std::vector<std::string> lines = log_->Add(event);
  automaticReport_.Follow(event);
  if (automaticJob_ && ForStandardError(event)) {
    for (const std::string& line : lines)
      std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (const int32_t progress = ProgressOf(event); progress >= 0) SetProgress(progress);
  ShowSearchStatus(event);
}

void TForm1::ShowSearchStatus(const TJobEvent& event) {
  if (searchingOn_.isEmpty()) return;
  if (const auto* p = std::get_if<TProbeEvent>(&event.Value)) {
    // The probes count down from Total to 0.
    jobStatus_ = QString("Searching for the PIC on %1: reset the board now (probe %2 of %3)")
                     .arg(searchingOn_)
                     .arg(p->Total - p->Left + 1)
                     .arg(p->Total + 1);
  } else if (const auto* f = std::get_if<TFoundEvent>(&event.Value)) {
    jobStatus_ = "Found " + ToQt(f->Model) + " on " + searchingOn_;
    searchingOn_.clear();
  } else {
    return;
  }
  ui_->StatusBarApp->showMessage(jobStatus_);
}

void TForm1::SetProgress(int32_t value) {
  ui_->ProgressBar1->setValue(value);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A running job is asked to stop (a write after the block on the line,
  // so the bootloader stays reachable) and the window closes once it has
  // ended.
  if (jobRunning_) {
    runner_.Cancel();
    if (!closeAfterJob_) Say(TLineRole::Step, "Closing: the job stops after the block on the line");
    closeAfterJob_ = true;
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TForm1::TakeTrayImage(TStatusImage image) {
  trayImage_ = image;
  trayHistory_.push_back(image);
}

void TForm1::showEvent(QShowEvent* event) {
  // "Abort Search" stands in CheckPIC's place while a search runs: one
  // width for both keeps the row as it is.
  const int width =
      std::max(ui_->bJustCheckPIC->sizeHint().width(), ui_->bAbortSearch->sizeHint().width());
  ui_->bJustCheckPIC->setMinimumWidth(width);
  ui_->bAbortSearch->setMinimumWidth(width);
  // Never narrower than the row of buttons at the top, measured with the
  // fonts the window shows: below that their texts would be cut.
  layout()->invalidate();
  setMinimumSize(minimumSize().expandedTo(layout()->totalMinimumSize()));
  QMainWindow::showEvent(event);
}

void TForm1::ShowAbortSearch(bool searching) {
  ShowStopButton(searching, "Abort Search");
}

void TForm1::ShowStopButton(bool shown, const QString& text) {
  ui_->bAbortSearch->setText(text);
  ui_->bAbortSearch->setVisible(shown);
  ui_->bJustCheckPIC->setVisible(!shown);
}

void TForm1::ShowTrayImage() {
  if (trayIcon_ != nullptr) trayIcon_->setIcon(StatusIcon(trayImage_));
}

TJobOptions TForm1::JobOptions() {
  TJobOptions o;
  o.Port = PortToOpen();
  o.Baud = BaudRateOf(ToStd(ui_->ComboBaud->currentText()));
  o.IDCode = IDCodeFromText(ToStd(ui_->edPCDetect->text()), kDefaultIDCode);
  o.SearchSeconds = Engine().SearchSeconds;
  o.WaitMs = Engine().WaitMs;
  o.PreCodes = ToStd(ui_->edPreCodes->text());
  o.ResetSignals = ToStd(ui_->edRtsDtrPulse->text());
  o.IgnoreUntilK = ui_->cbIgnoreUntilK->isChecked();
  o.WriteEEPROM = ui_->cbWriteEE->isChecked();
  // Asked on the runner's thread: the person answers on this one.
  o.WriteForeignHex = [this](const std::string& reason) {
    return runner_.AskWindow([this, reason] { return WriteForeignHexAnyway(reason); });
  };
  o.Cancel = jobStop_;
  o.SearchEnded = [this](bool found) {
    QMetaObject::invokeMethod(
        this, [this, found] { SearchEnded(found); }, Qt::QueuedConnection);
  };
  return o;
}

void TForm1::SearchEnded(bool found) {
  if (!jobRunning_) return;
  searchingOn_.clear();
  if (!found && ui_->StatusBarApp->currentMessage() == jobStatus_)
    ui_->StatusBarApp->clearMessage();
  // A write goes on, and can be stopped after the block on the line.
  if (found && writing_) {
    ShowStopButton(true, "Stop");
  } else {
    ShowAbortSearch(false);
  }
  if (!found) return;
  TakeTrayImage(TStatusImage::Found);
  ShowTrayImage();
  SetProgress(0);
}

void TForm1::RunJob(TWindowJob job, bool writes, std::function<void(bool ok)> done) {
  TJobOptions options;
  try {
    StopTerminal(true);                           // the job needs the link the terminal holds
    jobStop_ = std::make_shared<TCancelToken>();  // this job's, never the last one's
    options = JobOptions();
  } catch (const std::exception& e) {
    ShowError(e);
    RestoreButtons();
    if (done) done(false);
    return;
  }
  writing_ = writes;
  jobDone_ = std::move(done);
  StopHexWatch();  // a write makes its own once it has ended
  TakeTrayImage(TStatusImage::Searching);
  ShowTrayImage();
  SetProgress(0);
  timerEndWait_.stop();
  SetJobRunning(true);
  ShowAbortSearch(true);
  ui_->PageControl1->setCurrentIndex(kMessagesPage);
  const QString fileName = QFileInfo(ui_->edHexName->currentText()).fileName();
  // One title: a display name would be added to it on Linux desktops, and
  // to every message box's title.
  setWindowTitle(fileName.isEmpty() ? "VantleBld" : "VantleBld - " + fileName);
  searchingOn_ = ToQt(options.Port) + QString(" at %1 baud").arg(options.Baud);
  jobStatus_.clear();
  currentHexFile_ = ui_->edHexName->currentText();
  runner_.Start(
      [job = std::move(job), options](TVantleBootloader& engine) { return job(engine, options); },
      jobStop_);
}

void TForm1::JobFinished(const TJobResult& result) {
  searchingOn_.clear();
  if (!jobStatus_.isEmpty() && ui_->StatusBarApp->currentMessage() == jobStatus_)
    ui_->StatusBarApp->clearMessage();
  Guard([&] {
    if (result.Ok) {
      FinishJob();
    } else {
      // The job has reported why and closed the link.
      TakeTrayImage(TStatusImage::Error);
    }
  });
  RestoreButtons();
  Guard([this] { UpdateMap(); });
  if (auto done = std::exchange(jobDone_, nullptr)) Guard([&] { done(result.Ok); });
  CloseIfAsked();
}

void TForm1::CloseIfAsked() {
  if (!std::exchange(closeAfterJob_, false)) return;
  // After the job's frames have left the stack.
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TForm1::bMapClick() {
  if (mapWindow_ == nullptr) mapWindow_ = new TMapWindow(this);
  mapWindow_->show();
  mapWindow_->raise();
  UpdateMap();
}

void TForm1::UpdateMap() {
  if (mapWindow_ == nullptr || !mapWindow_->isVisible()) return;
  mapWindow_->ShowMap(ToStd(ui_->edHexName->currentText().trimmed()), Engine().PICType,
                      BaudRateOf(ToStd(ui_->ComboBaud->currentText())));
}

void TForm1::RememberHexFile() {
  const QString name = ToQt(TrimControls(ToStd(currentHexFile_)));
  QComboBox& box = *ui_->edHexName;
  const int found = box.findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (found >= 0) box.removeItem(found);
  box.insertItem(0, name);
  box.setCurrentIndex(0);
}

void TForm1::FinishJob() {
  RememberHexFile();
  SetProgress(0);
  ui_->Memo1->moveCursor(QTextCursor::End);
  TakeTrayImage(TStatusImage::Done);
  if (ui_->cbSwitchToTerminal->isChecked()) {
    // The user's program starts on the PIC: the terminal takes the link
    // over as it stands.
    ui_->PageControl1->setCurrentIndex(kTerminalPage);
    StartTerminal();
  } else {
    runner_.Call([](TVantleBootloader& e) { e.Disconnect(); });
  }
}

void TForm1::ShowError(const std::exception& error) {
  TakeTrayImage(TStatusImage::Error);
  const auto* failure = dynamic_cast<const EVantleError*>(&error);
  ShowEvent({TFailedEvent{failure ? failure->ErrorKind() : EVantleError::Kind::General,
                          error.what(), failure ? failure->Hint() : std::string()}});
}

bool TForm1::NoJobRunning() {
  if (!jobRunning_) return true;
  Say(TLineRole::Step, "Busy: wait until the running job has ended");
  return false;
}

void TForm1::SetJobRunning(bool running) {
  jobRunning_ = running;
  // Everything that starts a job or touches the link; the log, its
  // console and the pages of their own stay usable.
  for (QWidget* control :
       {static_cast<QWidget*>(ui_->edHexName), static_cast<QWidget*>(ui_->bBrowse),
        static_cast<QWidget*>(ui_->bWriteFlash), static_cast<QWidget*>(ui_->bJustCheckPIC),
        static_cast<QWidget*>(ui_->comboPortName), static_cast<QWidget*>(ui_->bSearchCOM),
        static_cast<QWidget*>(ui_->ComboBaud), static_cast<QWidget*>(ui_->ScrollOptionsContents),
        static_cast<QWidget*>(ui_->TabSheetTerminal)})
    control->setEnabled(!running);
  UpdateHexWatch();
}

void TForm1::RestoreButtons() {
  SetJobRunning(false);
  pane_->Prompt();
  ShowAbortSearch(false);
  ShowTrayImage();
  timerEndWait_.start();
}

void TForm1::TimerEndWaitTimer() {
  TakeTrayImage(TStatusImage::Idle);
  ShowTrayImage();
  SetProgress(0);
  timerEndWait_.stop();
}

void TForm1::TimerStartTimer() {
  setEnabled(true);
  timerStart_.stop();
  if (exitCode_ != 0) return;  // the command line asked for the end already
  if (!args_.isEmpty()) {
    // Unattended until the write has ended (bWriteFlashClick's end).
    automaticJob_ = true;
    bWriteFlashClick();
  } else {
    cbSearchForCOMsClick();
  }
}

void TForm1::SearchCOMs() {
  QComboBox& box = *ui_->comboPortName;
  const std::string previous = ToStd(box.currentText());
  box.clear();
  box.setCurrentText(QString());
  // The probe opens a port of its own; one the runner's link holds fails
  // to open and counts as busy.
  portList_ = BuildPortList(EnumerateSystemPorts(), ui_->cbDetectAlsoOpenComs->isChecked(),
                            [this](const std::string& name) { return Engine().IsPortBusy(name); });
  for (const auto& port : portList_)
    box.addItem(ToQt(port.DisplayName));
  // A port that is there stays as the user wrote it, even when the list
  // names it otherwise; only a port that is gone gives way to the first.
  const TPortChoice choice = ChoosePortAfterRebuild(portList_, previous);
  if (choice.Index >= 0) box.setCurrentIndex(choice.Index);
  box.setCurrentText(ToQt(choice.Text));
  // The design value (COM1) is no port anybody named.
  if (!choice.Note.empty() && previous != TSettings().COMport) Say(TLineRole::Plain, choice.Note);
}

void TForm1::bSearchCOMClick() {
  ui_->bSearchCOM->setEnabled(false);
  SearchCOMs();
  ui_->bSearchCOM->setEnabled(true);
}

void TForm1::cbSearchForCOMsClick() {
  if (ui_->cbSearchForCOMs->isChecked()) SearchCOMs();
}

void TForm1::comboPortNameSelect(int index) {
  if (index < 0 || static_cast<size_t>(index) >= portList_.size()) return;
  statusPanel_->setText(ToQt(PortStatusText(portList_[static_cast<size_t>(index)])));
}

void TForm1::comboPortNameChange(const QString& typed) {
  if (jobRunning_) return;  // the job's link stays where it is
  runner_.Call([port = ResolvePortName(portList_, ToStd(typed)),
                baud = BaudRateOf(ToStd(ui_->ComboBaud->currentText()))](TVantleBootloader& e) {
    e.Reconnect(port, baud);
  });
}

std::string TForm1::PortToOpen() const {
  return ResolvePortName(portList_, ToStd(ui_->comboPortName->currentText()));
}

void TForm1::bWriteFlashClick() {
  if (!NoJobRunning()) return;
  const std::string hexFile = ToStd(ui_->edHexName->currentText());
  // The file as this write reads it: a change from now on is the next one
  // to write. A write that fails keeps a watch that was running, for when
  // the terminal is open again.
  const bool watching = hexWatch_.has_value();
  auto watch = std::make_shared<THexFileWatch>(hexFile);
  if (automaticJob_) {
    if (const std::string why = automaticReport_.Problem(hexFile); !why.empty()) {
      ShowError(EVantleError(why));  // before anything is sent, on stderr too
      automaticJob_ = false;
      if (autoWrite_ && autoClose_) QuitWithCode(kExitBadCommandLine);
      return;
    }
    automaticReport_.Start(PortToOpen(), hexFile);
  }
  RunJob([hexFile](TVantleBootloader& e, const TJobOptions& o) { return WriteJob(e, o, hexFile); },
         true,
         [this, watching, watch](bool ok) {
           automaticJob_ = false;
           if (ui_->cbWriteOnHexChange->isChecked() && (ok ? TerminalOpen() : watching)) {
             hexWatch_.emplace(std::move(*watch));
             UpdateHexWatch();
           }
           const int code = automaticReport_.Finish(
               jobStop_ && jobStop_->Requested(), ok ? kExitOk : kExitJobFailed,
               [this](const std::string& problem) {
                 std::fprintf(stderr, "vantlebld: %s\n", problem.c_str());
                 Say(TLineRole::Problem, problem);
               });
           if (autoWrite_ && autoClose_) QuitWithCode(code);
         });
}

void TForm1::UpdateHexWatch() {
  if (hexWatch_ && ui_->cbWriteOnHexChange->isChecked() && TerminalOpen() && !jobRunning_) {
    if (!timerHexWatch_.isActive()) timerHexWatch_.start();
  } else {
    timerHexWatch_.stop();
  }
}

void TForm1::StopHexWatch() {
  hexWatch_.reset();
  timerHexWatch_.stop();
}

void TForm1::cbWriteOnHexChangeClick() {
  if (!ui_->cbWriteOnHexChange->isChecked()) StopHexWatch();
}

void TForm1::TimerHexWatchTimer() {
  if (!hexWatch_ || jobRunning_) return;  // never a job while one runs
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  switch (hexWatch_->Poll(std::chrono::duration_cast<std::chrono::milliseconds>(now).count())) {
    case THexFileWatch::TEvent::Incomplete:
      Notice(TLineRole::Step, "HEX file is not complete HEX yet: waiting for the rest");
      break;
    case THexFileWatch::TEvent::Corrupt:
      Notice(TLineRole::Step, CorruptText(hexWatch_->Path(), hexWatch_->LastCheck()) +
                                  "; waiting for the next build");
      break;
    case THexFileWatch::TEvent::Ready:
      Notice(TLineRole::Plain, "HEX file changed: writing again");
      bWriteFlashClick();
      break;
    case THexFileWatch::TEvent::None:
    case THexFileWatch::TEvent::Changing:
      break;
  }
}

bool TForm1::WriteForeignHexAnyway(const std::string& reason) {
  if (automaticJob_) return false;
  return QMessageBox::question(
             this, QApplication::applicationName(), ToQt(reason) + ".\n\nWrite anyway?",
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void TForm1::bJustCheckPICClick() {
  if (!NoJobRunning()) return;
  RunJob([](TVantleBootloader& e, const TJobOptions& o) { return CheckJob(e, o); });
}

void TForm1::ClearAllFlash() {
  if (!NoJobRunning()) return;
  const std::string hexFile = ToStd(ui_->edHexName->currentText());
  RunJob(
      [hexFile](TVantleBootloader& e, const TJobOptions& o) { return ClearAllJob(e, o, hexFile); },
      true);
}

void TForm1::bAbortSearchClick() {
  runner_.Cancel();
}

void TForm1::QuitWithCode(int code) {
  exitCode_ = code;
  QMetaObject::invokeMethod(
      qApp, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

void TForm1::cbLogDetailsClick() {
  log_->SetShowDetails(ui_->cbLogDetails->isChecked());
}

void TForm1::cbRTSDTRonConnectClick() {
  switch (ui_->cbRTSDTRonConnect->checkState()) {
    case Qt::Unchecked:
      Engine().RTSDTRonConnect = 0;
      break;
    case Qt::Checked:
      Engine().RTSDTRonConnect = 1;
      break;
    default:
      Engine().RTSDTRonConnect = 2;
      break;
  }
}

void TForm1::seSearchDelayChange() {
  Engine().SearchSeconds = ui_->seSearchDelay->value();
}

void TForm1::seTimeoutChange() {
  Engine().WaitMs = ui_->seTimeout->value();
}

void TForm1::ComboBaudChange() {
  const int32_t baud = BaudRateOf(ToStd(ui_->ComboBaud->currentText()));
  Engine().BaudRate = baud;
  runner_.Call([baud](TVantleBootloader& e) { e.Configure(baud); });
}

void TForm1::cbOperatingModeChange() {
  const int mode = ui_->cbOperatingMode->currentIndex();
  if (mode < 0) return;
  SwitchLink(static_cast<uint8_t>(mode));
  ui_->cbOfflineCode->setVisible(mode != 0);
  Engine().OfflineCode = OfflineCodeFromText(ToStd(ui_->cbOfflineCode->currentText()));
  Say(TLineRole::Plain, Format("offline_code = %02Xh ", Engine().OfflineCode), true);
}

void TForm1::SwitchLink(uint8_t mode) {
  if (mode == operatingMode_) return;
  StopTerminal(true);
  runner_.Call([mode, host = udpDestAddr_, port = udpDestPort_](TVantleBootloader& e) {
    e.Link = MakeLink(mode, host, port);
  });
  operatingMode_ = mode;
}

void TForm1::RemoteReset() {
  runner_.Call([codes = ToStd(ui_->edPreCodes->text()), script = ToStd(ui_->edRtsDtrPulse->text())](
                   TVantleBootloader& e) { vantlebld::RemoteReset(e, codes, script); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (DragFilter(watched, event)) return true;
  if (TerminalEventFilter(watched, event)) return true;
  if (watched == ui_->Memo1 && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Memo1KeyPress(ToStd(ui_->Memo1->textCursor().block().text()));
      pane_->Prompt();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::Memo1KeyPress(const std::string& line) {
  const TConsoleLine command = ParseConsoleLine(line);
  switch (command.Command) {
    case TConsoleCommand::None:
      break;
    case TConsoleCommand::Help:
      for (const auto& help : ConsoleHelpLines())
        Say(TLineRole::Plain, help);
      break;
    case TConsoleCommand::OnTop: {
      const bool onTop = !(windowFlags() & Qt::WindowStaysOnTopHint);
      setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
      show();  // changing the window's flags hides it
      Say(TLineRole::Plain, onTop ? "window stays on top" : "window no longer on top");
      break;
    }
    case TConsoleCommand::LogDetails:
      log_->SetShowDetails(true);
      Say(TLineRole::Continued, " ok");
      break;
    case TConsoleCommand::ClearAllFlash:
      ClearAllFlash();
      break;
    case TConsoleCommand::WriteEEPROM:
    case TConsoleCommand::WriteConfig:
      WriteSingleLocation(command.Arguments, command.Command == TConsoleCommand::WriteConfig);
      break;
    case TConsoleCommand::OfflineCode:
      if (!NoJobRunning()) break;
      try {
        size_t pos = 1;
        int32_t id = 0;
        if (!command.HasArguments || !ReadNextInt(command.Arguments, pos, id, true) || id < 0 ||
            id > 0xFF) {
          throw ENotationError(
              "offline_code needs a PIC code from 00h to FFh, eg: offline_code 41h");
        }
        Engine().OfflineCode = static_cast<uint8_t>(id);
        SwitchLink(kModeOffline);
        Say(TLineRole::Plain,
            Format("Working offline, Assuming PIC code = %.2Xh ", Engine().OfflineCode));
      } catch (const std::exception& e) {
        Say(TLineRole::Plain, std::string("Error! ") + e.what());
      }
      break;
  }
}

void TForm1::WriteSingleLocation(const std::string& arguments, bool config) {
  if (!NoJobRunning()) return;
  int32_t address = 0, value = 0;
  try {
    ReadAddressAndData(arguments, config ? "writeconfig" : "writeeeprom", address, value);
  } catch (const std::exception& e) {
    ShowError(e);
    RestoreButtons();
    return;
  }
  RunJob([config, address, value](TVantleBootloader& e, const TJobOptions& o) {
    return config ? WriteConfigJob(e, o, address, value)
                  : WriteEEPROMJob(e, o, address, static_cast<uint8_t>(value));
  });
}

void TForm1::BrgCalculate() {
  const char separator = QLocale().decimalPoint().at(0).toLatin1();
  const TBrgDisplay d =
      BrgDisplay(ui_->cbSPBRGSelect->currentIndex(), ToStd(ui_->edQuartzMHz->text()),
                 ToStd(ui_->edMultiplier->text()), ToStd(ui_->edQBaud->text()), separator);
  if (const auto mode = BrgModeFromIndex(ui_->cbSPBRGSelect->currentIndex())) {
    ui_->LabelPLL->setText(ToQt(PllHint(*mode)));
  }
  ui_->labelResult->setText(ToQt(d.Summary));
  ui_->edSpbrgResult->setText(ToQt(d.BrgValue));
  ui_->edError->setText(ToQt(d.Error));
  const auto colour = [](TBrgShade shade) {
    switch (shade) {
      case TBrgShade::Red:
        return QString("color: red");
      case TBrgShade::Maroon:
        return QString("color: maroon");
      case TBrgShade::Black:
        break;
    }
    return QString();
  };
  ui_->edSpbrgResult->setStyleSheet(colour(d.BrgValueShade));
  ui_->edError->setStyleSheet(colour(d.ErrorShade));
}

void TForm1::bBrowseClick() {
  const QString dir = QFileInfo(ui_->edHexName->currentText()).path();
  const QString file = QFileDialog::getOpenFileName(this, "Open", dir == "." ? QString() : dir,
                                                    "*.hex (*.hex);;All files (*)");
  if (!file.isEmpty()) ui_->edHexName->setCurrentText(file);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  DropFiles(*event->mimeData());
  event->acceptProposedAction();
}

bool TForm1::DragFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  // A drag enter and a drag move are drop events too.
  auto& drop = *static_cast<QDropEvent*>(event);
  const bool pane = watched == ui_->Memo1 || watched == ui_->Memo1->viewport();
  if (!pane && !drop.mimeData()->hasUrls()) return false;  // text goes where it is dropped
  if (type == QEvent::Drop) Guard([&] { DropFiles(*drop.mimeData()); });
  drop.acceptProposedAction();
  return true;
}

void TForm1::DropFiles(const QMimeData& mime) {
  if (!NoJobRunning()) return;  // the file box is the job's
  const QList<QUrl> urls = mime.urls();
  if (urls.size() != 1) {
    Notice(TLineRole::Plain, "Please Drag&Drop a SINGLE .hex file!");
    return;
  }
  const QString path = urls.front().toLocalFile().left(255);
  if (!path.toUpper().endsWith(".HEX")) {
    Notice(TLineRole::Plain, "Please Drag&Drop only .HEX files!");
    return;
  }
  ui_->edHexName->setCurrentText(path);
  Notice(TLineRole::Plain, "Drag&Dropped:   " + ToStd(path));
}

void TForm1::bDumpLogToFileClick() {
  const QString path = programDir_ + "dumplog.log";
  QFile file(path);
  bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
  if (written) {
    QTextStream out(&file);
    for (const auto& line : log_->LogList())
      out << ToQt(line) << '\n';
    out.flush();
    written = out.status() == QTextStream::Ok && file.flush();
    file.close();
  }
  if (!written) {
    Notice(TLineRole::Problem, "Log not written to " + ToStd(path) + ": " +
                                   ToStd(file.errorString()) +
                                   "; make room on that disk or make the folder writable, then "
                                   "click DumpLogToFile again");
    return;
  }
  Notice(TLineRole::Plain, "Log written to " + ToStd(path));
}

}  // namespace vantlebld
