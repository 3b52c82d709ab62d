// Tests on the engine need a Qt application object: the port's notifications reach
// the test's thread through Qt's event loop, as they reach the window's.

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
