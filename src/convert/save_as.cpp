#include "convert/save_as.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>

#include "core/files.h"
#include "core/text.h"

namespace sono::convert {

namespace {
constexpr const char* kReplaceQuestion = "Voulez-vous remplacer le fichier existant ?";
constexpr const char* kConversionProblem = "Problème lors de la conversion du son.";
constexpr const char* kMp3Frequency = "44100";
constexpr const char* kMp3BitRate = "256";
constexpr const char* kOggBitRate = "192";  // quality 0.6 in the driver's table

std::string LowerExtension(const std::string& path) {
  std::string ext = EclateRepFicExt(path).extension;
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext;
}

// Both names lead to the same file (a link, "./", another spelling).
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa{}, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}
}  // namespace

std::string SaveAsFilter() {
  std::string all;
  for (const char* ext : kSaveAsExtensions) all += std::string(all.empty() ? "" : ";") + "*" + ext;
  std::string filter = "Sons|" + all;
  for (const char* ext : kSaveAsExtensions) filter += std::string("|") + (ext + 1) + "|*" + ext;
  return filter;
}

std::optional<ConversionRequest> SaveAsRequest(const std::string& sound, const std::string& target,
                                               const BroadcastTags& tags) {
  const std::string ext = LowerExtension(target);
  ConversionRequest r = HouseFormatRequest(sound, target);
  if (ext == ".mp2") return r;
  if (ext == ".mp3") {
    r.formatCode = static_cast<int>(FormatCode::Mp3);
    r.frequency = kMp3Frequency;
    r.bitRate = kMp3BitRate;
    return r;
  }
  if (ext == ".wav" || ext == ".wave") {
    r.formatCode = static_cast<int>(FormatCode::Wave);
    r.bits = "16";
    r.tags = tags;
    return r;
  }
  if (ext == ".ogg") {
    r.formatCode = static_cast<int>(FormatCode::OggVorbis);
    r.bitRate = kOggBitRate;
    return r;
  }
  return std::nullopt;
}

SaveAsResult SaveFileAs(ConverterPorts ports, ConverterDriver& driver, const std::string& sound,
                        const std::string& target, const BroadcastTags& tags, ExistingTarget existing) {
  SaveAsResult result;
  ports.log.TraceLog("SaveFileAs: Start: " + sound + " to " + target);
  const auto refuse = [&](const std::string& text) {
    result.message = text;
    ports.log.TraceLog("Err: SaveFileAs: " + text);
    return result;
  };
  if (!File_Exist(sound)) return refuse("Fichier source non trouvé.\n" + sound);
  const std::string ext = LowerExtension(target);
  if (ext == ".wma")
    return refuse("Le format Windows Media (.wma) ne peut pas être écrit sur ce poste: choisissez .mp3, .ogg, "
                  ".wav ou .mp2.");
  auto request = SaveAsRequest(sound, target, tags);
  if (!request) return refuse("Format de fichier non pris en charge: '" + target + "' (.mp2, .mp3, .wav, .wave, .ogg).");
  if (SameFile(sound, target)) return refuse("Le fichier '" + target + "' est le son du morceau lui-même.");
  if (File_Exist(target) && existing == ExistingTarget::Ask) {
    const bool replace = ports.prompt.message(kReplaceQuestion, Icon::Question, Buttons::YesNo) == Answer::Yes;
    ports.log.TraceLog(std::string("Question: ") + kReplaceQuestion + " |Reponse: " + (replace ? "Oui" : "Non"));
    if (!replace) {
      result.cancelled = true;
      ports.log.TraceLog("SaveFileAs: End: Cancelled");
      return result;
    }
  }
  if (!driver.ConvertSon(*request, false)) {
    const std::string why = driver.lastError();
    return refuse(std::string(kConversionProblem) + (why.empty() ? "" : "\n" + why));
  }
  result.ok = true;
  result.wave = request->formatCode == static_cast<int>(FormatCode::Wave);
  result.message = "Fichier '" + target + "' créé.";
  ports.log.TraceLog("SaveFileAs: End: Ok");
  return result;
}

}  // namespace sono::convert
