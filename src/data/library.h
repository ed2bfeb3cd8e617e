// The library's lookups shared by the search, the statistics and the editor:
// artist names, category labels and the active flags, read through the
// database layer of the current base. Installing a Library makes the layer
// correct song and artist records after every read.
#pragma once
#include <string>
#include <unordered_map>

#include "core/config.h"
#include "core/ports.h"
#include "core/tracelog.h"
#include "data/pervasive.h"

namespace sono::data {

inline constexpr FileNumber kSongs{22}, kArtists{20}, kCodeTables{21}, kRecorderSongs{26},
    kComplementKeys{29}, kPointers{31}, kTitles{48};

// Their keys the program reads by (catalogue.cpp holds the segments).
inline constexpr KeyNumber kSongByCode{0}, kSongByArtist{1}, kSongByCategory{4}, kSongByTitle{5};
inline constexpr KeyNumber kArtistByCode{0};
inline constexpr KeyNumber kCodeTableByTypeAndCode{0};  // "CATEG" and the category's code…
inline constexpr KeyNumber kRecorderSongByCode{0};
inline constexpr KeyNumber kComplementBySongCode{2};    // key 0 begins with artist and category
inline constexpr KeyNumber kPointerByCodeAndType{0};    // code, pointer type, number
inline constexpr KeyNumber kTitleByCode{0};

struct LibraryPorts {
  PervasiveLayer& db;
  SiteConfig& config;
  TraceLogger& log;
  Prompt& prompt;
  EventLoop& events;
  Clock& clock;
};

// The name of a song's sound file, the one rule of the search, the editor
// and the command line: the code as the record holds it (Windows-1252 bytes,
// blanks around it removed), written in UTF-8 as every file name of this
// system is, followed by ".s48". "CAFÉ0001" gives the UTF-8 name
// "CAFÉ0001.s48" whichever way the code came in. The folder is the sound
// folder of the code's kind on the station (songs.h: SoundFilePath).
std::string SoundFileName(const std::string& codeCp1252);

class Library {
 public:
  explicit Library(LibraryPorts ports);

  int base() const { return config().currentBase(); }
  int stationCount() const { return config().current().stationCount; }

  std::string LibArtiste(int station, const std::string& code);
  std::string LibCategorie(int station, const std::string& code);
  bool EstCeQueLaCategorieEstActive(int station, const std::string& code);
  bool EstCeQueLaStationDeLaCategorieEstActive(int station, const std::string& type,
                                               const std::string& code);
  static bool EstCeQueLaStationDuMorceauEstActive(const std::string& songRecord, int station);

  // A 255-character key holding `value`, as the layer's callers pass it.
  static std::string Key(const std::string& value);

  // Labels are cached per station until the next clearCache() (a search clears it first).
  void clearCache();

  PervasiveLayer& db() { return ports_.db; }
  SiteConfig& config() const { return ports_.config; }
  TraceLogger& log() { return ports_.log; }
  Prompt& prompt() { return ports_.prompt; }
  EventLoop& events() { return ports_.events; }
  Clock& clock() { return ports_.clock; }

 private:
  bool readCodeEntry(int station, const std::string& type, const std::string& code);
  LibraryPorts ports_;
  std::unordered_map<std::string, std::string> artistNames_, categoryLabels_;
};

}  // namespace sono::data
