#include "convert/conversion_queue.h"

#include <fmt/format.h>

#include "convert/sound_append.h"
#include "core/files.h"
#include "core/text.h"
#include "data/songs.h"

namespace sono::convert {

namespace {

const char* Flag(bool b) { return b ? "O" : "N"; }

}  // namespace

std::array<std::string, kQueueColumns> QueueHeaders(QueueSheet sheet) {
  return {"Fichier source",
          sheet == QueueSheet::Errors ? "Explication" : "Fichier cible",
          "Timing",
          "Param 1",
          "Param 2",
          "Param 3",
          "Param 4",
          "Param 5",
          "Morceau",
          "Start Condition",
          "Start Condition Param 1",
          "Start Condition Param 2",
          "A Traiter",
          "Détruire",
          "Archiver",
          "Dossier Archive",
          "MAJ Base",
          "End Condition",
          "Send UDP",
          "Keep Ptx",
          "Export",
          "Fichier cible local"};
}

std::array<std::string, kQueueColumns> QueueRow::cells(QueueSheet sheet) const {
  return {source,
          sheet == QueueSheet::Errors ? explanation : target,
          timing,
          std::to_string(request.formatCode),
          request.frequency,
          request.bitRate,
          request.channels,
          request.bits,
          Cp1252ToUtf8(Trim(code)),
          "",
          "",
          "",
          Flag(toDo),
          "N",
          "N",
          "",
          Flag(updateBase),
          "",
          Flag(sendUdp),
          Flag(keepPtx),
          Flag(isExport),
          localTarget};
}

void ConversionQueue::attach(Scheduler& scheduler) {
  scheduler.add(kTimerConvert, kTimerConvertMs, true, [this] {
    if (!running_ && pending() > 0) ConversionDesSons();
  });
}

int ConversionQueue::pending() const {
  int n = 0;
  for (const auto& r : sheet(QueueSheet::ToConvert)) n += r.toDo ? 1 : 0;
  return n;
}

int ConversionQueue::DetermineNoLigConvert(const std::string& source) {
  auto& rows = sheets_[static_cast<size_t>(QueueSheet::ToConvert)];
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].source != source) continue;
    const Answer a = p_.prompt.message(
        "Le fichier existe déjà dans la liste des conversions à faire\n\n"
        "Votre choix sert à déterminer si vous voulez remplacer la conversion déjà existante ou ajouter une autre "
        "conversion à faire\n\n" + source + "\n\nOui: Remplacer la conversion existante\nNon: Ajouter la conversion à la liste",
        Icon::Question, Buttons::YesNo, "Doublon dans les fichiers à convertir");
    const bool replace = a == Answer::Yes;
    p_.log.TraceLog(std::string("Question: Que voulez-vous faire ? |Reponse: ") +
                    (replace ? "Remplacer la conversion existante" : "Ajouter la conversion à la liste"));
    if (replace) return static_cast<int>(i);
    break;
  }
  rows.emplace_back();
  return static_cast<int>(rows.size() - 1);
}

int ConversionQueue::AddToConvertListS48(const std::string& code, const std::string& source,
                                         const std::string& target, const std::string& localTarget,
                                         const std::string& callerMark, const ConversionRequest& request,
                                         bool isExport, bool append) {
  p_.log.TraceLogEncadre(-1, -1, -1,
                         "Add to ConvertList: SongId: " + Trim(code) + " |Source: " + source + " |Target: " + target +
                             " |FichierCibleLocalTemporaire: " + localTarget + " |Sub: " + callerMark,
                         '=');
  const int index = DetermineNoLigConvert(source);
  QueueRow& row = sheets_[static_cast<size_t>(QueueSheet::ToConvert)][static_cast<size_t>(index)];
  row = QueueRow{};
  row.source = source;
  row.target = target;
  row.localTarget = localTarget;
  row.request = request;
  row.request.source = source;
  row.code = code;
  row.isExport = isExport;
  row.append = append && !localTarget.empty();
  row.updateBase = row.sendUdp = !isExport;
  changed();
  return index;
}

bool ConversionQueue::setSendUdp(size_t index, bool on) {
  auto& rows = sheets_[static_cast<size_t>(QueueSheet::ToConvert)];
  if (index >= rows.size() || (on && rows[index].isExport)) return false;
  if (rows[index].sendUdp == on) return true;
  rows[index].sendUdp = on;
  p_.log.TraceLog("ConvertList: Send UDP: " + std::string(on ? "O" : "N") + " |SongId: " + Trim(rows[index].code) +
                  " |Source: " + rows[index].source);
  changed();
  return true;
}

bool ConversionQueue::processRow(QueueRow& row, std::string& error) {
  const PathParts parts = EclateRepFicExt(row.source);
  if (parts.name.empty() || !NomFichierCorrect(parts.name + parts.extension)) {
    error = "Le nom du fichier à convertir est incorrect:\r\n" + row.source;
    return false;
  }
  if (row.request.formatCode < kFirstFormatCode || row.request.formatCode > kLastFormatCode) {
    error = "N° de format de conversion inconnu: " + std::to_string(row.request.formatCode);
    return false;
  }
  ConversionRequest request = row.request;
  request.target = row.localTarget.empty() ? row.target : row.localTarget;
  if (!driver_.ConvertSon(request, false)) {
    error = driver_.lastError();
    return false;
  }
  if (row.localTarget.empty()) return true;
  const std::string caller = "Lib_Library:ConversionDesSons";
  if (row.append) {
    p_.log.TraceLog("Append: " + row.localTarget + " to " + row.target);
    error = AppendHouseSound(row.target, row.localTarget);
    File_Delete(row.localTarget);
    p_.log.TraceLog(error.empty() ? "Append: Ok |Sub: " + caller : "Err: Append |Sub: " + caller);
    return error.empty();
  }
  p_.log.TraceLog("File_Copy: " + row.localTarget + " to " + row.target);
  if (!File_Copy(row.localTarget, row.target)) {
    p_.log.TraceLog("Err: File_Copy |Sub: " + caller);
    error = "Impossible de recopier le fichier dans le dossier: " + ParentFolder(row.target);
    File_Delete(row.localTarget);
    return false;
  }
  p_.log.TraceLog("File_Copy: Ok |Sub: " + caller);
  p_.log.TraceLog("File_Delete: " + row.localTarget);
  if (File_Delete(row.localTarget)) {
    p_.log.TraceLog("File_Delete: Ok |Sub: " + caller);
  } else {
    p_.log.TraceLog("Err: File_Delete |Sub: " + caller);
    p_.log.TraceLog("Err: Convert: Impossible de supprimer le fichier: " + row.localTarget);
  }
  return true;
}

void ConversionQueue::ConversionDesSons(bool showMessages) {
  if (running_) return;
  running_ = true;
  int done = 0, errors = 0;
  bool music = false, categories = false;
  auto& todo = sheets_[static_cast<size_t>(QueueSheet::ToConvert)];
  for (size_t i = 0; i < todo.size();) {
    if (!todo[i].toDo) {
      ++i;
      continue;
    }
    QueueRow row = todo[i];
    std::string error;
    const bool ok = processRow(row, error);
    // Switched while the converter ran (events run during its wait).
    row.sendUdp = todo[i].sendUdp;
    const LocalDateTime now = p_.clock.now();
    row.timing = fmt::format("{:02}:{:02}:{:02}", now.hour, now.minute, now.second);
    row.toDo = false;
    todo.erase(todo.begin() + static_cast<std::ptrdiff_t>(i));
    ++done;
    if (ok) {
      if (!row.isExport && row.updateBase && data::SongRecordFollowsSound(row.code)) {
        if (!row.append && onSoundReplaced) onSoundReplaced(row.code);
        if (onSongConverted) onSongConverted(row.code, row.target, row.sendUdp);
        // Artists average music; categories music, jingles and rubriques.
        const int kind = data::KindOfCode(row.code);
        music = music || kind == 0;
        categories = categories || kind == 0 || kind == 1 || kind == 3;
      }
      sheets_[static_cast<size_t>(QueueSheet::Converted)].push_back(std::move(row));
    } else {
      ++errors;
      p_.log.TraceLog("Err: ConversionDesSons: " + error + " |Source: " + row.source);
      row.explanation = error;
      if (showMessages) p_.prompt.message(error, Icon::Critical, Buttons::Ok);
      sheets_[static_cast<size_t>(QueueSheet::Errors)].push_back(std::move(row));
    }
    changed();
  }
  if (music) {
    p_.log.TraceLog("Convert: Before Update Artist Sound Duration");
    if (recountArtists) recountArtists();
    p_.log.TraceLog("Convert: After Update Artist Sound Duration");
  }
  if (categories) {
    p_.log.TraceLog("Convert: Before Update Category Sound Duration");
    if (recountCategories) recountCategories();
    p_.log.TraceLog("Convert: After Update Category Sound Duration");
  }
  running_ = false;
  if (done > 0) {
    const std::string text = (errors > 0 ? "Nombre de conversion: " + std::to_string(done) + ", avec " +
                                               std::to_string(errors) + " erreur(s)"
                                         : "Nombre de conversions: " + std::to_string(done)) +
                             "\nConversion terminée";
    if (onPopup) onPopup(text);
    else p_.prompt.message(text, Icon::Information, Buttons::Ok, "Conversion terminée");
  }
}

}  // namespace sono::convert
