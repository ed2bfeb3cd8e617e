// The one QApplication of a GUI test program: the offscreen platform with a
// 1366x768 screen, as on a station's desk, or the platform SONOTEKA_TEST_PLATFORM names.
#pragma once
#include <QApplication>

namespace sono::ui::test {

inline void EnsureGuiApplication() {
  static int argc = 1;
  static char arg0[] = "sonoteka_gui_tests";
  static char* argv[] = {arg0, nullptr};
  if (QApplication::instance()) return;
  // SONOTEKA_TEST_PLATFORM runs the same tests on a real X server (xcb under Xvfb).
  const QByteArray platform = qgetenv("SONOTEKA_TEST_PLATFORM");
  qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray(SONOTEKA_TEST_SCREEN) : platform);
  new QApplication(argc, argv);
}

}  // namespace sono::ui::test
