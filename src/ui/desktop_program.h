// The desktop program's run: its command line, the workstation started over
// the machine's ports, the end signals and the desktop session wired to the
// unload sequence, the timers, and the demonstration modes.
//
//   sonoteka [--home DIR] [--search] [--screenshot FILE.png] [command line…]
// With --search the window opens on a music search, the first song that has
// its sound in the editor (how scripts/run shows the demo).
// With --screenshot the window is drawn after start-up and a music search,
// saved as a PNG, its path printed ("capture impossible" when it could not be
// written), and the program closes through its unload sequence (for machines
// without a display, under QT_QPA_PLATFORM=offscreen).
#pragma once
#include <QApplication>
#include <string>

namespace sono::ui {

struct DesktopArguments {
  std::string home;         // --home: empty for the machine's default
  std::string screenshot;   // --screenshot FILE.png
  bool search = false;      // --search
  std::string commandLine;  // everything else, joined by spaces, for the application
  static DesktopArguments Parse(int argc, const char* const* argv);
};

// Runs the program until it closes; returns the process exit status.
int RunDesktopProgram(QApplication& qapp, const DesktopArguments& arguments);

}  // namespace sono::ui
