// The busy probe opens ports through QSerialPort, which wants a
// QCoreApplication to exist; no event loop runs.
#include <gtest/gtest.h>
#include <QtCore/QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
