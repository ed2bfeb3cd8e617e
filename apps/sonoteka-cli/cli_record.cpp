#include "cli_record.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>

#include "cli_convert.h"
#include "cli_session.h"
#include "audio/engine/alsa_capture.h"
#include "audio/engine/virtual_capture.h"
#include "core/files.h"
#include "core/text.h"
#include "data/songs.h"
#include "recorder/take_recorder.h"

namespace sono::cli {

namespace {

using recorder::StartCondition;
using recorder::StopReason;
using recorder::TakeEvent;
using recorder::TakeSettings;

constexpr const char* kCaller = "sonoteka-cli:record";
constexpr const char* kUsage =
    "record CODE [--device NOM|virtual:ENTRÉE.wav] [--start now|level:-50dB:200ms] "
    "[--stop silence:-50dB:2000ms|after:MS] [--append] [--preroll MS] [--tail MS] [--speed N] | "
    "record CODE --board [--device virtual:ENTRÉE.wav] [--speed N]";
constexpr int kPollMs = 50;
constexpr int kProgressEveryMs = 1000;

volatile std::sig_atomic_t gStopAsked = 0;
void AskStop(int) { gStopAsked = 1; }
volatile std::sig_atomic_t gPauseToggles = 0;
void AskPauseToggle(int) { gPauseToggles = gPauseToggles + 1; }

// The threshold levels the set-up window offers.
bool ThresholdInList(int db) { return db == -40 || db == -50 || db == -60 || db == -70; }

// "level:-50dB:200ms" / "silence:-50dB:2000ms": the level and the duration.
bool ParseLevelRule(const std::string& text, const std::string& kind, float& db, int& ms) {
  static const std::regex rule(R"(([a-z]+):(-[0-9]+)dB:([0-9]+)ms)");
  std::smatch m;
  if (!std::regex_match(text, m, rule) || m[1] != kind) return false;
  const int level = std::stoi(m[2]);
  if (!ThresholdInList(level) || m[3].length() > 7) return false;
  db = static_cast<float>(level);
  ms = std::stoi(m[3]);
  return true;
}

bool ParseMs(const std::string& text, int64_t& ms) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  ms = std::stoll(text);
  return true;
}

const char* StopText(StopReason reason) {
  switch (reason) {
    case StopReason::Manual: return "arrêt demandé";
    case StopReason::Silence: return "silence";
    case StopReason::Length: return "durée atteinte";
    case StopReason::InputEnded: return "fin de l'entrée";
    case StopReason::Failure: return "erreur";
  }
  return "";
}

// The status change of `e` on the standard output and in the log.
void Report(const TakeEvent& e, const TakeSettings& s, TraceLogger& log) {
  auto status = [&](const char* name) { log.TraceLog(std::string("Recorder: ") + name + " |Sub: " + kCaller); };
  switch (e.kind) {
    case TakeEvent::Kind::Armed:
      std::printf("En attente du niveau: %g dB pendant %d ms\n", s.startDb, s.startDurationMs);
      status("RECORD_STATUS_READY");
      break;
    case TakeEvent::Kind::Started:
      if (e.value >= 0)
        std::printf("Enregistrement: niveau atteint à %.3f s de l'entrée, la prise commence %d ms avant\n",
                    e.value / 48000.0, std::max(s.prerollMs, recorder::kMinPrerollMs));
      else
        std::printf("Enregistrement\n");
      log.TraceLog("Record started");
      status("RECORD_STATUS_RECORDING_FILE");
      break;
    case TakeEvent::Kind::Paused:
      std::printf("Pause\n");
      log.TraceLog("Recording: Paused");
      break;
    case TakeEvent::Kind::Resumed:
      std::printf("Reprise\n");
      log.TraceLog("Recording: Resumed");
      break;
    case TakeEvent::Kind::Overrun:
      std::printf("Perte de trames à la capture: %lld en tout\n", static_cast<long long>(e.value));
      log.TraceLog("Err: Recorder: capture overrun |Frames lost: " + std::to_string(e.value) + " |Sub: " + kCaller);
      break;
    case TakeEvent::Kind::Stopped:
      status("RECORD_STATUS_READY");
      break;
    case TakeEvent::Kind::Failed:
      log.TraceLog("Err: Recorder: " + e.text + " |Sub: " + kCaller);
      break;
  }
  std::fflush(stdout);
}

// "CODE_Prise_YYYYMMDD_HHMMSS.s48" beside the song's sound: the hand-over's
// copy stays on one disk, and a take left by a crash is found next to the
// sound it was meant for.
std::string TakePathFor(const std::string& sound, const LocalDateTime& now) {
  const std::filesystem::path p(sound);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d_%02d%02d%02d", now.year, now.month, now.day, now.hour,
                now.minute, now.second);
  const std::string base = (p.parent_path() / (p.stem().string() + "_Prise_" + stamp)).string();
  // Two takes in one second: the second gets a number, never the first's file.
  std::string path = base + ".s48";
  for (int n = 2; std::filesystem::exists(path); ++n) path = base + "_" + std::to_string(n) + ".s48";
  return path;
}

}  // namespace

void PauseRequests::Install() {
  struct sigaction act {};
  act.sa_handler = AskPauseToggle;
  sigemptyset(&act.sa_mask);
  act.sa_flags = SA_RESTART;
  sigaction(SIGUSR1, &act, nullptr);
  seen_ = gPauseToggles;
  terminal_ = ::isatty(STDIN_FILENO) == 1;
}

bool PauseRequests::Toggled() {
  int toggles = 0;
  const int signals = gPauseToggles;
  toggles += signals - seen_;
  seen_ = signals;
  // Every Enter typed since the last turn (never waits).
  while (terminal_) {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    if (::poll(&in, 1, 0) <= 0 || !(in.revents & POLLIN)) break;
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
      terminal_ = false;  // closed: nothing more comes from it
      break;
    }
    toggles += static_cast<int>(std::count(buf, buf + n, '\n'));
  }
  return toggles % 2 != 0;
}

std::string PauseRequests::Hint() const {
  return std::string("Pause et reprise: ") + (terminal_ ? "touche Entrée ou " : "") + "kill -USR1 " +
         std::to_string(::getpid());
}

void InstallRecordSignals(void (*stop)(int), PauseRequests& pauses) {
  struct sigaction act {};
  act.sa_handler = stop;
  sigemptyset(&act.sa_mask);
  sigaction(SIGINT, &act, nullptr);
  sigaction(SIGTERM, &act, nullptr);
  pauses.Install();
  std::printf("%s\n", pauses.Hint().c_str());
  std::fflush(stdout);
}

int RecordCommand(const Options& options, const std::vector<std::string>& words) {
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (args.size() != 1) return Usage(kUsage);
  if (const std::string refusal = data::CheckSongCode(args[0]); !refusal.empty()) return Usage(refusal);

  TakeSettings settings;
  const std::string start = options.value("start", "now");
  if (start != "now") {
    if (!ParseLevelRule(start, "level", settings.startDb, settings.startDurationMs))
      return Usage("--start demande now ou level:SEUILdB:DURÉEms (seuil -40, -50, -60 ou -70)");
    settings.start = StartCondition::OnLevel;
  }
  const std::string stop = options.value("stop");
  const bool stopOnSilence = stop.rfind("silence:", 0) == 0;
  if (stopOnSilence) {
    if (!ParseLevelRule(stop, "silence", settings.stopDb, settings.stopDurationMs))
      return Usage("--stop demande silence:SEUILdB:DURÉEms (seuil -40, -50, -60 ou -70) ou after:MS");
    if (settings.start != StartCondition::OnLevel)
      return Usage("--stop silence demande --start level: une prise « Dès que possible » ne s'arrête pas sur un silence");
  } else if (!stop.empty()) {
    if (stop.rfind("after:", 0) != 0 || !ParseMs(stop.substr(6), settings.lengthMs) || settings.lengthMs == 0)
      return Usage("--stop demande silence:SEUILdB:DURÉEms ou after:MS");
  }
  for (auto [name, field] : {std::pair{"preroll", &settings.prerollMs}, std::pair{"tail", &settings.tailMs}}) {
    int64_t ms = 0;
    if (options.value(name).empty()) continue;
    if (!ParseMs(options.value(name), ms) || ms > 60000) return Usage(std::string("--") + name + " demande une durée en ms (0 à 60000)");
    *field = static_cast<int>(ms);
  }
  double speed = 1.0;
  if (!options.value("speed").empty()) {
    int64_t times = 0;
    if (!ParseMs(options.value("speed"), times) || times < 1 || times > 1000) return Usage("--speed demande un facteur de 1 à 1000");
    speed = static_cast<double>(times);
  }
  if (options.value("board") == "1") {
    for (const char* name : {"start", "stop", "preroll", "tail", "append"})
      if (!options.value(name).empty())
        return Usage(std::string("--board prend ses réglages dans Options / Son / Entrée (setup set "
                                 "Recorder_PCXTools_…), pas --") + name);
    return RecordOnBoard(options, args[0], speed);
  }

  // The song and where its take goes.
  auto library = std::make_unique<LibrarySession>(options);
  if (!library->open(options.station)) return 1;
  const std::string code = Calibre(Utf8ToCp1252(args[0]), 8);
  {
    std::string key = data::Library::Key(code);
    data::BtrieveOptions quiet;
    quiet.silent = true;
    if (library->lib.db().GetEqual(library->lib.base(), data::kSongs, options.station, data::kSongByCode, key, kCaller, quiet) != 0)
      return Fail("Morceau non trouvé: " + args[0]);
  }
  const std::string sound = data::SoundFilePath(library->lib, options.station, code);
  const std::string take = TakePathFor(sound, library->session.clock.now());
  TraceLogger& log = library->session.app.log();

  std::unique_ptr<audio::CaptureSource> source;
  const std::string device = options.value("device", "default");
  if (device.rfind("virtual:", 0) == 0) {
    auto input = audio::VirtualCapture::FromFile(device.substr(8));
    input->setPace(&library->session.clock, speed);
    // A file recorded as it is ends with it; awaiting a silence, silence follows.
    input->setEndAtFileEnd(!stopOnSilence);
    source = std::move(input);
  } else {
    source = std::make_unique<audio::AlsaCapture>(device);
  }

  recorder::TakeRecorder recorder;
  std::string error;
  if (!recorder.start(std::move(source), take, settings, error)) {
    log.TraceLog("Err: Recorder: " + error + " |Sub: " + kCaller);
    return Fail("Enregistrement impossible: " + error);
  }
  log.TraceLog("Record file active for: " + take);
  std::printf("Prise en cours: %s\n", take.c_str());
  std::fflush(stdout);

  PauseRequests pauses;
  InstallRecordSignals(AskStop, pauses);
  bool paused = false;
  Clock& clock = library->session.clock;
  uint64_t nextProgress = clock.tickMs() + kProgressEveryMs;
  while (true) {
    const bool done = recorder.done();
    for (const TakeEvent& e : recorder.takeEvents()) Report(e, settings, log);
    if (done) break;
    if (gStopAsked) recorder.stop();
    if (pauses.Toggled()) {
      paused = !paused;
      if (paused) recorder.pause();
      else recorder.resume();
    }
    if (clock.tickMs() >= nextProgress && recorder.state() == recorder::TakeState::Recording) {
      nextProgress = clock.tickMs() + kProgressEveryMs;
      std::printf("Enregistré: %.1f s\n", recorder.framesRecorded() / 48000.0);
      std::fflush(stdout);
    }
    clock.sleepMs(kPollMs);
  }
  recorder.join();
  const recorder::TakeResult& r = recorder.result();
  std::printf("Enregistrement arrêté: %s\n", StopText(r.reason));
  if (r.overrunFrames > 0) std::printf("Trames perdues à la capture: %lld\n", static_cast<long long>(r.overrunFrames));
  if (r.reason == StopReason::Failure) {
    std::printf("Prise gardée: %s (%lld ms)\n", take.c_str(), static_cast<long long>(r.mpegFrames * 24));
    return Fail("Enregistrement interrompu: " + r.error + "; le son du morceau est inchangé");
  }
  if (r.mpegFrames == 0) {
    std::remove(take.c_str());
    log.TraceLog(std::string("Recorder: empty take removed |Sub: ") + kCaller);
    return Fail("Aucun son enregistré: le niveau de déclenchement n'a pas été atteint; le son du morceau est inchangé");
  }
  std::printf("Prise: %s (%lld ms)\n", take.c_str(), static_cast<long long>(r.mpegFrames * 24));
  std::fflush(stdout);
  library.reset();  // the hand-over opens the library again

  const int status = HandOverTake(options, options.station, args[0], take, options.value("append") == "1");
  if (status != 0) {
    std::printf("Prise gardée: %s\n", take.c_str());
    return status;
  }
  std::remove(take.c_str());
  return 0;
}

}  // namespace sono::cli
