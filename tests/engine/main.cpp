// The engine owns a serial port object built on Qt (the busy probe of the
// port tests opens ports the same way), so the tests run inside a Qt
// application object; no event loop runs.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
