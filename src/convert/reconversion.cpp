#include "convert/reconversion.h"

#include <cerrno>

#include "core/files.h"

namespace sono::convert {

ReconversionResult ReconvertirSon(ConverterPorts ports, ConverterDriver& driver, const std::string& sound,
                                  const std::string& localFolder, bool ask) {
  ReconversionResult result;
  const auto failed = [&](const std::string& text) {
    result.message = text;
    ports.log.TraceLog("Err: Reconversion: " + text);
    return result;
  };
  if (ask) {
    const bool yes =
        ports.prompt.message("Voulez-vous reconvertir le fichier son ?", Icon::Question, Buttons::YesNo) == Answer::Yes;
    ports.log.TraceLog(std::string("Question: Reconvertir le son |Reponse: ") + (yes ? "Oui" : "Non"));
    if (!yes) {
      result.cancelled = true;
      return result;
    }
  }
  if (!File_Exist(sound)) return failed("Fichier son non trouvé: " + sound);
  std::string folder = localFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (!CreateFolders(folder)) return failed("Erreur de chemin d'accès: " + folder);
  const std::string work = folder + kReconversionWorkFile;
  ports.log.TraceLog("Reconversion: Start: " + sound + " |Work: " + work);
  ConversionRequest request = HouseFormatRequest(sound, work);
  if (!driver.ConvertSon(request, false)) return failed("Problème lors de la conversion du son. " + driver.lastError());
  // The player lets go of the sound before it is replaced.
  if (driver.onTargetInUse) driver.onTargetInUse(sound);
  std::string error;
  const auto bytes = ReadWholeFile(work);
  const bool replaced = bytes && WriteFileAtomic(sound, *bytes, &error);
  const bool diskFull = !replaced && (errno == ENOSPC || errno == EFBIG || errno == EDQUOT);
  const bool workRemoved = File_Delete(work);
  if (!replaced) {
    ports.log.TraceLog("Err: Reconversion: " + error);
    result = failed("Impossible de remplacer le fichier son: " + sound + (diskFull ? " (disque plein)" : ""));
  } else {
    result.ok = true;
    ports.log.TraceLog("Reconversion: End: Ok |Sound: " + sound);
  }
  if (!workRemoved) {
    const std::string text = "Impossible de supprimer le fichier temporaire: " + work;
    ports.log.TraceLog("Err: Reconversion: " + text);
    result.message += (result.message.empty() ? "" : "\n") + text;
  }
  return result;
}

}  // namespace sono::convert
