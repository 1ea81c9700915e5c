// The main window under test: a fresh window per test with no settings
// file, beside the virtual PIC and the bare pseudo-terminal of the engine
// tests.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdio>
#include <fstream>
#include <memory>

#include "app/main_window.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/lines.h"
#include "ui_main_window.h"

namespace vantlebld {
namespace {

using test::TLine;
using Images = std::vector<TStatusImage>;

const QString kHex = VANTLEBLD_SOURCE_DIR "/examples/pic18f252_blink.hex";
const QString kMissingHex = "/nonexistent/none.hex";
constexpr char kFound[] = "   Found:PIC18F252";

// A file whole, as it is on disk.
constexpr auto FileContent = &test::ReadText;

// A PIC18F252 with the bootloader on a pseudo-terminal, serving one job
// (and, with a program to run, the terminal after it).
struct TSimLine : test::TServedPic {
  static TPICInfo Info() {
    static const bool read = ReadPicCodes(test::kTable, {});
    TPICInfo info = PicTable()[0x41];
    EXPECT_TRUE(read && DerivePicGeometry(info));
    return info;
  }
  explicit TSimLine(const TSimOptions& options = {}) : TServedPic(0x41, Info(), options) {}
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

  // A fresh window reading settingsFile (none when empty); its start timer
  // has not run.
  TForm1& New(const std::string& settingsFile = "", const QStringList& args = {}) {
    form_.reset();
    RemoveFiles();
    if (!settingsFile.empty()) std::ofstream(BinFile("vantlebld.ini")) << settingsFile;
    form_ = std::make_unique<TForm1>(args);
    return *form_;
  }
  // The same without a settings file, set for quick searches.
  TForm1& Create(const QStringList& args = {}) {
    New("", args);
    ui().seSearchDelay->setValue(1);
    ui().seTimeout->setValue(30);
    return *form_;
  }
  TForm1& Start() {
    Create().TimerStartTimer();
    return *form_;
  }
  Ui::TForm1& ui() { return form_->Controls(); }
  void Offline(const char* code = "$41") {
    ui().cbOperatingMode->setCurrentIndex(1);
    ui().cbOfflineCode->setCurrentText(code);
  }
  // A click on Write Flash or Check PIC with the port named, then the
  // event loop until the job has ended.
  void Run(bool write, const std::string& port) {
    ui().comboPortName->setCurrentText(QString::fromStdString(port));
    QTest::mouseClick(write ? ui().bWriteFlash : ui().bJustCheckPIC, Qt::LeftButton);
    WaitForJob();
  }
  // The event loop runs until no job runs: the runner's end has reached
  // the window.
  void WaitForJob() {
    QDeadlineTimer deadline(60000);
    while (form_->JobRunning() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_FALSE(form_->JobRunning()) << "the job did not end";
  }
  // The job must have closed the link; the virtual PIC then ends too.
  void Finish(TSimLine& sim) {
    ASSERT_FALSE(form_->Engine().Link->IsOpen()) << "the job left the link open";
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
