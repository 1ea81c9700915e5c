// The main window: the controller of every job. Its job runner owns the
// engine and the link on a worker thread; the window starts jobs, shows
// their events (log, progress, outcome) as they arrive and can stop them,
// and stays responsive all the while.
#pragma once

#include <QFile>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/job_runner.h"
#include "app/message_log.h"
#include "app/settings.h"
#include "app/status_icons.h"
#include "engine/file_watch.h"
#include "engine/jobs.h"
#include "engine/port_discovery.h"
#include "engine/vantlebld_comm.h"
#include "platform/links.h"
#include "terminal/notations.h"
#include "terminal/receive.h"

class QKeyEvent;
class QLabel;
class QMimeData;
class QSystemTrayIcon;
class QWidget;

namespace Ui {
class TForm1;
}  // namespace Ui

namespace vantlebld {

class TMapWindow;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // args: the command line after the program name.
  explicit TForm1(const QStringList& args, QWidget* parent = nullptr);
  ~TForm1() override;

  // A line of the window's own in the log.
  void Say(TLineRole role, const std::string& text, bool verbose = false);
  // A line in the log that the person must see whatever page shows: in the
  // window's status bar too.
  void Notice(TLineRole role, const std::string& text);
  // An event of the running job: its lines in the log, its progress.
  void ShowEvent(const TJobEvent& event);
  void SetProgress(int32_t value);

  using TWindowJob = std::function<TJobResult(TVantleBootloader&, const TJobOptions&)>;
  // Starts one job of the job layer on the runner with the window's
  // options; the window shows the search and the outcome as they come.
  // writes: the job writes flash, and can be stopped after its search.
  // done runs once the job has ended, with whether it succeeded.
  void RunJob(TWindowJob job, bool writes = false, std::function<void(bool ok)> done = {});
  bool JobRunning() const { return jobRunning_; }
  // The job options as the window's controls set them; throws the
  // notation's error for an ID code that is not a number.
  TJobOptions JobOptions();
  void FinishJob();
  // The search of the running job has ended (found or not).
  void SearchEnded(bool found);
  // The runner's end of a job: the outcome shown, the controls back.
  void JobFinished(const TJobResult& result);
  // A job that failed before it could start: "ERROR!" and why.
  void ShowError(const std::exception& error);
  void RestoreButtons();
  void QuitWithCode(int code);
  void ClearAllFlash();
  // The pre-codes and the reset signals of the Options page.
  void RemoteReset();
  // The console: the pane's line that holds the caret when Enter is
  // pressed, read as a command before the pane takes the line break.
  void Memo1KeyPress(const std::string& line);

  // For the program entry and the tests.
  int ExitCode() const { return exitCode_; }
  // The engine, between jobs.
  TVantleBootloader& Engine() { return runner_.Engine(); }
  TJobRunner& Runner() { return runner_; }
  uint8_t OperatingMode() const { return operatingMode_; }
  const std::vector<std::string>& LogList() const { return log_->LogList(); }
  bool LogDetails() const { return log_->ShowDetails(); }
  Ui::TForm1& Controls() { return *ui_; }
  // The status images taken so far, in order (the tray shows the last).
  const std::vector<TStatusImage>& TrayHistory() const { return trayHistory_; }
  // Where the settings file and the log dump live.
  const QString& ProgramDir() const { return programDir_; }
  const std::vector<TComPortData>& PortList() const { return portList_; }
  // The port a job opens: a listed entry's real name for its shown one.
  std::string PortToOpen() const;

  // --- The terminal page ---
  // Takes over a link that is already open: the poll starts, the dump file
  // is created afresh.
  void StartTerminal();
  // Ends the poll and closes the dump file; closePort also closes the link.
  void StopTerminal(bool closePort);
  bool TerminalOpen() const { return TimerTerminal.isActive(); }
  // The poll's timer, for a benchmark that times each poll itself.
  QTimer& TerminalTimer() { return TimerTerminal; }
  const std::string& RcvBuffer() const { return rcv_.Buffer(); }
  const std::string& GraphData() const { return graphData_; }
  const TTranslateTable& TranslateTable() const { return translateTable_; }
  const std::string& ClearCode() const { return rcv_.ClearCode(); }
  const std::array<std::string, 3>& MacroStrings() const { return macroStrings_; }
  bool GraphFrozen() const { return graphFrozen_; }
  // The text of a status panel of the terminal page (0: graph read-out,
  // 1: last key typed into the receive window).
  QString TermStatusText(int panel) const;
  // Sends one byte, or a byte string in one piece, to the PIC's program.
  void SendTermByte(uint8_t b);
  void SendTermString(const std::string& bytes);
  // What was sent, shown in the receive window (TypEcho, or Echo ticked).
  void Echo(const std::string& bytes);
  // A key typed in the send box or the receive window.
  void TypeKey(uint8_t key);
  // Macro n (1..3): send it, or store the send box's text in it.
  void SendMacro(int n);
  void StoreMacro(int n);
  void DrawGraph(const std::string& data, int kind);
  void ShowGraphPosition(int x);
  // Opens a dump file for reading, or says in the log that nothing could.
  void ShowFile(const QString& name);

  // Where the window shows errors it catches itself and where it opens a
  // file for reading (false: no program took it); the tests put recorders
  // here.
  std::function<void(const QString&)> ReportError;
  std::function<bool(const QString&)> OpenInEditor;

 public slots:
  void bWriteFlashClick();
  void bJustCheckPICClick();
  void bMapClick();
  void bAbortSearchClick();
  void bBrowseClick();
  void bDumpLogToFileClick();
  void TimerStartTimer();
  void TimerEndWaitTimer();
  void cbLogDetailsClick();
  void cbRTSDTRonConnectClick();
  void seSearchDelayChange();
  void seTimeoutChange();
  void ComboBaudChange();
  void cbOperatingModeChange();
  // The Tools page: the baud-rate generator calculator, on every change.
  void BrgCalculate();
  // The port list.
  void SearchCOMs();
  void bSearchCOMClick();
  void cbSearchForCOMsClick();
  void comboPortNameChange(const QString& typed);
  void comboPortNameSelect(int index);
  // The terminal page.
  void bTermOpenClick();
  void bTermCloseClick();
  void TimerTerminalTimer();
  void bClearClick();
  void cbTermSelRcvChange();
  void TranslateListEditorExit();
  void edClearCodeExit();
  void TerminalShow();
  void TerminalHide();
  void bTermSendClick();
  void cbTermSelSendChange();
  void edTermSendChange();
  void TermWindowKeyPress(uint8_t key);
  void bShowFileBinClick();
  void bShowFileHexClick();
  void bRemoteResetClick();
  void seGr2referenceChange();
  // "Write again when the HEX file changes": the watch's poll, and the box.
  void TimerHexWatchTimer();
  void cbWriteOnHexChangeClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Files dropped on the window: a single HEX file becomes the one to write.
  void DropFiles(const QMimeData& mime);
  // A drag over a control of the window: the message pane takes none, the
  // others no files (they would insert the file's address as text).
  bool DragFilter(QObject* watched, QEvent* event);
  // The search of the running job in the status bar: where, and which
  // probe; the PIC found in its place.
  void ShowSearchStatus(const TJobEvent& event);
  // The folder of the settings file and the log dump (SettingsPlace).
  static QString ProgramDirectory();
  void ApplyCommandLine(const TCommandLine& c);
  QString SettingsPath() const;
  void LoadSettings();
  void SaveSettings();
  void PrintBanner();
  void TakeTrayImage(TStatusImage image);
  void ShowTrayImage();
  void RememberHexFile();
  // Whether a HEX file of another family may be written: the user says so
  // (No by default); the automatic mode never writes one.
  bool WriteForeignHexAnyway(const std::string& reason);
  // Runs f; an error it throws goes to the general error report, never
  // through Qt's signal code (which does not carry exceptions).
  template <class F>
  void Guard(F&& f) {
    try {
      f();
    } catch (const std::exception& e) {
      ReportError(QString::fromLocal8Bit(e.what()));
    }
  }
  // A member as a slot for connect, run under Guard.
  template <class... Args>
  auto Guarded(void (TForm1::*slot)(Args...)) {
    return [this, slot](Args... args) { Guard([&] { (this->*slot)(args...); }); };
  }
  // The link of an operating mode; the terminal lets go of the old one.
  void SwitchLink(uint8_t mode);
  // One job at a time: false, with a line in the log, while one runs.
  bool NoJobRunning();
  // Disables, or enables again, every control that starts a job or
  // touches the link.
  void SetJobRunning(bool running);
  // Abort Search in CheckPIC's place while a search runs, or back.
  void ShowAbortSearch(bool searching);
  // The button in CheckPIC's place: Abort Search, or Stop during a write.
  void ShowStopButton(bool shown, const QString& text);
  // "writeeeprom" and "writeconfig": one location, on a PIC found as for a
  // check.
  void WriteSingleLocation(const std::string& arguments, bool config);
  // The terminal page's set-up and its event routing.
  void SetUpTerminal();
  void SetUpSending();
  // A key pressed in the send box; true when it must not reach the box.
  bool SendBoxKeyPress(const QKeyEvent& event);
  bool TerminalEventFilter(QObject* watched, QEvent* event);
  void LoadTerminalSettings(const TSettings& s);
  void SaveTerminalSettings(TSettings& s) const;
  void edTermSendEnter(Qt::FocusReason reason);
  void edTermSendExit();
  void TranslateListEditorChanged(int row, int column);
  // The translation grid's rows as the user left them.
  std::vector<TTranslateRule> TranslateGridRows() const;
  std::optional<TSendMode> SendMode() const;
  std::string SendBoxText() const;
  void SetSendHistory(const std::vector<std::string>& history);
  void ShowReceived(const TReceived& received);
  void MacroHint(int n);
  // The watch of the HEX file polls while the box is on and the terminal
  // holds the link; it ends when the user closes the terminal, unticks the
  // box, names another file, or another job runs.
  void UpdateHexWatch();
  void StopHexWatch();

  std::unique_ptr<Ui::TForm1> ui_;
  // The link's kind, and where the UDP link sends (from the settings).
  uint8_t operatingMode_ = kModeSerial;
  std::string udpDestAddr_ = kDefaultUdpHost;
  int32_t udpDestPort_ = kDefaultUdpPort;
  std::unique_ptr<TLogPane> pane_;
  std::unique_ptr<TWindowLog> log_;
  QString programDir_;
  // The settings as read; the values of pages still to come are written
  // back as they were.
  TSettings settings_;
  // One record per entry of the port list, in the list's order.
  std::vector<TComPortData> portList_;
  QLabel* statusPanel_ = nullptr;
  QString currentHexFile_;
  QStringList args_;
  bool autoWrite_ = false;
  bool automaticJob_ = false;         // the write the command line started runs
  TAutomaticReport automaticReport_;  // --report: what the automatic write came to
  bool jobRunning_ = false;
  // The running job's stop request (Abort Search, then Stop during a write).
  std::shared_ptr<TCancelToken> jobStop_;
  // What runs once the running job has ended.
  std::function<void(bool ok)> jobDone_;
  bool writing_ = false;  // the running job writes flash
  // The running job's port and baud rate as the status bar names them while
  // it searches ("/dev/ttyUSB0 at 115200 baud"), empty once the search has
  // ended; and the status bar's line of the job, cleared at its end.
  QString searchingOn_;
  QString jobStatus_;
  // The window was closed during the job: it closes once the job has ended.
  bool closeAfterJob_ = false;
  void CloseIfAsked();
  bool autoClose_ = false;
  int exitCode_ = 0;
  QTimer timerStart_;
  QTimer timerEndWait_;
  QSystemTrayIcon* trayIcon_ = nullptr;
  // The map of the HEX file, once opened; redrawn when the file or the
  // identified PIC changes.
  TMapWindow* mapWindow_ = nullptr;
  void UpdateMap();
  TStatusImage trayImage_ = TStatusImage::Idle;
  std::vector<TStatusImage> trayHistory_;
  int lastSearchDelay_ = 7;
  int lastTimeout_ = 300;

  // The terminal's bytes as the runner read them: to the dump, then the
  // views.
  void TerminalReceived(const std::string& chunk);
  void TerminalReadFailed(const QString& reason);

  // The terminal: its poll, the bytes kept for the views (RcvBuffer, bound
  // by TermBufferLength, with the clear code), the dump of everything
  // received since the terminal opened, the graph's state and the macros.
  QTimer TimerTerminal;
  TReceiveBuffer rcv_;
  TTranslateTable translateTable_;
  QFile DumpFile;
  std::string graphData_;
  int32_t Gr2Reference = 128;
  bool graphFrozen_ = false;
  std::array<std::string, 3> macroStrings_;
  QLabel* termPanels_[2] = {nullptr, nullptr};

  // The HEX file last written, watched for a rebuild while the terminal
  // holds the link after the write.
  std::optional<THexFileWatch> hexWatch_;
  QTimer timerHexWatch_;

  // Last: it goes first, stopping a running job before the window's parts
  // its events and questions reach are gone.
  TJobRunner runner_;
};

}  // namespace vantlebld
