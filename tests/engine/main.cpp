// The port tests' main (tests/ports builds this file): the engine's busy
// probe opens ports with a serial port built on Qt, so those tests run
// inside a Qt application object; no event loop runs. The engine tests
// need none and use GoogleTest's own main.
#include <gtest/gtest.h>

#include <QCoreApplication>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
