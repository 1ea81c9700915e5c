// The main() of the tests that open ports through Qt (the platform and the
// port tests): QSerialPort and QUdpSocket want a Qt application object; no
// event loop runs.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
