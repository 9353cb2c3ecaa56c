// GoogleTest with a QApplication, for the tests of the pages (offscreen platform).
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Norvane Migration Wizard");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
