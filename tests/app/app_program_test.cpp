// The vantlebld program started the way a script starts it: the exit codes
// of the command line and of the automatic write, and what it says why.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const QString kApp = VANTLEBLD_APP_PATH;
const std::string kSettings = (QFileInfo(kApp).absolutePath() + "/vantlebld.ini").toStdString();

// Waits for a started program to end (30 s at most, reached only when it
// hangs) and returns its exit code, -1 when it did not end normally.
int Finish(QProcess& p) {
  if (!p.waitForFinished(30000)) p.kill();
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Runs the program offscreen; its standard output and error land in out
// and err.
int App(const QStringList& args, std::string& out, std::string& err) {
  QProcess app;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  app.setProcessEnvironment(env);
  app.start(kApp, args);
  const int code = Finish(app);
  out = app.readAllStandardOutput().toStdString();
  err = app.readAllStandardError().toStdString();
  return code;
}

// Unattended, the program says why it ends as it does: the usage, the
// switch it refused, the failed write's error lines.
TEST(AppProgramTest, ExitCodesOfTheCommandLineAndOfTheAutomaticWrite) {
  std::remove(kSettings.c_str());
  const QString missing = "/nonexistent/none.hex";
  const struct {
    QStringList args;
    int code;
    std::string out, err;  // parts of what it prints
  } cases[] = {
      {{"-h"}, 0, "  ...exit code(errolevel): 0=ok,  1=bad_com, 3=error_writing_flash\n", ""},
      {{"-x", "-a", "-p"}, 1, "", "vantlebld: no port specified: -p\n"},
      {{"-x", "-a", "-com123", "-b9600", VANTLEBLD_SOURCE_DIR "/examples/pic18f252_blink.hex"},
       3,
       "",
       "      ERROR!\n         Communication error 1: Cannot open /dev/COM12: No such file or "
       "directory\n"},
      // A missing file ends the write before the port is opened.
      {{"-x", "-a", "-com123", "-b9600", missing},
       3,
       "",
       "      File not found: /nonexistent/none.hex\n      ERROR!\n         File not found\n"},
  };
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_EQ(App(c.args, out, err), c.code) << c.args.join(' ').toStdString();
    EXPECT_NE(out.find(c.out), std::string::npos) << out;
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
  }
  // A report that would overwrite the HEX file (a copy here) or land in a
  // missing folder refuses the write before the port is opened.
  QTemporaryDir dir;
  const QString hex = dir.filePath("app.hex");
  QFile::copy(VANTLEBLD_SOURCE_DIR "/examples/pic18f252_blink.hex", hex);
  const QByteArray before = [&] {
    QFile f(hex);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }();
  const std::pair<QString, std::string> reports[] = {
      {dir.filePath("./app.hex"), "is the HEX file the write reads"},
      {"/nonexistent/r.json", "cannot write the --report file /nonexistent/r.json: No such file"}};
  for (const auto& [report, says] : reports) {
    std::string out, err;
    EXPECT_EQ(App({"-x", "-a", "-p/dev/nonexistent", hex, "--report", report}, out, err), 1);
    EXPECT_NE(err.find(says), std::string::npos) << err;
    EXPECT_EQ(err.find("Cannot open"), std::string::npos) << err;
  }
  QFile f(hex);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly) && f.readAll() == before && !before.isEmpty());
  std::remove(kSettings.c_str());
}

// The lines of what the program printed that our log made: they start
// with a blank (Qt's own warnings do not).
std::vector<std::string> LogLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text[at] == ' ') lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

// An automatic write into the virtual PIC, clean and failed: stderr holds
// WRITE OK alone, or the error, where and why and what to try, and no
// detail line of the blocks. The virtual PIC ends once the host has closed
// the line; its exit code says whether it saw any fault in what was sent.
TEST(AppProgramTest, AutomaticWriteTellsStandardErrorOnlyTheOutcome) {
  const struct {
    QStringList simArgs;
    int code, simCode;                // the judge: 2 when the program does not start
    std::vector<std::string> starts;  // of each log line on stderr
  } cases[] = {
      {{}, 0, 0, {"   WRITE OK  at "}},
      {{"--silent-from", "3"},
       3,
       2,
       {"      ERROR!", "         Could not write block 3 of ",
        "         0 N answers and 3 time-outs in 3 sends: the line is noisy or the baud rate is "
        "wrong (try a lower baud rate)"}},
  };
  for (const auto& c : cases) {
    QProcess sim;
    sim.start(VANTLEBLD_SIM_PATH, QStringList{"--code", "41h"} + c.simArgs);
    while (!sim.canReadLine() && sim.waitForReadyRead(30000)) {
    }
    const QString line = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith("PTY /")) << line.toStdString();
    std::string out, err;
    const QString hex = VANTLEBLD_SOURCE_DIR "/examples/pic18f252_blink.hex";
    EXPECT_EQ(App({"-a", "-x", hex, "-p" + line.mid(4)}, out, err), c.code);
    const std::vector<std::string> lines = LogLinesOf(err);
    ASSERT_EQ(lines.size(), c.starts.size()) << err;
    for (size_t i = 0; i < lines.size(); ++i)
      EXPECT_TRUE(lines[i].starts_with(c.starts[i])) << lines[i];
    EXPECT_EQ(Finish(sim), c.simCode) << sim.readAllStandardError().toStdString();
  }
  std::remove(kSettings.c_str());
}

// -report FILE after the automatic write: one board in the document, its
// blocks as the virtual PIC counted them.
TEST(AppProgramTest, AutomaticWriteWritesItsReport) {
  QProcess sim;
  sim.start(VANTLEBLD_SIM_PATH, QStringList{"--code", "41h"});
  while (!sim.canReadLine() && sim.waitForReadyRead(30000)) {
  }
  const QString port = QString::fromUtf8(sim.readLine()).trimmed().mid(4);
  const QTemporaryDir dir;
  const QString report = dir.filePath("report.json");
  const QString hex = VANTLEBLD_SOURCE_DIR "/examples/pic18f252_blink.hex";
  std::string out, err;
  EXPECT_EQ(App({"-a", "-x", hex, "-p" + port, "-report", report}, out, err), 0) << err;
  EXPECT_EQ(Finish(sim), 0);
  const QString simSays = QString::fromUtf8(sim.readAllStandardError());
  const QRegularExpressionMatch accepted =
      QRegularExpression("blocks accepted: ([0-9]+)").match(simSays);
  ASSERT_TRUE(accepted.hasMatch()) << simSays.toStdString();
  QFile file(report);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QJsonObject doc = QJsonDocument::fromJson(file.readAll()).object();
  EXPECT_EQ(doc["tool"].toString(), "vantlebld");
  EXPECT_EQ(doc["job"].toString(), "write");
  const QJsonArray boards = doc["boards"].toArray();
  ASSERT_EQ(boards.size(), 1);
  const QJsonObject b = boards[0].toObject();
  EXPECT_EQ(b["port"].toString(), port);
  EXPECT_EQ(b["hex_file"].toString(), hex);
  EXPECT_EQ(b["pic_name"].toString(), "PIC18F252");
  EXPECT_EQ(b["preflight"].toString(), "ok");
  EXPECT_EQ(b["result"].toString(), "ok");
  EXPECT_EQ(b["blocks"].toInt(), accepted.captured(1).toInt());
  EXPECT_TRUE(b["message"].isNull());
  std::remove(kSettings.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
