#include "cli_setup.h"

#include <cstdio>
#include <vector>

#include "audio/engine/engine.h"
#include "audio/setup/audio_setup.h"
#include "cli_commands.h"
#include "cli_session.h"
#include "core/text.h"

namespace sono::cli {

namespace {

// The devices as the desktop sees them: the machine's cards (opened by no one
// here: listing them opens nothing) and the virtual board.
audio::AudioSetup LoadSetup(Session& s) {
  audio::Engine engine{audio::EngineOptions{}};
  audio::AudioSetup setup;
  setup.Load(s.app.config().settingsFile(), audio::DevicesOfEngine(engine));
  for (const std::string& w : setup.warnings()) s.app.log().TraceLog("Warning: Setup: " + w);
  return setup;
}

}  // namespace

bool IsAudioSetupSection(const std::string& section) {
  for (const audio::SetupKey& k : audio::AudioSetupKeys())
    if (EqualsNoCase(k.section, section)) return true;
  return false;
}

void ShowAudioSetup(Session& s) {
  const audio::AudioSetup setup = LoadSetup(s);
  std::vector<std::string> sections;
  for (const audio::SetupKey& k : audio::AudioSetupKeys()) {
    bool seen = false;
    for (const std::string& name : sections) seen |= name == k.section;
    if (!seen) sections.push_back(k.section);
  }
  for (const std::string& section : sections) {
    std::printf("[%s]\n", section.c_str());
    for (const audio::SetupKey& k : audio::AudioSetupKeys())
      if (k.section == section) std::printf("%s=%s\n", k.key.c_str(), setup.value(k.section, k.key).c_str());
  }
  std::printf("Périphériques de sortie:\n");
  for (size_t d = 0; d < setup.devices().outputs.size(); ++d)
    std::printf("  %zu  %s\n", d, setup.devices().outputs[d].name.c_str());
  std::printf("Périphériques d'entrée:\n");
  for (size_t d = 0; d < setup.devices().inputs.size(); ++d)
    std::printf("  %zu  %s\n", d, setup.devices().inputs[d].name.c_str());
  std::printf("Cartes:\n");
  for (size_t b = 0; b < setup.devices().boards.size(); ++b)
    std::printf("  %zu  %s\n", b, setup.devices().boards[b].c_str());
  for (const std::string& w : setup.warnings()) std::printf("Attention: %s\n", w.c_str());
}

int SetAudioSetup(Session& s, const std::string& section, const std::string& key, const std::string& value) {
  const audio::SetupKey* k = audio::FindSetupKey(section, key);
  if (!k) return Usage("clé inconnue: " + section + "/" + key + " (voir setup show)");
  audio::AudioSetup setup = LoadSetup(s);
  if (const std::string refusal = setup.Set(k->section, k->key, value); !refusal.empty()) {
    s.app.log().TraceLog("Err: Setup: " + k->section + "/" + k->key + "=" + value + " |" + refusal);
    s.app.log().Flush();
    return Usage(refusal);
  }
  std::string error;
  if (!setup.Save(&error)) {
    s.app.log().TraceLog("Err: Setup: Save: " + error);
    s.app.log().Flush();
    return Fail("Réglage non enregistré: " + error);
  }
  const audio::AudioSetup stored = LoadSetup(s);  // what the file holds now
  s.app.log().TraceLog("Setup: " + k->section + "/" + k->key + " set to " + stored.value(k->section, k->key));
  s.app.log().Flush();
  std::printf("Enregistré: %s/%s=%s\n", k->section.c_str(), k->key.c_str(),
              stored.value(k->section, k->key).c_str());
  return 0;
}

}  // namespace sono::cli
