// The fixture of the tests that run vantlebld-cli and vantlebld-sim as
// child processes, in a scratch directory of their own.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QStringList>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace vantlebld::test {

// Bound for a child to start, answer or end; only reached when broken.
constexpr int kChildGuardMs = 60000;

struct RunResult {
  int exitCode = -1;  // -1: did not start or did not end normally
  std::string out, err;
  bool Says(const std::string& text) const { return out.find(text) != std::string::npos; }
};

class CliTest : public ::testing::Test {
 protected:
  // Starts a program in the scratch directory, so no piccodes.ini of the
  // caller's directory takes part; the project's table comes first, a
  // later --piccodes in args wins.
  void Start(QProcess& p, const char* program, const std::vector<std::string>& args) {
    QStringList list = {"--piccodes", QString::fromStdString(kTable)};
    for (const auto& a : args)
      list << QString::fromStdString(a);
    p.setWorkingDirectory(QString::fromStdString(dir.Path().string()));
    p.start(program, list);
  }
  static RunResult Finish(QProcess& p) {
    RunResult r;
    if (p.waitForFinished(kChildGuardMs) && p.exitStatus() == QProcess::NormalExit)
      r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    if (p.processChannelMode() != QProcess::MergedChannels)
      r.err = p.readAllStandardError().toStdString();
    return r;
  }
  // vantlebld-sim started with args; returns the port it serves (its first
  // line: "PTY /dev/pts/N").
  std::string StartSim(QProcess& sim, const std::vector<std::string>& args) {
    Start(sim, VANTLEBLD_SIM_PATH, args);
    while (!sim.canReadLine() && sim.waitForReadyRead(kChildGuardMs)) {
    }
    return sim.readLine().trimmed().toStdString().substr(4);
  }
  RunResult Cli(const std::vector<std::string>& args) {
    QProcess p;
    Start(p, VANTLEBLD_CLI_PATH, args);
    return Finish(p);
  }
  TempDir dir;
};

}  // namespace vantlebld::test
