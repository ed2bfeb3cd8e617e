// Copying a base between the engines (LMDB and PostgreSQL), both ways, on
// the private PostgreSQL server: the same records along every key,
// Windows-1252 keys folded as before, duplicates kept, a destination with
// records refused until told, and a failure in the middle leaving the
// failing file as it was and the files before it copied.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "data/base_copy.h"
#include "data/catalogue.h"
#include "data/records.h"
#include "pg_site.h"

namespace sono::data::test {
namespace {

constexpr int kSongFile = 22, kArtistFile = 20, kEquivalenceFile = 46;
constexpr int kTitleKey = 5;

std::string SongRecord(const std::string& code, const std::string& artist, const std::string& title1252) {
  std::string r(song::kLength, ' ');
  r.replace(0, 8, code);
  r.replace(8, 5, artist);
  r.replace(23, title1252.size(), title1252);
  return r;
}

// Every record along key `key`, in order; the status that ended the walk in `end`.
std::vector<std::string> Walk(const std::string& path, int key, int* end = nullptr) {
  btr::File f;
  std::vector<std::string> out;
  int s = f.open(path, btr::kModeReadOnly);
  std::string k, rec;
  if (s == 0) s = f.get(btr::kGetFirst, key, k, rec);
  while (s == 0) {
    out.push_back(rec);
    s = f.get(btr::kGetNext, key, k, rec);
  }
  if (end) *end = s;
  return out;
}

std::uint64_t Count(const std::string& path) {
  btr::File f;
  btr::FileDef def;
  std::uint64_t n = 0;
  if (f.open(path, btr::kModeReadOnly) != 0 || f.stat(def, n) != 0) return ~0ull;
  return n;
}

// The title as the title key compares it.
std::string FoldedTitle(const std::string& record) {
  std::string t = record.substr(23, 20);
  for (char& c : t) c = static_cast<char>(btr::foldCase1252(static_cast<unsigned char>(c)));
  return t;
}

// The two files hold the same records in the same order on every key but
// the title key, whose duplicates may come in another order (same titles
// in the same order, same records).
void ExpectSameFile(const std::string& a, const std::string& b, int keys) {
  for (int k = 0; k < keys; ++k) {
    int endA = 0, endB = 0;
    std::vector<std::string> ra = Walk(a, k, &endA), rb = Walk(b, k, &endB);
    EXPECT_EQ(endA, btr::status::kEndOfFile);
    EXPECT_EQ(endB, btr::status::kEndOfFile);
    ASSERT_EQ(ra.size(), rb.size()) << "key " << k;
    if (k != kTitleKey) {
      EXPECT_EQ(ra, rb) << "key " << k;
      continue;
    }
    std::vector<std::string> ta, tb;
    for (const auto& r : ra) ta.push_back(FoldedTitle(r));
    for (const auto& r : rb) tb.push_back(FoldedTitle(r));
    EXPECT_EQ(ta, tb);
    std::sort(ra.begin(), ra.end());
    std::sort(rb.begin(), rb.end());
    EXPECT_EQ(ra, rb);
  }
}

class BaseCopy : public PgSite {
 protected:
  // Base 01 (LMDB): songs of both stations with accented titles that fold
  // alike (duplicates of the title key), artists sharing codes, a song whose
  // title changed after later songs took that title, and two small files.
  void FillLmdbBase() {
    for (int station : {1, 2}) {
      ASSERT_EQ(btr::createFile(Path(0, kSongFile, station), FileDefinition(kSongFile)), 0);
      btr::File f;
      ASSERT_EQ(f.open(Path(0, kSongFile, station)), 0);
      const std::vector<std::string> titles = {"\xC9t\xE9 indien", "\xC9T\xC9 INDIEN", "\xE0 la claire fontaine",
                                               "Z\xE9" "bulon", "\xC0 LA CLAIRE FONTAINE", "c\x9Cur de pirate",
                                               "C\x8CUR DE PIRATE", "\xC9t\xE9 Indien"};
      for (int i = 0; i < 40; ++i) {
        const std::string code = fmt::format("{:08}", i * 7 + station);
        ASSERT_EQ(f.insert(SongRecord(code, i % 3 ? "A0001" : "B0002", titles[i % titles.size()])), 0) << i;
      }
      // The first song takes the title of later ones: it now comes after them
      // under that title, before them in physical order.
      std::string key = fmt::format("{:08}", station), rec;
      ASSERT_EQ(f.get(btr::kGetEqual, 0, key, rec), 0);
      rec.replace(23, 20, std::string("Z\xE9" "bulon") + std::string(13, ' '));
      ASSERT_EQ(f.update(rec), 0);
      // A song deleted: its position stays a hole.
      key = fmt::format("{:08}", 14 + station);
      ASSERT_EQ(f.get(btr::kGetEqual, 0, key, rec), 0);
      ASSERT_EQ(f.remove(), 0);
    }
    ASSERT_EQ(btr::createFile(Path(0, kArtistFile), FileDefinition(kArtistFile)), 0);
    {
      btr::File f;
      ASSERT_EQ(f.open(Path(0, kArtistFile)), 0);
      for (int i = 0; i < 5; ++i) {
        std::string r(artist::kLength, ' ');
        r.replace(0, 5, fmt::format("A{:04}", i));
        r.replace(15, 8, i % 2 ? "H\xE9l\xE8ne  " : "HELENE  ");
        ASSERT_EQ(f.insert(r), 0);
      }
    }
    ASSERT_EQ(btr::createFile(Path(0, kEquivalenceFile), FileDefinition(kEquivalenceFile)), 0);  // empty
  }
};

TEST_F(BaseCopy, CopiesEveryFileBothWaysAndRefusesADestinationWithRecordsUntilTold) {
  SKIP_WITHOUT_POSTGRES_SERVER();
  MakeSite("copy_both");
  FillLmdbBase();
  if (HasFatalFailure()) return;

  std::vector<std::string> progress;
  CopyOptions options;
  options.progressEvery = 10;
  options.progress = [&](const CopyProgress& p) {
    progress.push_back(fmt::format("{}/{} {} {}/{}", p.fileIndex, p.fileCount, p.file->name, p.done, p.total));
  };
  CopyResult r = CopyBase(*layer, *config, 0, 1, options, log);
  ASSERT_TRUE(r.ok) << fmt::format("{}", fmt::join(r.lines, "\n"));
  EXPECT_EQ(r.copied, (std::vector<std::string>{"FRADA20.bt6", "FRADA22.bt6", "FRADB22.bt6", "FRAD046.bt6"}));
  // Progress at each file's start, every ten records, and at its end.
  EXPECT_NE(std::find(progress.begin(), progress.end(), "2/4 FRADA22.bt6 0/39"), progress.end());
  EXPECT_NE(std::find(progress.begin(), progress.end(), "2/4 FRADA22.bt6 30/39"), progress.end());
  EXPECT_NE(std::find(progress.begin(), progress.end(), "2/4 FRADA22.bt6 39/39"), progress.end());
  // Tables of the database, not files of the second base's folder.
  EXPECT_FALSE(sono::test::Exists(config->base(1).dataFolder + "FRADA22.bt6"));
  EXPECT_EQ(btr::BaseEngineOf(Path(1, kSongFile)).kind, btr::EngineKind::Postgres);
  for (int station : {1, 2}) ExpectSameFile(Path(0, kSongFile, station), Path(1, kSongFile, station), 6);
  ExpectSameFile(Path(0, kArtistFile), Path(1, kArtistFile), 4);
  EXPECT_EQ(Count(Path(1, kEquivalenceFile)), 0u);
  {  // an accented title found by another case on the server
    btr::File f;
    ASSERT_EQ(f.open(Path(1, kSongFile)), 0);
    std::string key = std::string("\xC9T\xE9 indien") + std::string(12, ' '), rec;
    ASSERT_EQ(f.get(btr::kGetEqual, kTitleKey, key, rec), 0);
    EXPECT_EQ(FoldedTitle(rec), FoldedTitle(SongRecord("", "", "\xE9t\xE9 INDIEN")));
    // A change made on the server, to be copied back.
    ASSERT_EQ(f.insert(SongRecord("00000999", "C0003", "No\xEBl")), 0);
  }

  // Back to LMDB: the first base holds records, so nothing is written...
  const auto before = Walk(Path(0, kSongFile), 0);
  r = CopyBase(*layer, *config, 1, 0, {}, log);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.holdingRecords.size(), 3u);  // FRADA20, FRADA22, FRADB22 (FRAD046 is empty)
  EXPECT_TRUE(r.copied.empty());
  EXPECT_EQ(r.lines.back(), "Rien n'a été copié.");
  EXPECT_EQ(Walk(Path(0, kSongFile), 0), before);
  // ...until told to replace them.
  CopyOptions replace;
  replace.replace = true;
  r = CopyBase(*layer, *config, 1, 0, replace, log);
  ASSERT_TRUE(r.ok) << fmt::format("{}", fmt::join(r.lines, "\n"));
  EXPECT_EQ(Count(Path(0, kSongFile)), 40u);
  for (int station : {1, 2}) ExpectSameFile(Path(1, kSongFile, station), Path(0, kSongFile, station), 6);
  ExpectSameFile(Path(1, kArtistFile), Path(0, kArtistFile), 4);
  // The whole check of the LMDB file finds it whole.
  EXPECT_TRUE(btr::checkIntegrity(Path(0, kSongFile)).ok());

  // A base onto itself, or two bases on one database, is refused.
  EXPECT_FALSE(CopyBase(*layer, *config, 1, 1, replace, log).ok);
}

TEST_F(BaseCopy, AFailureInTheMiddleLeavesTheFailingFileAsItWasAndNamesTheFilesCopied) {
  SKIP_WITHOUT_POSTGRES_SERVER();
  MakeSite("copy_fail");
  FillLmdbBase();
  if (HasFatalFailure()) return;

  // LMDB to PostgreSQL: the server drops the copy's connection in the
  // middle of the second file.
  CopyOptions options;
  options.progressEvery = 10;
  options.progress = [&](const CopyProgress& p) {
    if (p.fileIndex == 2 && p.done == 20) TerminateConnections(database);
  };
  CopyResult r = CopyBase(*layer, *config, 0, 1, options, log);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.copied, std::vector<std::string>{"FRADA20.bt6"});
  EXPECT_FALSE(btr::FileExists(Path(1, kSongFile))) << "the file created for the copy is removed again";
  EXPECT_FALSE(btr::FileExists(Path(1, kSongFile, 2)));
  EXPECT_EQ(Count(Path(1, kArtistFile)), 5u);
  const std::string report = fmt::format("{}", fmt::join(r.lines, "\n"));
  EXPECT_NE(report.find("FRADA22.bt6 (Morceaux, station 1): ÉCHEC"), std::string::npos) << report;
  EXPECT_NE(report.find("laissé tel qu'il était"), std::string::npos) << report;
  EXPECT_NE(report.find("Fichiers copiés avant l'échec (1): FRADA20.bt6"), std::string::npos) << report;

  // Done again without failure.
  r = CopyBase(*layer, *config, 0, 1, {}, log);
  EXPECT_TRUE(r.holdingRecords.size() == 1u && !r.ok);  // FRADA20 has its records now
  CopyOptions replace;
  replace.replace = true;
  r = CopyBase(*layer, *config, 0, 1, replace, log);
  ASSERT_TRUE(r.ok) << fmt::format("{}", fmt::join(r.lines, "\n"));
  {  // The server's copy changes, so that copying it back changes the first base.
    btr::File f;
    ASSERT_EQ(f.open(Path(1, kSongFile)), 0);
    ASSERT_EQ(f.insert(SongRecord("00000999", "C0003", "No\xEBl")), 0);
  }

  // PostgreSQL to LMDB over files with records: the source's connection is
  // dropped in the middle of the songs; the LMDB file keeps its records.
  const auto before = Walk(Path(0, kSongFile), 0);
  const auto beforeTitles = Walk(Path(0, kSongFile), kTitleKey);
  replace.progressEvery = 10;
  replace.progress = [&](const CopyProgress& p) {
    if (p.file->name == "FRADA22.bt6" && p.done == 30) TerminateConnections(database);
  };
  r = CopyBase(*layer, *config, 1, 0, replace, log);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.copied, std::vector<std::string>{"FRADA20.bt6"});
  EXPECT_EQ(Walk(Path(0, kSongFile), 0), before);
  EXPECT_EQ(Walk(Path(0, kSongFile), kTitleKey), beforeTitles);
  EXPECT_TRUE(btr::checkIntegrity(Path(0, kSongFile)).ok());
  // A key entry changed on the server behind the engine's back (a damaged
  // index): walked along that key the source no longer agrees with its copy,
  // so the copy of that file is not committed.
  {
    PGconn* c = PQconnectdb(connection.c_str());
    ASSERT_EQ(PQstatus(c), CONNECTION_OK);
    PGresult* q = PQexec(c, "UPDATE \"FRADA22.bt6\" SET k5 = '\\x00'::bytea || substr(k5, 2) "
                            "WHERE pos = (SELECT max(pos) FROM \"FRADA22.bt6\")");
    EXPECT_EQ(PQresultStatus(q), PGRES_COMMAND_OK) << PQerrorMessage(c);
    PQclear(q);
    PQfinish(c);
  }
  replace.progress = nullptr;
  r = CopyBase(*layer, *config, 1, 0, replace, log);
  EXPECT_FALSE(r.ok);
  const std::string said = fmt::format("{}", fmt::join(r.lines, "\n"));
  EXPECT_NE(said.find("FRADA22.bt6 (Morceaux, station 1): ÉCHEC: vérification: clé 5"), std::string::npos) << said;
  EXPECT_EQ(Walk(Path(0, kSongFile), 0), before);

  // The log says what failed.
  bool logged = false;
  for (const std::string& line : sono::test::LogMessages(log))
    logged = logged || line.find("Err: Db copy: ") != std::string::npos;
  EXPECT_TRUE(logged);
}

}  // namespace
}  // namespace sono::data::test
