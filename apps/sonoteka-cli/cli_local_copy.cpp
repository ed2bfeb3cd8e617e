#include "cli_local_copy.h"

#include <cstdio>

#include "cli_commands.h"
#include "core/config.h"
#include "core/text.h"
#include "editor/pointer_editor.h"

namespace sono::cli {

using namespace sono::editor;

namespace {

void PrintState(const LocalCopies& copies) {
  std::printf("Son de travail: %s\nSonRecopieEnLocal: %s\n", copies.workingFile.c_str(),
              copies.SonRecopieEnLocal ? "oui" : "non");
}

std::string Facts(const FileFacts& f) {
  return f.exists() ? std::to_string(f.size) + " octets" : std::string("absent");
}

}  // namespace

std::optional<int> ConsoleTaskDialog::operator()(const TaskDialog& d) const {
  std::printf("%s\n%s\n", d.instruction.c_str(), d.content.c_str());
  for (const auto& [id, caption] : d.buttons)
    std::printf("  [%s] %s\n", answer == id ? "x" : " ", caption.c_str());
  return answer;
}

std::optional<int> LocalCopyAction(LocalCopies& copies, ConsoleTaskDialog& dialog, const SiteConfig& config,
                                   const std::vector<std::string>& w) {
  const std::string sub = w.size() > 1 ? w[1] : "";
  if (sub == "take" && w.size() == 2) {
    if (!copies.RecopieSonEnLocal()) return Fail("Son non recopié en local. " + copies.lastMessage);
    PrintState(copies);
    return std::nullopt;
  }
  if (sub == "give") {
    bool keep = false, force = false;
    for (size_t i = 2; i < w.size(); ++i) {
      if (w[i] == "keep") keep = true;
      else if (w[i] == "force") force = true;
      else return Usage("local give [keep] [force]");
    }
    if (!copies.UseLocalCopy()) return Fail("Pas de copie locale du son dans " + copies.settings.localFolder);
    // "force": the local sound goes over a server sound changed since the
    // copy ("Prendre le son local"); otherwise the dialog closes and nothing is copied.
    dialog.answer = force ? std::optional<int>(kTaskButtonSecond) : std::nullopt;
    const bool done = copies.RecopieSonSurServeur(!keep, "sonoteka-cli:edit");
    dialog.answer.reset();
    if (!done) return Fail(copies.lastMessage);
    PrintState(copies);
    return std::nullopt;
  }
  if (sub == "compare" && w.size() == 2) {
    const std::string server = copies.serverFile;
    const std::string local = copies.LocalPathOf(server);
    const ServerLocalComparison c = copies.Compare(server, local);
    std::printf("Serveur: %s (%s)\nLocal: %s (%s)\n", server.c_str(), Facts(c.server).c_str(), local.c_str(),
                Facts(c.local).c_str());
    if (c.server.exists() && c.local.exists()) {
      const TaskDialog d = copies.ComparisonDialog(c);
      std::printf("%s\n", c.differ ? (d.instruction + "\n" + d.content).c_str() : "Sons identiques");
    }
    return std::nullopt;
  }
  if (sub == "options" && (w.size() == 2 || w.size() == 4)) {
    if (w.size() == 4) {
      const auto option = LocalCopyOptionOfKey(w[2]);
      if (!option || (w[3] != "0" && w[3] != "1")) return Usage("local options [PartirDuSonLocal|RecopierSurServeur|VerifierSonSurServeur|AccesVPN 0|1]");
      if (!SaveLocalCopyOption(config, *option, w[3] == "1"))
        return Fail("Réglage non enregistré: " + config.settingsFile());
      copies.settings.set(*option, w[3] == "1");
    }
    for (const auto& t : LocalCopyOptionTexts())
      std::printf("%s=%s  %s\n", t.key, copies.settings.on(t.option) ? "1" : "0", t.caption);
    std::printf("DossierSonLocal=%s\n", copies.settings.localFolder.c_str());
    return std::nullopt;
  }
  return Usage("local take | local give [keep] [force] | local compare | local options [CLÉ 0|1]");
}

}  // namespace sono::cli
