#include "convert/mass_normalisation.h"

#include <filesystem>

#include "core/files.h"
#include "core/text.h"
#include "data/pervasive.h"
#include "data/ptx.h"
#include "data/music_tab.h"
#include "data/records.h"
#include "data/songs.h"
#include "editor/checked_copy.h"
#include "editor/loudness_meter.h"
#include "editor/normalisation.h"
#include "convert/scale_factor_normalisation.h"

namespace sono::convert {

namespace {

constexpr const char* kCaller = "NormalisationEnMasse_01_Action";
// What the loudness mode promises: the target within half a LU (EBU R 128
// allows one LU in production).
constexpr double kTargetToleranceLu = 0.5;

// The song's level correction, gone on every station at once.
bool DeleteLevelPointers(data::Library& lib, const std::string& code) {
  data::BaseTransaction txn(lib.db(), lib.base(), data::kPointers, kCaller);
  if (!txn.begun()) return false;
  for (int station = 1; station <= lib.stationCount(); ++station) {
    if (data::PtxDetruirePointeur(lib, station, code, data::kLevel) != 0) {
      txn.abort();
      return false;
    }
  }
  return txn.commit() == 0;
}

// The journal's lines: "size S" and "hash H" of the converted sound.
std::string JournalText(const editor::FileFacts& facts) {
  return "size " + std::to_string(facts.size) + "\nhash " + std::to_string(facts.hash) + "\n";
}

// Whether `journal` describes `sound` as it is on disk: the converted file
// has taken the sound's name.
bool JournalDescribes(const std::string& journal, const std::string& sound) {
  const auto text = ReadWholeFile(journal);
  const auto facts = editor::ReadFacts(sound);
  return text && facts && *text == JournalText(*facts);
}

// Written before the rename; empty, or why not (French).
std::string WriteJournal(TraceLogger& log, const std::string& journal, const std::string& converted) {
  std::string error;
  const auto facts = editor::ReadFacts(converted, &error);
  if (facts && WriteFileAtomic(journal, JournalText(*facts), &error)) return {};
  log.TraceLog("Err: Normalization: journal not written |File: " + journal + " |Error: " + error);
  return "Journal de la normalisation impossible à écrire: " + journal;
}

}  // namespace

std::string NormalisationJournalPath(const std::string& sound) {
  const std::filesystem::path p(sound);
  return (p.parent_path() / (p.stem().string() + ".Normalisation")).string();
}

bool NormalisationEnMasse_01_Action(MassNormalisationPorts p, int index, int station, const std::string& codeText,
                                    NormalisedSound& out) {
  TraceLogger& log = p.converter.log;
  out = {};
  out.code = codeText;
  const std::string code = Calibre(Utf8ToCp1252(codeText), 8);
  if (!data::LectureFicheMorceau(p.lib, station, code)) {
    out.message = "Morceau non trouvé: " + codeText;
    log.TraceLog("Err: Normalization: " + out.message + " |Index: " + std::to_string(index));
    return false;
  }
  out.sound = data::SoundFilePath(p.lib, station, code);
  if (!File_Exist(out.sound)) {
    out.message = "Fichier son non trouvé: " + out.sound;
    log.TraceLog("Err: Normalization: " + out.message + " |Index: " + std::to_string(index));
    return false;
  }
  out.before = editor::ReadLevelFile(out.sound);
  log.TraceLog("Normalization: Start |Index: " + std::to_string(index) + " |File: " + out.sound);
  const std::string journal = NormalisationJournalPath(out.sound);
  if (File_Exist(journal)) {
    out.finishedEarlier = JournalDescribes(journal, out.sound);
    if (out.finishedEarlier) {
      log.TraceLog("Normalization: Converted by an interrupted run, not converted again |File: " + out.sound);
    } else {
      log.TraceLog("Normalization: Journal of a conversion that did not replace the sound dropped |File: " + journal);
      File_Delete(journal);
    }
  }
  const EffectSettings& effects = p.driver.effects();
  const bool loudness = effects.normaliseOn && effects.mode == NormaliseMode::Loudness;
  int houseMs = 0;
  ScaleFactorOutcome direct = ScaleFactorOutcome::Unsuited;
  // A house-format sound whose only effect is the loudness gain keeps its
  // frames: the gain goes into their scale factors, nothing is re-encoded.
  if (!out.finishedEarlier && loudness && !effects.trimOn &&
      editor::LoadLoudnessTarget(p.lib.config().settingsFile()).withoutReencoding &&
      !p.driver.FautIlConvertirLeSon(out.sound, houseMs)) {
    std::optional<editor::LevelMeasurements> measured = out.before;
    if (!measured) {
      const editor::LevelMeasureResult now = editor::MeasureLevels(out.sound);
      if (now.ok) measured = now.levels;
    }
    if (measured) direct = NormaliseByScaleFactors(p, code, *measured, out);
    if (direct == ScaleFactorOutcome::Failed) return false;
  }
  if (direct == ScaleFactorOutcome::Unsuited) {
    // The house format, so that the driver checks the whole stream before it
    // takes the sound's place.
    ConversionRequest request = HouseFormatRequest(out.sound, out.sound);
    const auto previous = p.driver.beforeReplace;
    p.driver.beforeReplace = [&](const std::string& converted) { return WriteJournal(log, journal, converted); };
    const bool converted = out.finishedEarlier || p.driver.ConvertSon(request, false);
    p.driver.beforeReplace = previous;
    if (!converted) {
      File_Delete(journal);
      out.message = "Normalisation impossible: " + p.driver.lastError();
      log.TraceLog("Normalization: Unable to convert " + out.sound + " to " + out.sound);
      return false;
    }
    if (!DeleteLevelPointers(p.lib, code)) {
      out.message = "Son normalisé, mais la correction de niveau du morceau n'a pas pu être effacée (voir le journal).";
      log.TraceLog("Err: Normalization: level pointer not deleted |Code: " + codeText);
    }
  }
  out.ok = true;
  int values = 0;
  std::vector<uint8_t> envelope;
  if (!p.envelopes.Rebuild(values, out.sound, 0, envelope, kCaller)) {
    out.message += (out.message.empty() ? "" : "\n") + std::string("Enveloppe non reconstruite: ") + out.sound;
  }
  out.after = editor::ReadLevelFile(out.sound);
  // The journal stays until the level pointer is gone, so that the next run
  // finishes that without converting again.
  if (out.message.empty() && File_Exist(journal) && !File_Delete(journal))
    log.TraceLog("Err: Normalization: journal not deleted |File: " + journal);
  if (direct == ScaleFactorOutcome::Unsuited && loudness && out.after && editor::IsMeasured(out.after->integratedLufs)) {
    // The gain is linear and held by the ceiling: a sound whose peaks are
    // high for its loudness stays under the target, and is said so.
    const editor::LoudnessTarget target = editor::LoadLoudnessTarget(p.lib.config().settingsFile());
    out.heldByCeiling = out.after->integratedLufs < target.targetLufs - kTargetToleranceLu;
    if (out.heldByCeiling)
      log.TraceLog("Normalization: Held by the true-peak ceiling |File: " + out.sound + " |Integrated: " +
                   editor::FormatLevel(out.after->integratedLufs, "LUFS"));
  }
  log.TraceLog("Normalization: End |File: " + out.sound);
  return true;
}

CategorySongs SongsOfCategory(data::Library& lib, int station, const std::string& category) {
  CategorySongs out;
  const std::string wanted = Trim(category);
  for (const data::CategoryNode& node : data::InitGeneralTVCategories(lib, station)) {
    // The tree's nodes are in UTF-8; the records hold Windows-1252.
    const std::string code = Trim(node.code), label = Trim(node.label);
    if (EqualsNoCase(code, wanted) || EqualsNoCase(label, wanted)) {
      out.found = true;
      out.code = Utf8ToCp1252(code);
      out.label = label;
      break;
    }
  }
  if (!out.found) return out;
  // Every song, by code: a category's songs are few enough to be walked in
  // one pass and the walk does not depend on the category key's layout.
  data::PervasiveLayer& db = lib.db();
  data::BtrieveOptions quiet;
  quiet.silent = true;
  std::string key = data::Library::Key("");
  int st = db.GetGreaterOrEqual(lib.base(), data::kSongs, station, data::kSongByCode, key, kCaller, quiet);
  while (st == 0) {
    const std::string& r = db.record(data::kSongs);
    if (Trim(data::GetRaw(r, data::song::kCategory)) == out.code)
      out.codes.push_back(Cp1252ToUtf8(Trim(data::GetRaw(r, data::song::kCode))));
    st = db.GetNext(lib.base(), data::kSongs, station, data::kSongByCode, key, kCaller, quiet);
  }
  if (st != btr::status::kEndOfFile && st != btr::status::kKeyNotFound) {
    out.status = st;
    lib.log().TraceLog("Err: NormalisationEnMasse: songs of category " + out.code + " not all read |Status: " +
                       std::to_string(st));
  }
  return out;
}

CategoryRun PrepareCategoryRun(data::Library& lib, int station, const std::string& category) {
  CategoryRun run;
  run.songs = SongsOfCategory(lib, station, category);
  for (const std::string& code : run.songs.codes) {
    const std::string sound = data::SoundFilePath(lib, station, Calibre(Utf8ToCp1252(code), 8));
    (File_Exist(sound) ? run.withSound : run.withoutSound).push_back(code);
  }
  return run;
}

std::vector<CategoryChoice> CategoryChoices(data::Library& lib, int station) {
  std::vector<CategoryChoice> out;
  for (const data::CategoryNode& node : data::InitGeneralTVCategories(lib, station))
    out.push_back({Trim(node.code), Trim(node.code) + " - " + Trim(node.label)});
  return out;
}

std::string CategoryQuestion(const CategoryRun& run) {
  return "Voulez-vous normaliser les sons de la catégorie " + Cp1252ToUtf8(run.songs.code) + " (" + run.songs.label +
         ") ?\n" + std::to_string(run.withSound.size()) + " son(s), " + std::to_string(run.withoutSound.size()) +
         " morceau(x) sans son.";
}

MassNormalisationResult NormalisationEnMasse(
    MassNormalisationPorts p, int station, const std::vector<std::string>& codes,
    const std::function<bool(int, int, const NormalisedSound&)>& progress, bool showEnd) {
  MassNormalisationResult result;
  const int total = static_cast<int>(codes.size());
  p.converter.log.TraceLog("NormalisationEnMasse: Start |Sounds: " + std::to_string(total));
  for (int i = 0; i < total; ++i) {
    NormalisedSound sound;
    if (NormalisationEnMasse_01_Action(p, i, station, codes[static_cast<size_t>(i)], sound)) ++result.normalised;
    else ++result.failed;
    result.sounds.push_back(sound);
    p.converter.events.processEvents();
    if (progress && !progress(i + 1, total, result.sounds.back()) && i + 1 < total) {
      result.stopped = true;
      p.converter.log.TraceLog("NormalisationEnMasse: Stopped |Done: " + std::to_string(i + 1));
      break;
    }
  }
  p.converter.log.TraceLog("NormalisationEnMasse: End |Normalised: " + std::to_string(result.normalised) +
                           " |Failed: " + std::to_string(result.failed));
  if (showEnd) p.converter.prompt.message(kMassNormalisationDone, Icon::Information, Buttons::Ok);
  return result;
}

}  // namespace sono::convert
