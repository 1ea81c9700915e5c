// The vantlebld program started the way a script starts it: the exit codes
// of the command line and of the automatic write, and what the run leaves
// in the settings file for the next one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const QString kApp = VANTLEBLD_APP_PATH;
const QString kSim = VANTLEBLD_SIM_PATH;
const QString kHex = VANTLEBLD_SOURCE_DIR "/examples/pic18f252_blink.hex";
const QString kMissingHex = "/nonexistent/none.hex";
// Bound for a program to end; reached only when something hangs.
constexpr int kGuardMs = 30000;

class AppProgramTest : public testing::Test {
 protected:
  static std::string SettingsPath() {
    return (QFileInfo(kApp).absolutePath() + "/vantlebld.ini").toStdString();
  }
  void SetUp() override { std::remove(SettingsPath().c_str()); }
  void TearDown() override { std::remove(SettingsPath().c_str()); }

  // Runs the program to its end and returns its exit code.
  static int Run(const QStringList& args) {
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    app.setProcessEnvironment(env);
    app.start(kApp, args);
    if (!app.waitForFinished(kGuardMs)) {
      app.kill();
      app.waitForFinished();
      ADD_FAILURE() << "vantlebld " << args.join(' ').toStdString() << " did not end";
      return -1;
    }
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    return app.exitCode();
  }
};

TEST_F(AppProgramTest, RefusedCommandLinesEndWithCodeOne) {
  const QStringList cases[] = {
      {"-q"}, {"-bx"}, {"-comx", "-a", "-x", kHex}, {"-q", "-a", "-x", kMissingHex}};
  for (const auto& args : cases)
    EXPECT_EQ(Run(args), 1) << args.join(' ').toStdString();
}

TEST_F(AppProgramTest, FailedAutomaticWriteEndsWithCodeThreeAndStoresTheCommandLine) {
  EXPECT_EQ(Run({"-a", "-x", kMissingHex, "-p/dev/ttyNOPE"}), 3);
  EXPECT_EQ(Run({"-x", "-a", "-com123", "-b9600", kMissingHex}), 3);
  std::ifstream in(SettingsPath());
  const std::string saved{std::istreambuf_iterator<char>(in), {}};
  for (const std::string& kept : {std::string("COMport=COM12\n"), std::string("COMspeed=9600\n"),
                                  "HexFile=" + kMissingHex.toStdString() + "\n"})
    EXPECT_NE(saved.find(kept), std::string::npos) << kept << " in\n" << saved;
}

TEST_F(AppProgramTest, AutomaticWriteIntoTheVirtualPicEndsWithCodeZero) {
  QProcess sim;
  sim.start(kSim, {"--code", "41h"});
  while (!sim.canReadLine() && sim.waitForReadyRead(kGuardMs)) {
  }
  const QString line = QString::fromUtf8(sim.readLine()).trimmed();
  ASSERT_TRUE(line.startsWith("PTY /")) << line.toStdString();
  EXPECT_EQ(Run({"-a", "-x", kHex, "-p" + line.mid(4)}), 0);
  // The virtual PIC ends once the host has closed the line after the job;
  // its exit code says whether it saw any fault in what the host sent.
  if (!sim.waitForFinished(kGuardMs)) sim.kill();
  EXPECT_EQ(sim.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
