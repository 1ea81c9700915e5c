// vantlebld-cli --report as a script runs it: the JSON document read back
// and compared with what the virtual PICs and sha256sum say.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <regex>

#include "tests/cli/cli_fixture.h"

namespace vantlebld::test {
namespace {

// The report's document read back.
QJsonObject ReportOf(const std::string& path) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(ReadText(path))).object();
}

// --report: one document for every board, the good one's and the silent
// one's; the blocks as the virtual PIC counted them, the file's SHA-256 as
// sha256sum has it. A report whose folder is missing is refused before
// the job (exit 1); a missing HEX file is reported without a hash.
TEST_F(CliTest, ReportOfEveryBoard) {
  const std::string hex = Example("pic18f252_blink");
  QProcess sum;
  sum.start("sha256sum", {QString::fromStdString(hex)});
  const RunResult summed = Finish(sum);
  ASSERT_EQ(summed.exitCode, 0) << summed.err;
  QProcess good, silent;
  const std::string goodPort = StartSim(good, {"--code", "41h"});
  const std::string silentPort = StartSim(silent, {"--code", "41h", "--silent-from", "3"});
  const std::string path = (dir.Path() / "report.json").string();
  const RunResult r = Cli({"write", hex, "--timeout-ms", "50", "--port", goodPort, "--port",
                           silentPort, "--report", path});
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
  const RunResult goodSim = Finish(good);
  Finish(silent);
  std::smatch accepted;
  ASSERT_TRUE(std::regex_search(goodSim.err, accepted, std::regex("blocks accepted: ([0-9]+)")))
      << goodSim.err;
  const QJsonObject doc = ReportOf(path);
  EXPECT_EQ(doc["version"].toInt(), 1);
  EXPECT_EQ(doc["tool"].toString(), "vantlebld-cli");
  EXPECT_EQ(doc["job"].toString(), "write");
  const QJsonArray boards = doc["boards"].toArray();
  ASSERT_EQ(boards.size(), 2) << ReadText(path);
  const struct {
    std::string port;
    const char* result;
    int blocks, catchUps;
  } want[] = {
      {goodPort, "ok", std::stoi(accepted[1]), 0},
      // Blocks 1 and 2 answered, block 3 sent three times to no answer.
      {silentPort, "failed", 2 + 3, 3},
  };
  for (qsizetype i = 0; i < boards.size(); ++i) {
    const QJsonObject b = boards[i].toObject();
    const auto& w = want[i];
    SCOPED_TRACE(w.port);
    EXPECT_EQ(b["port"].toString().toStdString(), w.port);
    EXPECT_EQ(b["pic_code"].toInt(), 0x41);
    EXPECT_EQ(b["pic_name"].toString(), "PIC18F252");
    EXPECT_EQ(b["hex_file"].toString().toStdString(), hex);
    EXPECT_EQ(b["hex_sha256"].toString().toStdString(), summed.out.substr(0, 64));
    EXPECT_EQ(b["preflight"].toString(), "ok");
    EXPECT_EQ(b["result"].toString(), w.result);
    EXPECT_EQ(b["blocks"].toInt(), w.blocks);
    EXPECT_EQ(b["catch_ups"].toInt(), w.catchUps);
    EXPECT_EQ(b["n_answers"].toInt(), 0);
    if (w.catchUps == 0) {
      EXPECT_TRUE(b["message"].isNull());
    } else {
      EXPECT_TRUE(b["message"].toString().startsWith("Could not write block 3 of 13"))
          << ReadText(path);
    }
  }
  const std::string nowhere = (dir.Path() / "none" / "r.json").string();
  const std::string missing = (dir.Path() / "missing.hex").string();
  const struct {
    std::string file, report;
    int exitCode;
  } cases[] = {{hex, nowhere, 1}, {"", nowhere, 1}, {missing, path, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const RunResult w = Cli({"write", c.file, "--simulate", "41h", "--report", c.report});
    EXPECT_EQ(w.exitCode, c.exitCode) << w.out << w.err;
    EXPECT_EQ(w.err.find("vantlebld-cli: cannot write the --report file " + nowhere +
                         ": No such file or directory;") != std::string::npos,
              c.report == nowhere)
        << w.err;
  }
  EXPECT_FALSE(std::filesystem::exists(nowhere.substr(0, nowhere.rfind('/'))));
  const QJsonObject board = ReportOf(path)["boards"].toArray()[0].toObject();
  EXPECT_EQ(board["hex_file"].toString().toStdString(), missing);
  EXPECT_TRUE(board["hex_sha256"].isNull());
  EXPECT_EQ(board["result"].toString(), "failed");
  EXPECT_EQ(board["message"].toString(), "File not found");
}

}  // namespace
}  // namespace vantlebld::test
