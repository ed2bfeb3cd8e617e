// The one QApplication of a GUI test program: the offscreen platform with a
// 1366x768 screen, as on a station's desk.
#pragma once
#include <QApplication>

namespace sono::ui::test {

inline void EnsureGuiApplication() {
  static int argc = 1;
  static char arg0[] = "sonoteka_gui_tests";
  static char* argv[] = {arg0, nullptr};
  if (QApplication::instance()) return;
  qputenv("QT_QPA_PLATFORM", SONOTEKA_TEST_SCREEN);
  new QApplication(argc, argv);
}

}  // namespace sono::ui::test
