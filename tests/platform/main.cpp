// QSerialPort and QUdpSocket want a QCoreApplication to exist (no event loop
// runs: the platform layer blocks on its own), so the tests bring their own
// main().
#include <gtest/gtest.h>
#include <QtCore/QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
