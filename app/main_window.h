// The main window: the controller of every job. It owns the engine, shows
// its log and progress, and runs the write and check workflows inside the
// click handlers that start them.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/message_log.h"
#include "app/settings.h"
#include "app/status_icons.h"
#include "engine/port_discovery.h"
#include "engine/vantlebld_comm.h"

class QLabel;
class QSystemTrayIcon;

namespace Ui {
class TForm1;
}

namespace vantlebld {

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // args: the command line after the program name.
  explicit TForm1(const QStringList& args, QWidget* parent = nullptr);
  ~TForm1() override;

  // The engine's log and progress sinks.
  void AddLog(uint8_t flags, const std::string& text);
  void SetProgress(int32_t value);

  // The steps every job is made of.
  void ConnectAndIdentify(bool loadHex);
  void FinishJob();
  void ShowError();
  void RestoreButtons();
  void QuitWithCode(int code);
  void ClearAllFlash();
  void RemoteReset();
  void SendPreCodes();
  // The console: the pane's line that holds the caret when Enter is
  // pressed, read as a command before the pane takes the line break.
  void Memo1KeyPress(const std::string& line);

  // For the program entry and the tests.
  int ExitCode() const { return exitCode_; }
  TVantleBootloader& Engine() { return engine_; }
  const std::vector<std::string>& LogList() const { return log_.LogList(); }
  bool LogDetails() const { return log_.LogDetails; }
  Ui::TForm1& Controls() { return *ui_; }
  // The status images taken so far, in order (the tray shows the last).
  const std::vector<TStatusImage>& TrayHistory() const { return trayHistory_; }
  // Where the settings file and the log dump live.
  const QString& ProgramDir() const { return programDir_; }
  const std::vector<TComPortData>& PortList() const { return portList_; }
  // The port a job opens: a listed entry's real name for its shown one.
  std::string PortToOpen() const;

 public slots:
  void bWriteFlashClick();
  void bJustCheckPICClick();
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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  static QString ProgramDirectory();
  void ApplyCommandLine(const TCommandLine& c);
  QString SettingsPath() const;
  void LoadSettings();
  void SaveSettings();
  void PrintBanner();
  void TakeTrayImage(TStatusImage image);
  void ShowTrayImage();
  void RememberHexFile();
  // "writeeeprom" and "writeconfig": one location, on a PIC found as for a
  // check.
  void WriteSingleLocation(const std::string& arguments, bool config);
  // Lets the window repaint while a job runs, without taking user input.
  void Repaint();

  std::unique_ptr<Ui::TForm1> ui_;
  TVantleBootloader engine_;
  TMessageLog log_;
  std::unique_ptr<TLogPane> pane_;
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
  bool autoClose_ = false;
  int exitCode_ = 0;
  QTimer timerStart_;
  QTimer timerEndWait_;
  QSystemTrayIcon* trayIcon_ = nullptr;
  TStatusImage trayImage_ = TStatusImage::Idle;
  std::vector<TStatusImage> trayHistory_;
  int lastSearchDelay_ = 7;
  int lastTimeout_ = 300;
};

}  // namespace vantlebld
