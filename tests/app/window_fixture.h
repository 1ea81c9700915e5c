// The main window under test: a fresh window per test with no settings
// file, a virtual PIC on a pseudo-terminal, and a bare pseudo-terminal the
// test talks on itself.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "sim/pty_server.h"
#include "ui_main_window.h"

namespace vantlebld {
namespace {

using Lines = std::vector<std::string>;
using Images = std::vector<TStatusImage>;

const QString kHex = VANTLEBLD_SOURCE_DIR "/examples/pic18f252_blink.hex";
const QString kMissingHex = "/nonexistent/none.hex";
constexpr uint8_t k18F252 = 0x41;
constexpr char kFound[] = "   Found:PIC18F252";

TPICInfo Pic18F252() {
  static const bool read = ReadPicCodes(VANTLEBLD_SOURCE_DIR "/data/piccodes.ini", {});
  TPICInfo info = PicTable()[k18F252];
  EXPECT_TRUE(read && DerivePicGeometry(info));
  return info;
}

// A PIC18F252 with the bootloader on a pseudo-terminal, serving one job.
struct TSimLine {
  explicit TSimLine(const TSimFaults& faults = {})
      : pic(k18F252, Pic18F252(), TSimOptions{.Faults = faults}), server(pic) {
    path = QString::fromStdString(server.Open());
    server.Start();
  }
  TVirtualPic pic;
  TPtyServer server;
  QString path;
};

// A pseudo-terminal nobody serves: the test reads what the host sends.
class TRawLine {
 public:
  TRawLine() : fd_(::posix_openpt(O_RDWR | O_NOCTTY)) {
    termios t{};
    EXPECT_TRUE(fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0);
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~TRawLine() { ::close(fd_); }
  std::string SlavePath() const { return ::ptsname(fd_); }
  // Bytes for the host to read.
  void Write(const std::string& bytes) {
    EXPECT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  }
  // Whatever the host sent within waitMs, waiting no longer once some came
  // and the line stays quiet for a moment.
  std::string ReadAvailable(int waitMs = 1000) {
    std::string got;
    pollfd p{fd_, POLLIN, 0};
    char buf[256];
    int wait = waitMs;
    while (::poll(&p, 1, wait) > 0) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, size_t(n));
      wait = 50;
    }
    return got;
  }
  // The bytes before marker; the guard is reached only when it never comes.
  std::string ReadUntil(char marker) {
    std::string got;
    pollfd p{fd_, POLLIN, 0};
    char c = 0;
    while (::poll(&p, 1, 3000) > 0 && ::read(fd_, &c, 1) == 1 && c != marker)
      got += c;
    EXPECT_EQ(c, marker);
    return got;
  }

 private:
  int fd_;
};

class MainWindowTest : public testing::Test {
 protected:
  static std::string BinFile(const char* name) {
    return (QCoreApplication::applicationDirPath() + "/" + name).toStdString();
  }
  static void RemoveFiles() {
    std::remove(BinFile("vantlebld.ini").c_str());
    std::remove(BinFile("dumplog.log").c_str());
  }
  void SetUp() override { RemoveFiles(); }
  void TearDown() override {
    form_.reset();  // writes the settings file
    RemoveFiles();
  }

  // A fresh window with no settings file, set for quick searches; its
  // start timer has not run.
  TForm1& Create(const QStringList& args = {}) {
    form_.reset();
    RemoveFiles();
    form_ = std::make_unique<TForm1>(args);
    ui().seSearchDelay->setValue(1);
    ui().seTimeout->setValue(30);
    return *form_;
  }
  TForm1& Start() {
    Create().TimerStartTimer();
    return *form_;
  }
  Ui::TForm1& ui() { return form_->Controls(); }
  void Offline() {
    ui().cbOperatingMode->setCurrentIndex(1);
    ui().cbOfflineCode->setCurrentText("$41");
  }
  void Run(bool write, const QString& port) {
    ui().comboPortName->setCurrentText(port);
    write ? form_->bWriteFlashClick() : form_->bJustCheckPICClick();
  }
  // The job must have closed the link; the virtual PIC then ends too.
  void Finish(TSimLine& sim) {
    ASSERT_FALSE(form_->Engine().Port->Active()) << "the job left the link open";
    sim.server.WaitFinished();
  }
  bool Logged(const std::string& line) const {
    return std::ranges::count(form_->LogList(), line) > 0;
  }
  bool LoggedStart(const std::string& start) const {
    return std::ranges::any_of(form_->LogList(),
                               [&](const std::string& l) { return l.starts_with(start); });
  }
  bool MemoHas(const char* text) { return ui().Memo1->toPlainText().contains(text); }

  std::unique_ptr<TForm1> form_;
};

}  // namespace
}  // namespace vantlebld
