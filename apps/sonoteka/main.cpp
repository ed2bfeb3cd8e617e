// Sonoteka, the desktop workstation (ui/desktop_program.h tells its command
// line and how it runs).
#include <QApplication>
#include <csignal>

#include "ui/desktop_program.h"

int main(int argc, char** argv) {
  // A file-size limit makes a write fail with EFBIG, which is reported like a
  // full disk, instead of killing the program with its work unsaved.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication qapp(argc, argv);
  return sono::ui::RunDesktopProgram(qapp, sono::ui::DesktopArguments::Parse(argc, argv));
}
