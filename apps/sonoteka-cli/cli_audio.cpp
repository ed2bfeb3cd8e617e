#include "cli_audio.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "audio/codec/house_format.h"
#include "audio/codec/house_writer.h"
#include "audio/codec/mpeg_frames.h"
#include "audio/engine/error_codes.h"
#include "audio/pcx/pcx_tools.h"
#include "audio/player/player_control.h"
#include "cli_session.h"
#include "core/config.h"
#include "editor/audition_deck.h"
#include "core/datetime.h"
#include "core/files.h"
#include "core/system_ports.h"
#include "core/text.h"
#include "data/ptx.h"
#include "data/songs.h"

namespace sono::cli {

namespace {

using namespace sono::audio;

// Prints the messages of the log lines written since `from` (without the time columns).
void PrintLog(const TraceLogger& log, size_t from = 0) {
  const auto& lines = log.fileBuffer();
  for (size_t i = from; i < lines.size(); ++i)
    std::printf("%s\n", lines[i].size() > 25 ? lines[i].substr(25).c_str() : "");
}

// The boards as the hardware configuration logs them, the set-up window's
// playback devices, and the audition's outputs with the one chosen in the
// site's settings (marked "*"); `--device KEY|N` chooses another.
int Devices(const Options& options) {
  const std::string choice = options.value("device");
  {
    SystemClock clock;
    TraceLogger log(clock);
    log.setSetupLoaded(true);
    ConsolePrompt prompt;
    Engine engine;
    BoardTools tools(engine);
    PcxQz qz(log, prompt, clock, "", &tools);
    if (!qz.InitTools(0, "SONOTEKA-CLI")) return Fail("outils indisponibles");
    qz.InitPCXToolsOut(0);
    if (choice.empty()) {
      PrintLog(log);
      std::printf("Périphériques de lecture:\n");
      for (size_t i = 0; i < qz.deviceListOut[0].size(); ++i)
        std::printf("  %zu: %s\n", i, qz.deviceListOut[0][i].name.c_str());
    }
    qz.CloseSoundRessource();
  }
  const bool siteExists = File_Exist(MachineEnvironment(options.home).programFolder + "Settings/Vexa_Config.ini");
  if (!choice.empty() && !siteExists) return Fail("le choix de la sortie d'écoute demande un site (--home)");
  Session session(options, true);
  const bool site = siteExists && session.loadSite();
  if (!choice.empty() && !site) return 1;
  editor::AuditionDeck deck(session.app.log(), session.clock, EngineOptions{});
  deck.settingsFile = [&] { return site ? session.app.config().settingsFile() : std::string(); };
  const std::vector<std::string> names = deck.outputs();
  if (!choice.empty()) {
    int index = -1;
    for (int i = 0; i < static_cast<int>(names.size()); ++i)
      if (deck.outputKey(i) == choice || std::to_string(i) == choice) index = i;
    if (index < 0) return Fail("sortie d'écoute inconnue: " + choice);
    deck.SelectOutput(index);
    if (!deck.message().empty()) return Fail(deck.message());
    std::printf("Sortie d'écoute: %s (%s)\n", names[static_cast<size_t>(index)].c_str(),
                deck.outputKey(index).c_str());
    return 0;
  }
  const int chosen = deck.output();
  std::printf("Sorties d'écoute (%s):\n", site ? "* = choisie" : "aucun site: la première sert");
  for (int i = 0; i < static_cast<int>(names.size()); ++i)
    std::printf("  %s%d: %s [%s]\n", site && i == chosen ? "*" : " ", i, names[static_cast<size_t>(i)].c_str(),
                deck.outputKey(i).c_str());
  return 0;
}

int Info(const std::string& file) {
  SystemClock clock;
  EngineOptions o;
  o.useAlsaCards = false;
  Engine engine(o);
  BoardTools tools(engine);
  ToolsFileInfo info;
  int64_t duration = 0;
  if (!tools.TOOLFileInfo(file, info, kTimeUnitMs, duration)) {
    const int code = tools.TOOLGetLastError();
    if (code == err::kFileTooSmall) return Fail("Fichier son trop petit: " + file);
    return Fail((File_Exist(file) ? "Fichier son non valide: " : "Fichier son non trouvé: ") + file);
  }
  std::printf("Fichier : %s\n", file.c_str());
  if (info.kind == 1) {
    std::printf("Format  : MPEG Layer %d, %d Hz, %d kbit/s, %s\n", info.layer, info.sampleRate,
                info.bitrateKbps, info.channels == 2 ? "stéréo" : "mono");
    std::printf("Trames  : %lld\n", static_cast<long long>(info.frames));
    if (info.truncated) std::printf("Attention: la dernière trame est coupée (ignorée)\n");
    if (info.damagedFrames > 0) {
      const FrameScan scan = ScanMpegFile(file);
      std::printf("Attention: %lld trame(s) endommagée(s) ignorée(s) (%lld octets, %lld ms)\n",
                  static_cast<long long>(info.damagedFrames), static_cast<long long>(scan.damagedBytes),
                  static_cast<long long>(info.damagedMs));
      constexpr size_t kShown = 5;
      for (size_t i = 0; i < scan.damage.size() && i < kShown; ++i)
        std::printf("  octet %lld: %lld octets ignorés\n", static_cast<long long>(scan.damage[i].offset),
                    static_cast<long long>(scan.damage[i].bytes));
      if (scan.damage.size() > kShown) std::printf("  (et %zu autres)\n", scan.damage.size() - kShown);
    }
  } else {
    std::printf("Format  : PCM %d bits, %d Hz, %d canaux\n", info.bitsPerSample, info.sampleRate,
                info.channels);
    std::printf("Échantillons: %lld\n", static_cast<long long>(info.frames));
  }
  std::printf("Durée   : %lld ms (%s)\n", static_cast<long long>(duration),
              Tps2MinSecMil(duration).c_str());
  if (info.damagedFrames > 0) {
    const int64_t whole = duration + info.damagedMs;
    std::printf("Durée estimée sans dommage: %lld ms (%s)\n", static_cast<long long>(whole),
                Tps2MinSecMil(whole).c_str());
  }
  return 0;
}

int Encode(const std::string& in, const std::string& out) {
  const EncodeResult r = EncodeToHouse(in, out);
  if (!r.ok) return Fail(r.error);
  std::printf("%s: %lld trames, %lld ms\n", out.c_str(), static_cast<long long>(r.outputFrames),
              static_cast<long long>(r.outputFrames * kHouseFrameMs));
  return 0;
}

// Completes the WAV file of what the virtual device's first output played
// (streamed to it while rendering).
int WriteHeard(Engine& engine, const std::string& wav) {
  std::string error;
  VirtualDevice& device = engine.virtualDevice();
  if (!device.finishFile(&error)) return Fail("écriture impossible de " + wav + ": " + error);
  std::printf("%s: %lld ms\n", wav.c_str(), static_cast<long long>(device.fileFrames() / 48));
  return 0;
}

// A real device stopped under the play (a card unplugged): said in words.
int DeviceLost(const std::string& reason) {
  return Fail("la sortie son a cessé de fonctionner pendant la lecture (" + reason +
              "): lecture arrêtée");
}

std::string FailedDeviceReason(Engine& engine) {
  for (const BoardDesc& b : engine.boards())
    for (const auto& [device, pair] : b.outputPairs)
      if (device->failure() != 0) return device->systemName() + ": " + device->failureText();
  return "erreur inconnue";
}

bool Number(const Options& options, const std::string& name, double& value) {
  const std::string text = options.value(name);
  if (text.empty()) return true;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end && *end == '\0';
}

struct PlayArgs {
  double start = 0, end = 0, fadeIn = 0, fadeOut = 0, level = 0, tempo = 0;
};

// Through the player control: tempo with the pitch kept, the fade-out as a
// trigger that stops the player with its smoothing.
int PlayWithPlayer(Engine& engine, const PlayArgs& a, const std::string& file,
                   const std::string& wav) {
  PlayerControl control(engine, 1);
  const int device = wav.empty() ? 0 : control.VirtualDevice(0);
  auto failed = [](int code) {
    std::printf("Err: %d |%s\n", code, dj::ErrorText(code).c_str());
    return 1;
  };
  if (int e = control.InitDJSystem(device)) return failed(e);
  if (int e = control.LoadSoundFast(0, file)) return failed(e);
  const int64_t duration = control.GetSoundDuration(0);
  const int64_t start = static_cast<int64_t>(a.start);
  const int64_t end = a.end > 0 ? std::min(static_cast<int64_t>(a.end), duration) : duration;
  if (int e = control.SetTempoPerc(0, a.tempo)) return failed(e);
  if (int e = control.StreamVolumeLevelSet(0, a.level, VolumeScale::Db)) return failed(e);
  if (int e = control.StreamVolumeSmoothingSet(0, static_cast<int64_t>(a.fadeIn),
                                               static_cast<int64_t>(a.fadeOut)))
    return failed(e);
  constexpr int kFadeOutTrigger = 2;
  if (a.fadeOut > 0 && end - static_cast<int64_t>(a.fadeOut) > start)
    control.AddTrigger(0, kFadeOutTrigger, end - static_cast<int64_t>(a.fadeOut));
  control.onTriggerReached = [&control](int player, int id, int64_t, int64_t) {
    if (id == kFadeOutTrigger) control.StopSound(player);
  };
  std::string lost;
  control.onDeviceLost = [&lost](int, const std::string& reason) { lost = reason; };
  const int rc = start == 0 && a.end <= 0 ? control.PlaySound(0) : control.PlaySoundRange(0, start, end);
  if (rc) return failed(rc);
  SystemClock clock;
  while (control.GetPlayerStatus(0) == PlayerStatus::Playing && !engine.virtualDevice().fileFailed()) {
    if (wav.empty())
      clock.sleepMs(10);
    else
      engine.virtualDevice().renderMs(10);
    control.Poll();
  }
  if (!lost.empty()) return DeviceLost(lost);
  // What a stop's fade still has to play.
  for (int i = 0; i < 1 + static_cast<int>(a.fadeOut) / 10; ++i) {
    if (wav.empty())
      clock.sleepMs(10);
    else
      engine.virtualDevice().renderMs(10);
  }
  return 0;
}

// The sound a play names: a file, or the sound of a song's code on the
// station (--station). Empty (said) when there is none.
std::string SoundToPlay(const Options& options, const std::string& target, int& status) {
  status = 0;
  if (File_Exist(target) || !data::CheckSongCode(target).empty()) return target;
  LibrarySession s(options);
  if (!s.open(options.station)) {
    status = 1;
    return {};
  }
  const std::string code = Calibre(Utf8ToCp1252(target), 8);
  if (!data::LectureFicheMorceau(s.lib, options.station, code)) {
    status = Fail("Morceau non trouvé: " + target);
    return {};
  }
  return data::SoundFilePath(s.lib, options.station, code);
}

int Play(const Options& options, const std::string& target) {
  int found = 0;
  const std::string file = SoundToPlay(options, target, found);
  if (found != 0) return found;
  double start = 0, end = 0, fadeIn = 0, fadeOut = 0, level = 0, tempo = 0;
  for (auto [name, target] : {std::pair{"start", &start}, {"end", &end}, {"fade-in", &fadeIn},
                              {"fade-out", &fadeOut}, {"level", &level}})
    if (!Number(options, name, *target)) return Usage(std::string("--") + name + " demande un nombre");
  // The editor's ranges: times as a pointer's (the sound's length is not known
  // yet), the level as the level correction's.
  for (auto [name, value] : {std::pair{"--start", start}, {"--end", end}, {"--fade-in", fadeIn}, {"--fade-out", fadeOut}})
    if (std::string refusal = data::CheckTimeValue(name, value, {}); !refusal.empty()) return Usage(refusal);
  if (std::string refusal = data::CheckPointerValue(data::kLevel, level * 100.0, 0, {}); !refusal.empty())
    return Usage("--level: " + refusal);
  if (!Number(options, "tempo", tempo) || std::fabs(tempo) >= PlayerControl::kMaxTempo)
    return Usage("--tempo demande un pourcentage entre -90 et 90 (exclus)");
  const PlayArgs a{start, end, fadeIn, fadeOut, level, tempo};
  std::printf("Lecture: %s (de %.0f ms à %s)\n", file.c_str(), start, end > 0 ? fmt::format("{:.0f} ms", end).c_str() : "la fin");
  // A tempo is a player feature: asking for one plays through the player.
  const bool player = options.value("player") == "1" || !options.value("tempo").empty();
  const std::string device = options.value("device");
  std::string wav;
  EngineOptions o;
  if (device.rfind("virtual:", 0) == 0) {
    wav = device.substr(8);
    if (wav.empty()) return Usage("--device virtual: demande un fichier WAV");
    if (SameFile(file, wav)) return Usage("la sortie " + wav + " est le son joué");
    o.useAlsaCards = false;
  } else if (!device.empty()) {
    o.useAlsaCards = false;
    o.extraPcms = {device};
  }
  SystemClock clock;
  TraceLogger log(clock);
  log.setSetupLoaded(true);
  ConsolePrompt prompt;
  Engine engine(o);
  if (device.empty() && !engine.alsaCardsFound())
    return Fail("aucune carte son: utilisez --device virtual:SORTIE.wav");
  if (!wav.empty()) {
    std::string error;
    if (!engine.virtualDevice().recordToFile(0, wav, &error))
      return Fail("écriture impossible de " + wav + ": " + error);
  }
  if (player) {
    if (int rc = PlayWithPlayer(engine, a, file, wav)) return rc;
    return wav.empty() ? 0 : WriteHeard(engine, wav);
  }
  BoardTools tools(engine);
  PcxQz qz(log, prompt, clock, "", &tools);
  PcxStreams streams(qz);
  qz.InitTools(0, "SONOTEKA-CLI");
  qz.InitPCXToolsOut(0);
  // All formats the readers know, at 0 dB: what the file holds is what is heard.
  qz.setup.out[0].formats = {true, true, true, true, true, true};
  qz.setup.out[0].analogLeft = qz.setup.out[0].analogRight = 0;
  int maxStreams = 1;
  const size_t logged = log.fileBuffer().size();
  if (!qz.AllocatePipeOut(0, maxStreams)) {
    PrintLog(log, logged);
    return Fail("pipe de lecture indisponible");
  }
  qz.PCXToolsPipeSetLevelOut(0, 0);
  qz.PCXToolsPipeSetLevelOut(0, 1);
  bool flag = false;
  int64_t e = static_cast<int64_t>(end), fo = static_cast<int64_t>(fadeOut);
  int64_t ls = 0, le = 0, es = 0, ee = 0;
  const size_t before = log.fileBuffer().size();
  const bool loaded = streams.PCXToolsOutLoadSound(0, 0, "", file, static_cast<int64_t>(start),
                                                   static_cast<int64_t>(fadeIn), level, flag, e,
                                                   fo, ls, le, es, ee);
  if (!loaded || !streams.PCXToolsOutPlaySound(0, 0)) {
    PrintLog(log, before);
    qz.CloseSoundRessource();
    return 1;
  }
  int status = 0;
  do {
    if (wav.empty())
      clock.sleepMs(20);
    else
      engine.virtualDevice().renderMs(100);
    status = qz.StreamGetStatus(0, 0, 0, "sonoteka-cli:play");
  } while (status > 0 && !engine.virtualDevice().fileFailed());
  const bool lost = status < 0 && qz.lastErrorCode == err::kDeviceLost;
  const std::string reason = lost ? FailedDeviceReason(engine) : std::string();
  qz.CloseSoundRessource();
  if (lost) return DeviceLost(reason);
  return wav.empty() ? 0 : WriteHeard(engine, wav);
}

}  // namespace

int AudioCommand(const Options& options, const std::vector<std::string>& words) {
  const std::string& c = words[0];
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (c == "devices") return args.empty() ? Devices(options) : Usage("argument en trop: " + args[0]);
  if (c == "info") return args.size() == 1 ? Info(args[0]) : Usage("info demande un fichier");
  if (c == "encode")
    return args.size() == 2 ? Encode(args[0], args[1]) : Usage("encode demande ENTRÉE SORTIE.s48");
  if (c == "play") return args.size() == 1 ? Play(options, args[0]) : Usage("play demande un fichier");
  return Usage("commande inconnue: " + c);
}

}  // namespace sono::cli
