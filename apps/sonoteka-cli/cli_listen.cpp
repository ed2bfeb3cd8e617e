#include "cli_listen.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "audio/engine/engine.h"
#include "cli_commands.h"
#include "data/ptx.h"

namespace sono::cli {

namespace {
audio::EngineOptions VirtualOnly() {
  audio::EngineOptions o;
  o.useAlsaCards = false;
  return o;
}

bool Int(const std::string& text, int& value) {
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || v < 0 || v > 24L * 3600 * 1000) return false;
  value = static_cast<int>(v);
  return true;
}
}  // namespace

ScriptAudition::ScriptAudition(TraceLogger& log, std::string settingsFile, editor::PointerEditor& editor,
                               editor::WaveformView& view)
    : settingsFile_(std::move(settingsFile)), editor_(editor), deck_(log, clock_, VirtualOnly()) {
  deck_.settingsFile = [this] { return settingsFile_; };
  deck_.attach(editor, view);
}

int ScriptAudition::Run(const std::vector<std::string>& w) {
  using editor::PlayButton;
  if (w[0] == "rolls") {
    char* e1 = nullptr;
    char* e2 = nullptr;
    const double pre = w.size() == 3 ? std::strtod(w[1].c_str(), &e1) : -1;
    const double post = w.size() == 3 ? std::strtod(w[2].c_str(), &e2) : -1;
    if (w.size() != 3 || *e1 || *e2 || pre < 0 || post < 0 || pre > 60 || post > 60)
      return Usage("rolls demande PRE POST en secondes (0 à 60)");
    if (!deck_.SetRolls(pre, post)) return Fail(deck_.message());
    std::printf("Pré-roll: %g s, post-roll: %g s\n", deck_.preRollS, deck_.postRollS);
    return 0;
  }
  if (w.size() >= 2 && w[1] == "mix") {
    if (w.size() != 4 || (w[2] != "start" && w[2] != "end")) return Usage("listen mix start|end CODE");
    return mixAndReport(w[2] == "start", w[3]);
  }
  // listen list FROM TO [FROM TO ...]
  if (w.size() >= 2 && w[1] == "list") {
    if (w.size() < 4 || w.size() % 2 != 0) return Usage("listen list demande des paires DE A (ms)");
    deck_.rangeList.clear();
    for (size_t i = 2; i < w.size(); i += 2) {
      int from = 0, to = 0;
      if (!Int(w[i], from) || !Int(w[i + 1], to)) return Usage("listen list: temps invalide");
      deck_.rangeList.add(from, to);
    }
    return playAndReport(PlayButton::PlayOut, 0, 0, true);
  }
  const auto button = w.size() >= 2 ? editor::PlayButtonNamed(w[1]) : std::nullopt;
  const bool plays = button && *button != PlayButton::Stop && *button != PlayButton::Pause &&
                     *button != PlayButton::GotoBegin && *button != PlayButton::GotoEnd;
  int start = -1, end = -1;
  if (!plays || (w.size() != 2 && w.size() != 4) || (w.size() == 4 && (!Int(w[2], start) || !Int(w[3], end))))
    return Usage("listen play|playin|playout|playfadein|playfadeout|playfrom [DE A] | listen list DE A ... |"
                 " listen mix start|end CODE");
  return playAndReport(*button, start, end, false);
}

int ScriptAudition::mixAndReport(bool startOfSound, const std::string& code) {
  std::string told;
  deck_.onMessage = [&told](const std::string& text) { told = text; };
  const auto other = findMixSong ? findMixSong(code) : std::nullopt;
  if (!deck_.EcouteMixage(startOfSound, other)) return Fail(told.empty() ? "écoute de mixage impossible" : told);
  const editor::MixPlan& plan = deck_.mixPlan();
  const std::string current = editor_.sound.code, second = other->code;
  std::printf("Mixage de %s: %s %d-%d ms, puis %s %d-%d ms à %d ms\n", startOfSound ? "début" : "fin",
              (plan.currentFirst ? current : second).c_str(), plan.first.startMs, plan.first.endMs,
              (plan.currentFirst ? second : current).c_str(), plan.second.startMs, plan.second.endMs, plan.joinMs);
  int heardMs = 0;
  while (deck_.playing()) {
    clock_.advance(editor::AuditionDeck::kPollStepMs);
    deck_.TimerPtx();
    heardMs += editor::AuditionDeck::kPollStepMs;
  }
  std::printf("Entendu: %d ms\n", heardMs);
  return 0;
}

int ScriptAudition::playAndReport(editor::PlayButton button, int start, int end, bool rangeList) {
  deck_.output();  // reads the set-up's values
  if (!deck_.BtnsPlay(button, "sonoteka-cli:edit", start, end, rangeList))
    return Fail("Rien à écouter (" + std::string(editor::PlayButtonName(button)) + ")");
  const editor::AuditionRange& r = deck_.playedRange();
  const double level = deck_.slotLevelDb + static_cast<double>(editor_.ptx.position[data::kLevel]) / 100.0;
  std::printf("Ecoute %s: %d-%d ms, fondu d'entrée %d ms, fondu de sortie %d ms, niveau %.2f dB, vitesse %+.1f %%\n",
              rangeList ? "liste" : editor::PlayButtonName(button), r.startMs, r.endMs, r.fadeInMs, r.fadeOutMs,
              level, editor::PlaySoundInitSpeed(editor_.ptx.position[data::kPitch]));
  RenderAndReport();
  return 0;
}

void ScriptAudition::RenderAndReport() {
  // The whole range (a list goes on by itself), rendered period by period.
  int heardMs = 0;
  double peakDb = -200;
  while (deck_.playing()) {
    clock_.advance(editor::AuditionDeck::kPollStepMs);
    deck_.TimerPtx();
    heardMs += editor::AuditionDeck::kPollStepMs;
    peakDb = std::max({peakDb, deck_.levelLeftDb, deck_.levelRightDb});
  }
  std::printf("Entendu: %d ms, crête %.1f dB\n", heardMs, peakDb);
}

}  // namespace sono::cli
