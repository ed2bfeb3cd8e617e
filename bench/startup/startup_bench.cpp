// The desktop workstation on a 100,000-song site: from start-up to the main
// window shown and usable (wall time and the log's "Init: Duration"), from a
// row click to the editor drawn, how long the window may go without
// handling its events while the whole library is searched, a pointer is
// stored and a sound is imported, and the desktop's peak memory.
#include <malloc.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "../common/bench_report.h"
#include "../common/bench_site.h"
#include "data/demo_library.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/song_selection.h"
#include "ui/qt_ports.h"
#include "ui/workstation.h"

using namespace sono;

namespace {
// The window's event loop, timing the gaps between two turns.
class TimedEventLoop : public EventLoop {
 public:
  void processEvents() override {
    const auto now = std::chrono::steady_clock::now();
    if (running) longestMs = std::max(longestMs, std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
    ++turns;
    QApplication::processEvents();
  }
  void startTiming() {
    running = true;
    longestMs = 0;
    turns = 0;
    last = std::chrono::steady_clock::now();
  }
  bool running = false;
  double longestMs = 0;
  long turns = 0;
  std::chrono::steady_clock::time_point last;
};

void report(const char* name, double valueMs, double targetMs) {
  const std::string target = "<= " + std::to_string(static_cast<int>(targetMs));
  sono::bench::Report(name, valueMs, "ms", target.c_str(), valueMs / targetMs, "target");
}

// A size of /proc/self/status in MB ("VmHWM:" the peak resident size,
// "VmRSS:" the current one), or -1.
double statusMb(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  double mb = -1;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, field, n) == 0) mb = std::atof(line + n) / 1024.0;
  std::fclose(f);
  return mb;
}

// Starts the peak resident size afresh from the current size (Linux 4.0 and
// later): the library built in this process before start-up is not the
// desktop's.
bool resetPeakResident() {
  malloc_trim(0);  // the heap the build freed goes back to the system first
  std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
  if (!f) return false;
  const bool ok = std::fputs("5", f) >= 0;
  return std::fclose(f) == 0 && ok;
}

double msSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// The site and its library, written before the workstation starts.
bool buildSite(const std::string& home, int songs) {
  bench::BenchSite site(home, {0, 20, 21, 22, 24, 26, 29, 31, 37, 46, 48});
  if (!site.ok) return false;
  data::DemoLibraryOptions demo;
  demo.songs = songs;
  data::BuildDemoLibrary(site.lib, demo);
  demo::AddDemoSounds(site.lib, 2, 7);
  return true;
}
}  // namespace

int main(int argc, char** argv) {
  const int songs = argc > 1 ? std::atoi(argv[1]) : 100000;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  namespace fs = std::filesystem;
  const std::string home = bench::TemporaryHome("startup");
  if (!buildSite(home, songs)) return 1;

  const bool peakReset = resetPeakResident();
  const double residentBefore = statusMb("VmRSS:");
  // From here on is what a program start costs once the process runs: Qt's
  // application object (platform plugin, fonts), the start-up and the window.
  const auto t0 = std::chrono::steady_clock::now();
  int qargc = 1;
  char arg0[] = "bench_startup";
  char* qargv[] = {arg0, nullptr};
  QApplication qapp(qargc, qargv);
  ScriptedPrompt prompt;  // nothing waits for a person
  TimedEventLoop events;
  SystemClock clock;
  RecordingDesktop desktop;
  ConfigEnvironment env = MachineEnvironment(home);
  ui::Workstation ws(prompt, events, clock, desktop, env, LogHeaderInfo{});
  if (!ws.start()) return 1;
  qapp.processEvents();
  const double started = msSince(t0);
  report("startup.window_usable", started, 1500);
  double initDuration = -1;
  for (const std::string& line : ws.app.log().fileBuffer())
    if (const size_t at = line.find("Init: Duration: "); at != std::string::npos)
      initDuration = std::atof(line.c_str() + at + 16);
  report("startup.init_duration_logged", initDuration, 1500);

  // The whole music library searched with the window's events handled in
  // between; the longest gap is how long a click waits at worst.
  ws.window.kinds()->setCurrentIndex(1);
  events.startTiming();
  const auto ts = std::chrono::steady_clock::now();
  ws.window.RechercheDansLaBase();
  const double searchMs = msSince(ts);
  events.running = false;
  std::fprintf(stderr, "search_all_music: %d rows, %ld event turns\n", ws.window.grid()->model()->rowCount(),
               events.turns);
  sono::bench::Report("startup.search_all_music", searchMs, "ms");
  report("startup.search_longest_event_gap", events.longestMs, 50);

  // The song with its sound, found by code, then clicked.
  ws.tab.kind = data::SearchKind::Text;
  ws.tab.mode = data::SearchMode::Code;
  ws.tab.text = "00000001";
  ws.window.searchMode()->setCurrentText("Code");
  ws.window.searchText()->setText("00000001");
  ws.window.kinds()->setCurrentIndex(0);
  ws.window.RechercheDansLaBase();
  qapp.processEvents();
  double best = 1e9;
  bool loaded = true;
  for (int i = 0; i < 3; ++i) {
    // No current row and no sound: the click below is a new selection.
    ws.window.grid()->selectionModel()->clear();
    ws.editorPanel->editor().RAZSonCharge();
    ws.editorPanel->editor().envelopeCount = 0;
    const auto t1 = std::chrono::steady_clock::now();
    ws.window.grid()->selectRow(0);
    qapp.processEvents();
    best = std::min(best, msSince(t1));
    loaded = loaded && ws.editorPanel->editor().envelopeCount > 0;
  }
  if (!loaded) std::fprintf(stderr, "the row click did not load the sound\n");
  report("startup.row_click_to_editor", best, 50);

  // The longest the window waits for its events while `work` runs (the
  // wait up to the first turn after it included).
  const auto longestGap = [&](const char* what, const std::function<bool()>& work) {
    events.startTiming();
    const bool ok = work();
    events.processEvents();
    events.running = false;
    if (!ok) std::fprintf(stderr, "%s failed\n", what);
    return ok ? events.longestMs : -1.0;
  };
  // An intro set on the strip and stored on every station.
  editor::PointerEditor& ed = ws.editorPanel->editor();
  ed.sound.selection.startMs = ed.sound.selection.endMs = 5000;
  ed.sound.selection.marked = true;
  report("startup.store_longest_event_gap", longestGap("store", [&] {
           return ed.StripMenu(editor::StripMenuEntry::Intro) && ed.StorePointers();
         }), 50);
  // A house-format file imported as it is over the song's sound (Replace,
  // then "as is"), the editor reloaded.
  const std::string imported = home + "/imported.s48";
  std::error_code copyError;
  fs::copy_file(ed.sound.soundFile, imported, fs::copy_options::overwrite_existing, copyError);
  prompt.answers = {Answer::Yes, Answer::No};
  report("startup.import_longest_event_gap", longestGap("import", [&] {
           return !copyError && ws.imports.ImportFile(imported);
         }), 50);
  // The desktop's memory at its peak: started, the whole library in the
  // grid, a song loaded in the editor.
  if (peakReset) {
    const double peakMb = statusMb("VmHWM:");
    sono::bench::Report("startup.desktop_peak_memory", peakMb, "MB", "<= 250", peakMb / 250, "target");
    // What the process held before the desktop started (the library's
    // build left some of it): part of the peak above.
    sono::bench::Report("startup.resident_before_start", residentBefore, "MB");
  }
  ws.app.log().Flush();
  ws.app.Form_Unload();
  fs::remove_all(home);
  return loaded ? 0 : 1;
}
