// The port box across a rebuild of the port list, driven as a user drives
// it: a port typed as a by-id link stays as typed and is the one a job
// opens; once its board is unplugged, the first listed port takes over.
#include <QLineEdit>
#include <filesystem>

#include "tests/app/window_fixture.h"
#include "tests/support/files.h"

namespace vantlebld {
namespace {

using PortBoxTest = MainWindowTest;

TEST_F(PortBoxTest, TheTypedPortSurvivesARebuildUntilItsBoardIsGone) {
  TForm1& f = Start();
  TSimLine sim;
  const test::TempDir dir;
  const std::string link = (dir.Path() / "usb-Board_1").string();
  std::filesystem::create_symlink(sim.path, link);
  QLineEdit& typed = *ui().comboPortName->lineEdit();
  QTest::keyClick(&typed, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(&typed, QString::fromStdString(link));
  QTest::mouseClick(ui().bSearchCOM, Qt::LeftButton);
  // Replaced, the job would wait on another board for a PIC that is not there.
  ASSERT_EQ(ui().comboPortName->currentText().toStdString(), link);
  QTest::mouseClick(ui().bJustCheckPIC, Qt::LeftButton);
  WaitForJob();
  Finish(sim);
  EXPECT_TRUE(Logged(kFound));

  std::filesystem::remove(link);
  QTest::mouseClick(ui().bSearchCOM, Qt::LeftButton);
  // The machine decides what is listed; with nothing listed the text stays.
  const auto& list = f.PortList();
  EXPECT_EQ(ui().comboPortName->currentText().toStdString(),
            list.empty() ? link : list.front().DisplayName);
  EXPECT_EQ(LoggedStart("Port " + link + " is gone; using /dev/"), !list.empty());
}

}  // namespace
}  // namespace vantlebld
