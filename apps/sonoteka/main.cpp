// Sonoteka, the desktop workstation. Starts through the application object
// (component check, one instance, general initialisation with its steps),
// shows the main window, and closes through the quit procedure and the
// unload sequence.
//
//   sonoteka [--home DIR] [--search] [--screenshot FILE.png] [command line…]
// With --search the window opens on a music search, the first song that has
// its sound in the editor (how scripts/run shows the demo).
// With --screenshot the window is drawn after start-up and a music search,
// saved as a PNG, and the program closes through its unload sequence (for
// machines without a display, under QT_QPA_PLATFORM=offscreen).
#include <QApplication>
#include <QSessionManager>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "core/system_ports.h"
#include "data/songs.h"
#include "editor/song_selection.h"
#include "ui/qt_ports.h"
#include "ui/signal_notifier.h"
#include "ui/workstation.h"

using namespace sono;

int main(int argc, char** argv) {
  // A file-size limit makes a write fail with EFBIG, which is reported like a
  // full disk, instead of killing the program with its work unsaved.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication qapp(argc, argv);
  std::string home, screenshot, commandLine;
  bool search = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) home = argv[++i];
    else if (arg == "--screenshot" && i + 1 < argc) screenshot = argv[++i];
    else if (arg == "--search") search = true;
    else commandLine += (commandLine.empty() ? "" : " ") + arg;
  }
  ui::QtPrompt prompt;
  ui::QtEventLoop events;
  SystemClock clock;
  SystemDesktop desktop;
  LogHeaderInfo header;
  header.exeName = "Vexa_Sonoteka";
  header.propertyGridVersion = header.calendarVersion = header.skinFrameworkVersion = qVersion();
  header.recorderVersion = header.playerVersion = SONOTEKA_VERSION;
  ui::Workstation ws(prompt, events, clock, desktop, MachineEnvironment(home), header);
  prompt.setParent(&ws.window);
  if (!ws.start(commandLine)) return 1;

  // Shutdown, Ctrl+C, a closed terminal, the end of the desktop session: the
  // unload sequence runs (log written, settings saved, resources let go).
  ui::SignalNotifier endSignals([&](const std::string& name) {
    ws.closeOnSignal(name);
    qapp.quit();
  });
  QObject::connect(&qapp, &QGuiApplication::commitDataRequest, [&](QSessionManager& manager) {
    if (!ws.endSession(manager.allowsInteraction())) manager.cancel();
    manager.release();
  });

  QTimer timers;
  QObject::connect(&timers, &QTimer::timeout, [&] {
    if (ws.tick()) qapp.quit();
  });
  timers.start(20);

  // A music search, and the first song that has its sound goes into the editor.
  const auto showFirstSoundedSong = [&ws] {
    ws.window.RechercheDansLaBase();
    QAbstractItemModel* model = ws.window.grid()->model();
    for (int row = 0; row < model->rowCount(); ++row) {
      const std::string code = model->index(row, 0).data().toString().toStdString();
      const auto song = editor::SelectionForSong(ws.lib, ws.tab.station, code);
      if (song && data::HouseFormatDurationMs(song->soundFile)) {
        ws.window.grid()->selectRow(row);
        break;
      }
    }
  };
  if (search && screenshot.empty()) QTimer::singleShot(0, showFirstSoundedSong);
  if (!screenshot.empty()) {
    QTimer::singleShot(0, [&] {
      showFirstSoundedSong();
      qapp.processEvents();
      const bool saved = ws.window.grab().save(QString::fromStdString(screenshot), "PNG");
      std::printf("%s\n", saved ? screenshot.c_str() : "capture impossible");
      ws.app.log().Flush();
      ws.app.Form_Unload();
      qapp.quit();
    });
  }
  const int status = qapp.exec();
  if (!ws.app.ended()) {
    ws.app.log().Flush();
    ws.app.Form_Unload();
  }
  return status;
}
