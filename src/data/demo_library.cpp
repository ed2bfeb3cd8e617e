#include "data/demo_library.h"

#include <array>
#include <fmt/format.h>
#include <random>

#include "core/datetime.h"
#include "core/text.h"
#include "data/ptx.h"
#include "data/records.h"
#include "data/search.h"

namespace sono::data {

namespace {
constexpr const char* kCaller = "Lib_Demo:BuildDemoLibrary";

constexpr std::array<const char*, 24> kFirstNames = {
    "Émilie", "Jean", "Zoé", "Hélène", "Marc", "Léa", "François", "Chloé", "Noël", "Sarah",
    "Björn", "Ana", "Jérôme", "Lucie", "Mathis", "Inès", "Oscar", "Maëlle", "Hugo", "Anaïs",
    "Tom", "Rosa", "Gaëtan", "Nina"};
constexpr std::array<const char*, 20> kLastNames = {
    "Durand", "Lefèvre", "Moreau", "Gauthier", "Brown", "Müller", "Dubois", "Garçon", "Petit",
    "Roux", "Smith", "Caron", "Léger", "Fontaine", "Mercier", "Bélanger", "Taylor", "Côté",
    "Perrin", "Leroy"};
constexpr std::array<const char*, 12> kBands = {
    "Les Étoiles", "The Night Owls", "Café Crème", "Rivière Noire", "Electric Avenue",
    "Les Garçons du Port", "Blue Harbour", "Éclats de Verre", "Northern Lights", "Mélodie Club",
    "Sunset Drive", "Les Frères Jacquet"};
constexpr std::array<const char*, 36> kWords = {
    "L'été", "indien", "Où", "tu", "vas", "Amour", "éternel", "Sous", "la", "pluie", "Ça",
    "ira", "Love", "is", "all", "around", "Midnight", "train", "Cœur", "brisé", "Soleil",
    "d'hiver", "Dancing", "in", "the", "street", "Rêve", "bleu", "Forever", "young", "Très",
    "loin", "Mon", "île", "Golden", "hour"};
struct Category {
  const char* code;
  const char* label;
};
constexpr std::array<Category, 10> kCategories = {{{"POP", "Pop française"},
                                                   {"ROCK", "Rock"},
                                                   {"CHANS", "Chanson"},
                                                   {"A80", "Années 80"},
                                                   {"JAZZ", "Jazz"},
                                                   {"ELEC", "Électro"},
                                                   {"INTER", "Variété internationale"},
                                                   {"CLASS", "Classique"},
                                                   {"HABIL", "Habillage"},
                                                   {"NEWS", "Informations"}}};

// Songs written per transaction: a killed build loses at most one batch, and
// other workstations are not kept out of the base for long.
constexpr size_t kSongsPerTransaction = 250;

// Inserts a record; one already there (5) is kept. False on an error.
bool insert(Library& lib, int station, FileNumber file, const std::string& record, int keyLength) {
  lib.db().record(file) = record;
  std::string key = Library::Key(record.substr(0, static_cast<size_t>(keyLength)));
  BtrieveOptions quiet;
  quiet.silent = true;
  const int st = lib.db().Insert(lib.base(), file, station, kPrimaryKey, key, kCaller, quiet);
  return st == 0 || st == 5;
}

bool pointerStored(int status) { return status == 0 || status == 5; }
}  // namespace

DemoLibraryResult BuildDemoLibrary(Library& lib, const DemoLibraryOptions& options) {
  DemoLibraryResult result;
  std::mt19937 rng(options.seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const int stations = lib.stationCount();
  const int artistCount = std::max(20, options.songs / 8);

  // Artists and categories, the same on every station.
  std::vector<std::string> artistRecords;
  for (int a = 0; a < artistCount; ++a) {
    std::string r(artist::kLength, ' ');
    SetRaw(r, artist::kCode, fmt::format("A{:04}", a + 1));
    SetRaw(r, artist::kCode10, fmt::format("ART{:07}", a + 1));
    const std::string name = a % 3 == 0 ? std::string(kBands[a / 3 % kBands.size()]) +
                                              (a / 3 >= static_cast<int>(kBands.size()) ? fmt::format(" {}", a / 36 + 2) : "")
                                        : std::string(kFirstNames[pick(kFirstNames.size())]) + " " +
                                              kLastNames[pick(kLastNames.size())];
    SetText(r, artist::kName, name);
    SetRaw(r, artist::kCounted, "N");
    SetNumber(r, artist::kCount, 0);
    SetNumber(r, artist::kTotal, 0);
    artistRecords.push_back(r);
  }
  std::vector<std::string> codeRecords;
  for (size_t c = 0; c < kCategories.size(); ++c) {
    for (const char* type : {"CATEG", "CAT_2"}) {
      std::string r(codes::kLength, ' ');
      SetRaw(r, codes::kType, type);
      SetRaw(r, codes::kCode, kCategories[c].code);
      SetText(r, codes::kLabel, kCategories[c].label);
      SetRaw(r, codes::kCategActive, c == 7 ? "N" : "O");  // "Classique" is not active
      SetNumber(r, codes::kCategCount, 0);
      SetNumber(r, codes::kCategTotal, 0);
      for (int s = 1; s <= 10; ++s) SetRaw(r, codes::CategStation(s), "O");
      if (c == 4) SetRaw(r, codes::CategStation(2), "N");  // no jazz on the second station
      codeRecords.push_back(r);
    }
  }

  // Songs: music mostly, then the other kinds.
  struct Song {
    std::string record;
    bool pointers;
  };
  std::vector<Song> songs;
  std::array<int, 6> serial{};
  for (int i = 0; i < options.songs; ++i) {
    const int roll = pick(100);
    const int kind = roll < 80 ? 0 : roll < 88 ? 1 : roll < 92 ? 2 : roll < 95 ? 3 : roll < 98 ? 4 : 5;
    static const char* kPrefix[] = {"", "JIN", "LIN", "RUB", "INF", "PRE"};
    const int n = ++serial[kind];
    const std::string code = kind == 0 ? fmt::format("{:03}{:05}", n / 100000 % 1000, n % 100000)
                                       : fmt::format("{}{:05}", kPrefix[kind], n % 100000);
    std::string r(song::kLength, ' ');
    long long seconds = kind == 0 ? 150 + pick(180) : kind == 1 ? 4 + pick(16) : 10 + pick(110);
    song::PrepareNew(r, code, seconds);
    std::string title;
    const int words = 2 + pick(4);
    for (int w = 0; w < words; ++w) title += (w ? " " : "") + std::string(kWords[pick(kWords.size())]);
    if (title[0] >= 'a' && title[0] <= 'z') title[0] = static_cast<char>(title[0] - 32);
    if (kind == 1) title = "Jingle " + title;
    if (kind == 4) title = "Flash info " + std::to_string(n);
    SetText(r, song::kTitle, title);
    SetText(r, song::kShortTitle, Cp1252ToUtf8(Utf8ToCp1252(title).substr(0, 20)));
    SetRaw(r, song::kArtist1, GetRaw(artistRecords[pick(artistCount)], artist::kCode));
    if (pick(10) == 0) SetRaw(r, song::kArtist2, GetRaw(artistRecords[pick(artistCount)], artist::kCode));
    const int category = kind == 0 ? pick(8) : kind == 4 ? 9 : 8;
    SetRaw(r, song::kCategory, kCategories[category].code);
    SetRaw(r, song::kStations, pick(20) == 0 ? "2N222" : "22222");
    SetRaw(r, song::kFlag108, "N");
    SetRaw(r, song::kFlag230, "N");
    SetRaw(r, song::kTwoDigits231, "00");
    SetRaw(r, song::kTwoDigits233, "00");
    SetRaw(r, song::kTwoDigits235, "00");
    SetRaw(r, song::kPlayable, "O");
    SetRaw(r, song::kSound, "O");
    SetRaw(r, song::kSoundType, std::to_string(kind == 0 ? pick(3) : 5));
    if (pick(20) == 0) {
      SetRaw(r, song::kForcedFlag, "O");
      SetNumber(r, song::kForcedDuration, seconds - 5);
    } else {
      SetRaw(r, song::kForcedFlag, "N");
      SetNumber(r, song::kForcedDuration, 0);
    }
    // Creation and last change dates as the suite's programs write them
    // (search.h), from the song's number: the random draws stay as they were.
    const auto date = [](int64_t days) {
      int y = 0, m = 0, d = 0;
      CivilFromDays(days, y, m, d);
      return fmt::format("{:04}{:02}{:02}", y, m, d);
    };
    const int64_t created = DaysFromCivil(2015, 1, 1) + i * 7919LL % 3650;
    SetRaw(r, song::kCreationDate, date(created));
    SetRaw(r, song::kModificationDate, date(created + i * 104729LL % 400));
    songs.push_back({r, options.withPointers && pick(10) < 3});
  }

  // Artists and categories first, then the songs in batches; each batch is
  // one transaction over every station and file. A song already there is
  // kept, but its companions and pointers are still written when missing, so
  // that running the build again completes a build that was stopped.
  auto fail = [&](const std::string& what) {
    if (result.ok) lib.log().TraceLog("Err: Demo library: " + what);
    result.ok = false;
  };
  {
    BaseTransaction txn(lib.db(), lib.base(), kArtists, kCaller);
    bool ok = txn.begun();
    for (int station = 1; ok && station <= stations; ++station) {
      for (const auto& a : artistRecords) ok = ok && insert(lib, station, kArtists, a, 5);
      for (const auto& c : codeRecords) ok = ok && insert(lib, station, kCodeTables, c, 10);
    }
    if (!ok || txn.commit() != 0) fail("artists and categories not written");
  }
  std::vector<std::mt19937> pointerRngs(static_cast<size_t>(stations) + 1, std::mt19937(options.seed + 1));
  for (size_t from = 0; result.ok && from < songs.size(); from += kSongsPerTransaction) {
    const size_t to = std::min(songs.size(), from + kSongsPerTransaction);
    BaseTransaction txn(lib.db(), lib.base(), kSongs, kCaller);
    bool ok = txn.begun();
    int pointerSets = 0;
    for (int station = 1; ok && station <= stations; ++station) {
      std::mt19937& pointerRng = pointerRngs[static_cast<size_t>(station)];  // the same pointers on every station
      for (size_t i = from; ok && i < to; ++i) {
        const Song& s = songs[i];
        std::string r;
        FillRecorderRecord(r, s.record, lib.LibArtiste(station, GetRaw(s.record, song::kArtist1)));
        ok = insert(lib, station, kSongs, s.record, 8) && insert(lib, station, kRecorderSongs, r, 8);
        FillComplementRecord(r, s.record);
        ok = ok && insert(lib, station, kComplementKeys, r, 18);
        FillTitleRecord(r, s.record);
        ok = ok && insert(lib, station, kTitles, r, 8);
        if (!ok || !s.pointers) continue;
        const std::string code = GetRaw(s.record, song::kCode);
        const long long ms = song::DurationSeconds(s.record) * 1000;
        const long long fadeOut = ms - 3000 - static_cast<long long>(pointerRng() % 4000);
        ok = pointerStored(PtxSauvegarderPointeur(lib, station, code, '1', fadeOut, 2500, -1, 0, true)) &&
             pointerStored(PtxSauvegarderPointeur(lib, station, code, '5', fadeOut + 1000, 0, -1, 0, true)) &&
             pointerStored(PtxSauvegarderPointeur(lib, station, code, '4',
                                                  8000 + static_cast<long long>(pointerRng() % 20000), 0, -1, 0, true));
        if (pointerRng() % 5 == 0) ok = ok && pointerStored(PtxSauvegarderPointeurPitch(lib, station, code, 1020000));
        if (pointerRng() % 5 == 0) ok = ok && pointerStored(PtxSauvegarderPointeurLevel(lib, station, code, -3.5f));
        if (station == 1) ++pointerSets;
      }
    }
    if (!ok || txn.commit() != 0) {
      fail("songs " + std::to_string(from + 1) + " to " + std::to_string(to) + " not written");
      break;
    }
    result.pointerSets += pointerSets;
  }
  result.songs = static_cast<int>(songs.size());
  result.artists = artistCount;
  result.categories = static_cast<int>(kCategories.size());
  return result;
}

}  // namespace sono::data
