// sonoteka-cli record CODE --board: the take through the boards' record pipe,
// as the editor's record buttons make it when the record input is a board,
// with the set-up's recording settings ("Recorder_PCXTools_*").
#include <csignal>
#include <cstdio>

#include "cli_convert.h"
#include "cli_record.h"
#include "cli_session.h"
#include "audio/engine/virtual_capture.h"
#include "audio/setup/audio_setup.h"
#include "core/files.h"
#include "core/text.h"
#include "data/songs.h"
#include "recorder/record_buttons.h"

namespace sono::cli {

namespace {

constexpr const char* kCaller = "sonoteka-cli:record";
constexpr int kPollMs = 50;
constexpr int kProgressEveryMs = 1000;
constexpr int kDirIn = 1;

volatile std::sig_atomic_t gBoardStopAsked = 0;
void AskBoardStop(int) { gBoardStopAsked = 1; }

const char* StatusText(int status) {
  switch (status) {
    case audio::kRecordWaiting: return "En attente (départ, niveau ou prise en cours)";
    case audio::kRecordRunning: return "Enregistrement";
    case audio::kRecordPaused: return "Pause";
    default: return "Enregistrement arrêté";
  }
}

}  // namespace

int RecordOnBoard(const Options& options, const std::string& codeText, double speed) {
  auto library = std::make_unique<LibrarySession>(options);
  if (!library->open(options.station)) return 1;
  const std::string code = Calibre(Utf8ToCp1252(codeText), 8);
  {
    std::string key = data::Library::Key(code);
    data::BtrieveOptions quiet;
    quiet.silent = true;
    if (library->lib.db().GetEqual(library->lib.base(), data::kSongs, options.station, data::kSongByCode, key, kCaller, quiet) != 0)
      return Fail("Morceau non trouvé: " + codeText);
  }
  const std::string sound = data::SoundFilePath(library->lib, options.station, code);
  Session& session = library->session;
  const std::string device = options.value("device");
  audio::EngineOptions engineOptions;
  if (device.rfind("virtual:", 0) == 0) engineOptions.useAlsaCards = false;
  else if (!device.empty()) return Usage("--board prend la carte choisie dans Options / Son / Entrée, ou --device virtual:ENTRÉE.wav");
  audio::Engine engine(engineOptions);
  audio::BoardTools tools(engine);
  audio::PcxQz qz(session.app.log(), session.prompt, session.clock, session.app.config().settingsFile(), &tools);
  qz.ReadSetup(audio::DevicesOfEngine(engine));
  audio::PcxRecord record(qz);
  recorder::RecorderModel unused({session.prompt, session.app.log(), session.clock}, session.app.config());
  recorder::RecordButtons buttons({session.prompt, session.app.log(), session.clock}, qz, record, unused);
  if (device.rfind("virtual:", 0) == 0) {
    const std::string file = device.substr(8);
    if (!File_Exist(file)) return Usage("entrée virtuelle non trouvée: " + file);
    // A threshold take awaits its silence: silence follows the file, as a
    // quiet microphone would; a plain take ends with it.
    const bool onThreshold = record.settings().declenchement != 0;
    tools.recordTakes().setCaptureOpener([file, speed, onThreshold, &session](const audio::BoardDesc&, int) {
      auto input = audio::VirtualCapture::FromFile(file);
      input->setPace(&session.clock, speed);
      input->setEndAtFileEnd(!onThreshold);
      return input;
    });
  }
  bool closed = false;
  buttons.target = [&] { return recorder::RecordTarget{Trim(code), sound}; };
  buttons.inputNature = [] { return audio::kNaturePcxTools; };
  buttons.closeTake = [&closed](const recorder::RecordTarget&, char) { return closed = true; };

  if (!buttons.BtnsRecord(recorder::kRecordStart)) {
    qz.CloseSoundRessource();
    return Fail(buttons.lastMessage().empty() ? "Enregistrement annulé: le son du morceau est inchangé"
                                              : buttons.lastMessage());
  }
  int64_t frames = 0;
  std::string take;
  tools.TOOLRecordProgress(qz.pipeIn.handle, qz.pipeIn.streams[0].handle, frames, take);
  // The song's sound changes only at the end of the take; a take cut short
  // by a crash is found beside it.
  std::printf("Prise en cours: %s\n", take.c_str());
  std::printf("Son du morceau: %s (changé à la fin de la prise)\n", sound.c_str());
  std::fflush(stdout);
  PauseRequests pauses;
  InstallRecordSignals(AskBoardStop, pauses);
  Clock& clock = session.clock;
  uint64_t nextProgress = clock.tickMs() + kProgressEveryMs;
  int shown = -1;
  while (buttons.recording()) {
    if (gBoardStopAsked) {
      buttons.BtnsRecord(recorder::kRecordStop);
      break;
    }
    // The tape-recorder's Pause, and button 12 (RecordPauseOff) to go on.
    if (pauses.Toggled()) {
      if (buttons.paused()) buttons.BtnsRecord(recorder::kRecordPauseOff);
      else buttons.Pause();
    }
    int status = audio::kRecordIdle;
    tools.TOOLStreamGetStatus(qz.pipeIn.handle, kDirIn, qz.pipeIn.streams[0].handle, status);
    if (status != shown && status != audio::kRecordIdle) {
      shown = status;
      std::printf("%s\n", StatusText(status));
      std::fflush(stdout);
    }
    if (clock.tickMs() >= nextProgress && status == audio::kRecordRunning) {
      nextProgress = clock.tickMs() + kProgressEveryMs;
      tools.TOOLRecordProgress(qz.pipeIn.handle, qz.pipeIn.streams[0].handle, frames, take);
      std::printf("Enregistré: %.1f s\n", static_cast<double>(frames) / 48000.0);
      std::fflush(stdout);
    }
    buttons.Poll();
    clock.sleepMs(kPollMs);
  }
  std::printf("%s\n", StatusText(audio::kRecordIdle));
  audio::RecordOutcome outcome;
  tools.TOOLRecordOutcome(qz.pipeIn.handle, qz.pipeIn.streams[0].handle, outcome);
  if (outcome.overrunFrames > 0) std::printf("Trames perdues à la capture: %lld\n", static_cast<long long>(outcome.overrunFrames));
  qz.CloseSoundRessource();
  if (!closed) return Fail(buttons.lastMessage().empty() ? "le son du morceau est inchangé" : buttons.lastMessage());
  std::printf("Prise: %lld ms\n", static_cast<long long>(outcome.mpegFrames * 24));
  std::fflush(stdout);
  library.reset();  // the closing update opens the library again
  return CloseRecordedSound(options, options.station, codeText);
}

}  // namespace sono::cli
