#include "data/library.h"

#include "core/text.h"
#include "data/records.h"

namespace sono::data {

namespace {
constexpr const char* kCaller = "Lib_Data_Morceau";
}

Library::Library(LibraryPorts ports) : ports_(ports) {
  ports_.db.normalise = [](int file, std::string& record) {
    if (file == kSongs) song::Normalise(record);
    else if (file == kArtists) artist::Normalise(record);
  };
}

std::string SoundFileName(const std::string& codeCp1252) { return Cp1252ToUtf8(Trim(codeCp1252)) + ".s48"; }

std::string Library::Key(const std::string& value) {
  std::string key = value;
  key.resize(255, ' ');
  return key;
}

void Library::clearCache() {
  artistNames_.clear();
  categoryLabels_.clear();
}

std::string Library::LibArtiste(int station, const std::string& code) {
  const std::string code5 = Calibre(code, 5);
  if (Trim(code5).empty()) return {};
  const std::string cacheKey = std::to_string(station) + code5;
  if (auto it = artistNames_.find(cacheKey); it != artistNames_.end()) return it->second;
  std::string key = Key(code5);
  BtrieveOptions quiet;
  quiet.silent = true;
  std::string name;
  if (db().GetEqual(base(), kArtists, station, kArtistByCode, key, std::string(kCaller) + ":LibArtiste", quiet) == 0)
    name = GetText(db().record(kArtists), artist::kName);
  artistNames_[cacheKey] = name;
  return name;
}

bool Library::readCodeEntry(int station, const std::string& type, const std::string& code) {
  std::string key = Key(Calibre(type, 5) + Calibre(code, 5));
  BtrieveOptions quiet;
  quiet.silent = true;
  return db().GetEqual(base(), kCodeTables, station, kCodeTableByTypeAndCode, key,
                      std::string(kCaller) + ":LectureCode", quiet) == 0;
}

std::string Library::LibCategorie(int station, const std::string& code) {
  if (Trim(code).empty()) return {};
  const std::string cacheKey = std::to_string(station) + Calibre(code, 5);
  if (auto it = categoryLabels_.find(cacheKey); it != categoryLabels_.end()) return it->second;
  std::string label;
  if (readCodeEntry(station, "CATEG", code)) label = GetText(db().record(kCodeTables), codes::kLabel);
  categoryLabels_[cacheKey] = label;
  return label;
}

bool Library::EstCeQueLaCategorieEstActive(int station, const std::string& code) {
  return readCodeEntry(station, "CATEG", code) && codes::CategoryActive(db().record(kCodeTables));
}

bool Library::EstCeQueLaStationDeLaCategorieEstActive(int station, const std::string& type,
                                                      const std::string& code) {
  if (!readCodeEntry(station, type, code)) return true;  // an unknown entry hides nothing
  return codes::CategoryActiveOnStation(db().record(kCodeTables), station);
}

bool Library::EstCeQueLaStationDuMorceauEstActive(const std::string& songRecord, int station) {
  return song::ActiveOnStation(songRecord, station);
}

}  // namespace sono::data
