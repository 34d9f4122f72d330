#include <gtest/gtest.h>
#include <QApplication>

// The widgets need an application object for the whole run, so this replaces gtest's main.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  // Tests close windows without an event loop of their own running.
  QApplication::setQuitOnLastWindowClosed(false);
  return RUN_ALL_TESTS();
}
