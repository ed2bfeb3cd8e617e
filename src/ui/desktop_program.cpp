#include "ui/desktop_program.h"

#include <QSessionManager>
#include <QTimer>
#include <cstdio>

#include "core/system_ports.h"
#include "ui/qt_ports.h"
#include "ui/signal_notifier.h"
#include "ui/workstation.h"

namespace sono::ui {

namespace {
// How often the workstation's timers run (the companion window's, the incident list's…).
constexpr int kTickMs = 20;
}  // namespace

DesktopArguments DesktopArguments::Parse(int argc, const char* const* argv) {
  DesktopArguments parsed;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) parsed.home = argv[++i];
    else if (arg == "--screenshot" && i + 1 < argc) parsed.screenshot = argv[++i];
    else if (arg == "--search") parsed.search = true;
    else parsed.commandLine += (parsed.commandLine.empty() ? "" : " ") + arg;
  }
  return parsed;
}

int RunDesktopProgram(QApplication& qapp, const DesktopArguments& arguments) {
  QtPrompt prompt;
  QtEventLoop events;
  SystemClock clock;
  SystemDesktop desktop;
  LogHeaderInfo header;
  header.exeName = "Vexa_Sonoteka";
  header.propertyGridVersion = header.calendarVersion = header.skinFrameworkVersion = qVersion();
  header.recorderVersion = header.playerVersion = SONOTEKA_VERSION;
  Workstation ws(prompt, events, clock, desktop, MachineEnvironment(arguments.home), header);
  prompt.setParent(&ws.window);
  if (!ws.start(arguments.commandLine)) return 1;

  // Shutdown, Ctrl+C, a closed terminal, the end of the desktop session: the
  // unload sequence runs (log written, settings saved, resources let go).
  SignalNotifier endSignals([&](const std::string& name) {
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
  timers.start(kTickMs);

  if (arguments.search && arguments.screenshot.empty())
    QTimer::singleShot(0, [&ws] { ws.showFirstSoundedSong(); });
  if (!arguments.screenshot.empty()) {
    QTimer::singleShot(0, [&] {
      ws.showFirstSoundedSong();
      qapp.processEvents();
      const bool saved = ws.saveScreenshot(arguments.screenshot);
      std::printf("%s\n", saved ? arguments.screenshot.c_str() : "capture impossible");
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

}  // namespace sono::ui
