#include <gtest/gtest.h>
#include <sys/vfs.h>

#include <cstring>
#include <type_traits>
#include <fmt/format.h>

#include "core/demo_site.h"
#include "core/ini.h"
#include "core/manual_ports.h"
#include "log_lines.h"
#include "data/pervasive.h"
#include "network_fs.h"
#include "test_support.h"

namespace sono::data {
using test::Exists;
using test::Lines;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Key lengths are summed over their segments; a key past the last is none.
TEST(Catalogue, KeyLengthsAddTheirSegments) {
  EXPECT_EQ(KeyLength(22, 5), 20);
  EXPECT_EQ(KeyLength(22, 6), 0);
  EXPECT_EQ(KeyLength(20, 3), 21);  // 46:1 + 16:20
  EXPECT_EQ(KeyLength(48, 1), 43);
  EXPECT_FALSE(Catalogue()[38].used());
}

TEST(Catalogue, CreationDefinitionsRoundTrip) {
  btr::FileDef def;
  const auto block = btr::encodeFileDef(FileDefinition(20));
  ASSERT_EQ(block.size(), btr::kCreationBlockSize);
  ASSERT_EQ(btr::decodeFileDef(block.data(), block.size(), def), 0);
  EXPECT_EQ(def.recordLength, 300);
  EXPECT_EQ(def.pageSize, 1024);
  ASSERT_EQ(def.keys.size(), 4u);
  ASSERT_EQ(def.keys[3].segments.size(), 2u);
  EXPECT_EQ(def.keys[3].segments[0].position, 46);
  EXPECT_EQ(def.keys[3].segments[1].length, 20);
  EXPECT_TRUE(def.keys[2].duplicates());
  EXPECT_FALSE(def.keys[0].duplicates());
  // A file whose keys are not documented gets one key on its first bytes.
  const btr::FileDef def13 = FileDefinition(13);
  ASSERT_EQ(def13.keys.size(), 1u);
  EXPECT_EQ(def13.keys[0].length(), 8u);
}

namespace {

// A scripted record manager: answers from a list of statuses and records calls.
struct FakeManager {
  std::vector<int> answers;
  std::vector<int> operations;
  std::vector<std::string> keys;
  int fallback = 0;
  int operator()(int op, void*, void* data, std::uint32_t& length, void* key, int keyLength, int) {
    operations.push_back(op);
    keys.emplace_back(static_cast<char*>(key), static_cast<size_t>(keyLength));
    if (op == 5 && data && length >= 8) std::memcpy(data, "FRESHREC", 8);  // the record read again
    if (answers.empty()) return fallback;
    const int st = answers.front();
    answers.erase(answers.begin());
    return st;
  }
};

class PervasiveTest : public ::testing::Test {
 protected:
  PervasiveTest() : log(clock), config(environment(), log, prompt) {
    std::string error;
    EXPECT_TRUE(CreateDemoSite(dir.path(), error)) << error;
    WriteFile(dir / "drives/c/QZ_Data/FRAD000.bt6", "");
    config.InitGeneralPath(true);
    config.InitGeneralSite();
    log.setFolders(config.current().logFolder, config.current().dataFolder);
    log.setSetupLoaded(true);
    LogHeaderInfo header;
    header.productName = "Vexa_Sonoteka";
    header.version = "1.2.3";
    header.computerName = "poste";
    log.setHeaderInfo(header);
    layer = std::make_unique<PervasiveLayer>(config, log, prompt, clock);
    prompt.shown.clear();
  }
  ConfigEnvironment environment() {
    ConfigEnvironment env;
    env.programFolder = dir.path();
    env.computerName = "poste";
    env.version = "1.2.3";
    return env;
  }
  std::string data(const std::string& name) const { return dir / ("drives/c/QZ_Data/" + name); }
  std::vector<std::string> logged() const { return sono::test::LogMessages(log); }
  // A song record: code, title at 24.
  static std::string song(const std::string& code, const std::string& title) {
    std::string r(900, ' ');
    r.replace(0, code.size(), code);
    r.replace(23, title.size(), title);
    return r;
  }
  // Opens the program's set with a real, empty FRAD022 for both stations.
  void openWithSongs() {
    for (int station : {1, 2})
      ASSERT_EQ(layer->CreationStructureVide(layer->NomFichierBTR(0, 22, station), 22), 0);
    layer->PervasiveOuvertureFichiers(0, 1, 2);
  }
  FakeManager& fake() {
    auto f = std::make_shared<FakeManager>();
    layer->call = [f](int op, void* p, void* d, std::uint32_t& l, void* k, int kl, int kn) {
      return (*f)(op, p, d, l, k, kl, kn);
    };
    fakeHolder = f;
    return *f;
  }

  TempDir dir;
  ManualClock clock;
  ScriptedPrompt prompt;
  TraceLogger log;
  SiteConfig config;
  std::unique_ptr<PervasiveLayer> layer;
  std::shared_ptr<FakeManager> fakeHolder;
};
}  // namespace

TEST_F(PervasiveTest, PhysicalNamesCarryTheStationLetter) {
  EXPECT_EQ(layer->NomFichierBTR(0, 22, 1), data("FRADA22.bt6"));
  EXPECT_EQ(layer->NomFichierBTR(0, 22, 2), data("FRADB22.bt6"));
  EXPECT_EQ(layer->NomFichierBTR(0, 22, 10), data("FRADJ22.bt6"));
  EXPECT_EQ(layer->NomFichierBTR(0, 46, 2), data("FRAD046.bt6"));
  EXPECT_EQ(layer->NomFichierBTR(0, 0, 1), data("FRAD000.bt6"));
}

TEST_F(PervasiveTest, OpeningCreatesTheFilesItMayAndNotTheSongs) {
  layer->PervasiveOuvertureFichiers(0, 1, 2);
  for (const char* created : {"FRAD037.bt6", "FRAD046.bt6", "FRADA48.bt6", "FRADB48.bt6"})
    EXPECT_TRUE(Exists(data(created))) << created;
  EXPECT_FALSE(Exists(data("FRADA22.bt6")));
  EXPECT_TRUE(layer->isOpen(0, 46, 1));
  EXPECT_TRUE(layer->isOpen(0, 48, 2));
  EXPECT_FALSE(layer->isOpen(0, 22, 1));
  EXPECT_TRUE(layer->baseOpen(0));
  const auto lines = logged();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "File: " + data("FRAD046.bt6") + " not found |Create empty structure"),
            lines.end());
  EXPECT_TRUE(prompt.shown.empty());

  std::string key = "00000001";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "Test:Lire"), btr::status::kFileNotFound);
  EXPECT_EQ(layer->status(), 12);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Fichier FRADA22 non ouvert Sub: Test:Lire");
  EXPECT_EQ(prompt.shown[0].icon, Icon::Critical);

  layer->PervasiveFermetureFichiers(0, 1, 2);
  EXPECT_FALSE(layer->isOpen(0, 46, 1));
  EXPECT_EQ(logged().back(), "Pervasive files closed");
}

// A data folder on a network share is refused for LMDB: one message naming
// the PostgreSQL setting and one log line for the whole set, not one report
// per file.
TEST_F(PervasiveTest, AnLmdbBaseOnANetworkShareIsRefusedOnceWithThePostgresSetting) {
  for (int station : {1, 2})
    ASSERT_EQ(layer->CreationStructureVide(layer->NomFichierBTR(0, 22, station), 22), 0);
  struct statfs st;
  ASSERT_EQ(::statfs(config.base(0).dataFolder.c_str(), &st), 0);
  btr::SetNetworkFileSystemStandIn(static_cast<long>(st.f_type), "nfs");
  struct Reset {
    ~Reset() { btr::SetNetworkFileSystemStandIn(0); }
  } reset;
  layer->PervasiveOuvertureFichiers(0, 1, 2);
  EXPECT_FALSE(layer->isOpen(0, 22, 1));
  EXPECT_FALSE(layer->isOpen(0, 22, 2));
  std::vector<std::string> refusals;
  for (const auto& m : prompt.shown)
    if (m.text.find("Moteur_Data=PostgreSQL") != std::string::npos) refusals.push_back(m.text);
  ASSERT_EQ(refusals.size(), 1u);
  std::string folder = config.base(0).dataFolder;
  folder.pop_back();  // without its final "/"
  EXPECT_NE(refusals[0].find(folder + " est sur un partage réseau (nfs)"), std::string::npos) << refusals[0];
  int refusalLines = 0;
  for (const auto& l : Lines(ReadFile(log.dayFile(clock.now()))))
    refusalLines += l.find("Err: LMDB data folder on a network file system: " + config.base(0).dataFolder +
                           " |Refused") != std::string::npos;
  EXPECT_EQ(refusalLines, 1);
}

TEST_F(PervasiveTest, SongsAreReadWrittenAndNormalStatusesStayQuiet) {
  openWithSongs();
  int normalised = 0;
  layer->normalise = [&](int file, std::string&) { normalised += file == 22; };
  std::string key(255, ' ');  // as every caller passes it
  layer->record(22) = song("00000002", "Z\xE9" "bulon");
  EXPECT_EQ(layer->BTRieve(0, 2, key, 0, 22, 1, "T:Ins"), 0);
  layer->record(22) = song("00000001", "Abricot");
  EXPECT_EQ(layer->BTRieve(0, 2, key, 0, 22, 1, "T:Ins"), 0);
  EXPECT_EQ(layer->BTRieve(0, 2, key, 0, 22, 1, "T:Ins"), 5);  // duplicate: told, not reported
  key = "00000002";
  ASSERT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get"), 0);
  EXPECT_EQ(layer->record(22).substr(23, 7), "Z\xE9" "bulon");
  key = std::string(20, ' ');
  ASSERT_EQ(layer->BTRieve(0, 12, key, 5, 22, 1, "T:First"), 0);  // by title
  EXPECT_EQ(layer->record(22).substr(0, 8), "00000001");
  EXPECT_EQ(key, "Abricot" + std::string(13, ' '));
  ASSERT_EQ(layer->BTRieve(0, 6, key, 5, 22, 1, "T:Next"), 0);
  EXPECT_EQ(layer->BTRieve(0, 6, key, 5, 22, 1, "T:Next"), 9);
  key = "00000404";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get"), 4);
  EXPECT_TRUE(prompt.shown.empty());  // 4, 5 and 9 are results, not errors
  EXPECT_EQ(normalised, 3);
  // The other station has its own file.
  key = "00000001";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 2, "T:Get"), 4);
}

TEST_F(PervasiveTest, KeyTooShortIsRefusedBeforeTheCall) {
  openWithSongs();
  FakeManager& f = fake();
  std::string key(19, 'a');
  EXPECT_EQ(layer->BTRieve(0, 5, key, 5, 22, 1, "T:Titre"), btr::status::kKeyBufferTooShort);
  EXPECT_TRUE(f.operations.empty());
  EXPECT_EQ(logged().back(),
            "Err: Key too short: NoFile: 22 Key: 5 Lng: 19 OP: 5 Key:aaaaaaaaaaaaaaaaaaa Sub: T:Titre");
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Clé trop courte: Fichier: 22 NoCle: 5\nKey:aaaaaaaaaaaaaaaaaaa");
  key += 'a';
  EXPECT_EQ(layer->BTRieve(0, 5, key, 5, 22, 1, "T:Titre"), 0);
  // Transactions need no key.
  std::string none;
  EXPECT_EQ(layer->BTRieve(0, 19, none, 0, 22, 1, "T:Begin"), 0);
}

TEST_F(PervasiveTest, DeletingASongLogsItOnceEvenWhenTheDeleteFails) {
  openWithSongs();
  FakeManager& f = fake();
  f.answers = {84, 84, 84, 84, 84, 84, 84, 84, 84, 84, 84};  // locked through every retry
  layer->record(22) = song("00000042", "Le Titre \xE9t\xE9");
  std::string key = "00000042";
  EXPECT_EQ(layer->BTRieve(0, 4, key, 0, 22, 2, "T:Del"), 84);
  EXPECT_EQ(f.operations.size(), 11u);  // the call and its ten repeats
  const auto lines = Lines(ReadFile(data("Delete_202603.Log")));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "2026/03/14 09:30:00 |Station: 2 |Vexa_Sonoteka:1.2.3 |Computer: poste |SongId: "
            "00000042: Le Titre été");
  ASSERT_EQ(prompt.shown.size(), 1u);  // reported after the retries
  EXPECT_EQ(prompt.shown[0].buttons, Buttons::AbortRetryIgnore);
}

TEST_F(PervasiveTest, ConflictsAreReadAgainAndRepeated) {
  openWithSongs();
  FakeManager& f = fake();
  f.answers = {80, 0, 80, 0, 0};  // update, re-read, update, re-read, update
  layer->record(22) = song("00000007", "Mien");
  std::string key = "00000007";
  std::vector<std::string> seen;
  BtrieveOptions options;
  options.reapply = [&](std::string& fresh) {
    seen.push_back(fresh.substr(0, 8));
    fresh.replace(23, 4, "Mien");
  };
  EXPECT_EQ(layer->BTRieve(0, 3, key, 0, 22, 1, "T:Upd", options), 0);
  EXPECT_EQ(f.operations, (std::vector<int>{3, 5, 3, 5, 3}));
  EXPECT_EQ(seen, (std::vector<std::string>{"FRESHREC", "FRESHREC"}));
  EXPECT_EQ(layer->record(22).substr(23, 4), "Mien");
  EXPECT_FALSE(layer->conflict());

  // Without reapply, the caller's record is what gets written again.
  f.operations.clear();
  f.answers = {80, 0, 0};
  layer->record(22) = song("00000007", "Autre");
  EXPECT_EQ(layer->BTRieve(0, 3, key, 0, 22, 1, "T:Upd"), 0);
  EXPECT_EQ(layer->record(22).substr(0, 8), "00000007");

  // Ten conflicts in a row: the status is cleared and the caller told.
  f.operations.clear();
  f.answers.clear();
  for (int i = 0; i < 11; ++i) f.answers.insert(f.answers.end(), {80, 0});
  EXPECT_EQ(layer->BTRieve(0, 3, key, 0, 22, 1, "T:Upd"), 0);
  EXPECT_TRUE(layer->conflict());
  EXPECT_EQ(f.operations.size(), 21u);
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(PervasiveTest, LocksAreRetriedAndOtherStatusesReported) {
  openWithSongs();
  FakeManager& f = fake();
  f.answers = {85, 85, 85, 0};
  std::string key = "00000001";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get"), 0);
  EXPECT_EQ(f.operations.size(), 4u);
  EXPECT_TRUE(prompt.shown.empty());

  f.answers = {7};  // key number changed: fine for get next
  EXPECT_EQ(layer->BTRieve(0, 6, key, 0, 22, 1, "T:Next"), 7);
  EXPECT_TRUE(prompt.shown.empty());
  f.answers = {7};  // but not for get equal
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get"), 7);
  EXPECT_EQ(prompt.shown.size(), 1u);
  f.answers = {4};  // an insert that finds no key is an error
  EXPECT_EQ(layer->BTRieve(0, 2, key, 0, 22, 1, "T:Ins"), 4);
  EXPECT_EQ(prompt.shown.size(), 2u);
  EXPECT_EQ(layer->errors(), 2);
  // A damaged file is said once, to silent callers too, naming the file and
  // what to do; the log holds one line for it.
  f.answers = {2, 2};
  BtrieveOptions quiet;
  quiet.silent = true;
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get", quiet), 2);
  EXPECT_EQ(layer->BTRieve(0, 6, key, 0, 22, 1, "T:Next", quiet), 2);
  ASSERT_EQ(prompt.shown.size(), 3u);
  EXPECT_NE(prompt.shown.back().text.find("FRADA22.bt6 (Morceaux, station 1) est endommagé"), std::string::npos);
  EXPECT_NE(prompt.shown.back().text.find("Réparer les fichiers endommagés"), std::string::npos);
  EXPECT_EQ(layer->damagedFiles().size(), 1u);
  EXPECT_EQ(layer->errors(), 4);
  // One line, the caller on it too (the status text's own line break is not carried in).
  int damageLines = 0;
  for (const auto& l : Lines(ReadFile(log.dayFile(clock.now()))))
    damageLines += l.find("Err: Damaged file: ") != std::string::npos &&
                   l.find("FRADA22.bt6 |Err: 2: The application encountered an I/O error |Sub: T:") != std::string::npos;
  EXPECT_EQ(damageLines, 1) << ReadFile(log.dayFile(clock.now()));
}

TEST_F(PervasiveTest, LostConnectionClosesReopensAndRetries) {
  EXPECT_FALSE(layer->recovery3111);  // only VPN workstations recover
  EcritureIni(config.settingsFile(), "Comportement", "AccesVPN", "1");
  layer = std::make_unique<PervasiveLayer>(config, log, prompt, clock);
  EXPECT_TRUE(layer->recovery3111);
  openWithSongs();
  FakeManager& f = fake();
  f.answers = {3111};
  std::string key = "00000001";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get"), 0);
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text,
            "Erreur Pervasive 3111: Fermeture et ouverture de la base. Current OP: 5");
  const auto lines = logged();
  std::vector<std::string> recovery;
  for (const auto& l : lines)
    if (l.rfind("Err: Pervasive 3111", 0) == 0) recovery.push_back(l);
  EXPECT_EQ(recovery, (std::vector<std::string>{"Err: Pervasive 3111: PervasiveFermetureFichiers",
                                                "Err: Pervasive 3111: PervasiveOuvertureFichiers",
                                                "Err: Pervasive 3111: Nouvel appel",
                                                "Err: Pervasive 3111: Nouveau status: 0"}));
  EXPECT_EQ(f.operations.front(), 5);
  EXPECT_EQ(f.operations.back(), 5);
}

TEST_F(PervasiveTest, StationsTransactionsAndTheLessThanKey) {
  openWithSongs();
  FakeManager& f = fake();
  std::string key = "00000001";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 3, "T:Get"), btr::status::kNotOpen);
  EXPECT_EQ(prompt.shown.back().text, "N° station hors limite: 3");
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 0, "T:Get"), 0);  // below 1 is station 1
  std::string none;
  EXPECT_EQ(layer->BTRieve(0, 20, none, 0, 22, 1, "T:End"), 0);  // nothing open: skipped
  EXPECT_EQ(f.operations, (std::vector<int>{5}));
  key = "0000\xFF\xFF\xFF\xFF";
  layer->BTRieve(0, 11, key, 0, 22, 1, "T:LessEq");
  EXPECT_EQ(f.keys.back().substr(0, 8), "0000zzzz");
}

// The named calls: neither a number nor a file passes for a key, nor a number
// for a file; each reaches the record manager with its own code and key
// number, as the call history and the log lines show them.
static_assert(!std::is_convertible_v<int, FileNumber> && !std::is_convertible_v<int, KeyNumber>);
static_assert(!std::is_convertible_v<FileNumber, KeyNumber> && !std::is_convertible_v<int, Operation>);
TEST_F(PervasiveTest, NamedCallsReachTheRecordManagerWithItsCodes) {
  openWithSongs();
  FakeManager& f = fake();
  std::vector<int> keyNumbers;
  layer->call = [&f, &keyNumbers](int op, void* p, void* d, std::uint32_t& l, void* k, int kl, int kn) {
    keyNumbers.push_back(kn);
    return f(op, p, d, l, k, kl, kn);
  };
  const FileNumber songs{22};
  const KeyNumber byCode{0}, byTitle{5};
  std::string key;
  // A successful call leaves the key it found: 8 bytes of key 0, too short for key 5.
  auto fresh = [&key]() -> std::string& {
    key.assign(255, ' ');
    return key;
  };
  EXPECT_EQ(layer->Insert(0, songs, 2, byCode, fresh(), "T:Ins"), 0);
  EXPECT_EQ(layer->Update(0, songs, 2, byCode, fresh(), "T:Upd"), 0);
  EXPECT_EQ(layer->GetEqual(0, songs, 2, byCode, fresh(), "T:Get"), 0);
  EXPECT_EQ(layer->Delete(0, songs, 2, byCode, fresh(), "T:Del"), 0);
  EXPECT_EQ(layer->GetGreaterOrEqual(0, songs, 2, byTitle, fresh(), "T:Ge"), 0);
  EXPECT_EQ(layer->GetNext(0, songs, 2, byTitle, fresh(), "T:Next"), 0);
  EXPECT_EQ(layer->StepFirst(0, songs, 2, fresh(), "T:First"), 0);
  EXPECT_EQ(layer->StepNext(0, songs, 2, fresh(), "T:Step"), 0);
  EXPECT_EQ(layer->BTRieve(0, Operation::GetLessOrEqual, songs, 2, byTitle, fresh(), "T:Le"), 0);
  {
    BaseTransaction txn(*layer, 0, songs, "T:Txn");
    EXPECT_EQ(txn.commit(), 0);
  }
  EXPECT_EQ(f.operations, (std::vector<int>{2, 3, 5, 4, 9, 6, 33, 24, 11, 19, 20}));
  EXPECT_EQ(keyNumbers, (std::vector<int>{0, 0, 0, 0, 5, 5, 0, 0, 5, 0, 0}));
  // The history shows the same file, station, operation and key numbers.
  const auto history = layer->history();
  ASSERT_EQ(history.size(), 5u);
  EXPECT_EQ(history[0].substr(0, 30), "File:22 Station:2 OP:33 K:00 [");
  EXPECT_EQ(history[2].substr(0, 30), "File:22 Station:2 OP:11 K:05 [");
  EXPECT_EQ(history[4].substr(0, 30), "File:22 Station:1 OP:20 K:00 [");
}

TEST_F(PervasiveTest, TransactionAbortLeavesNoTrace) {
  openWithSongs();
  std::string key, none;
  ASSERT_EQ(layer->BTRieve(0, 19, none, 0, 22, 1, "T:Begin"), 0);
  layer->record(22) = song("00000009", "Fantôme");
  key.assign(255, ' ');
  ASSERT_EQ(layer->BTRieve(0, 2, key, 0, 22, 1, "T:Ins"), 0);
  ASSERT_EQ(layer->BTRieve(0, 21, none, 0, 22, 1, "T:Abort"), 0);
  key = "00000009";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get"), 4);
}

TEST_F(PervasiveTest, ErrorReportTextHistoryAndAbort) {
  openWithSongs();
  FakeManager& f = fake();
  std::string key = "0000\x01" "0001";
  f.answers = {0, 0};
  layer->BTRieve(0, 5, key, 0, 22, 2, "T:A");
  key = "00000002";
  layer->BTRieve(0, 6, key, 0, 22, 2, "T:B");
  EXPECT_EQ(layer->history().front(), "File:22 Station:2 OP:05 K:00 [00000001]");
  bool aborted = false;
  layer->onAbort = [&] { aborted = true; };
  prompt.answers = {Answer::Abort};
  layer->ErreurBTrieve(0, 22, 12, "T:C", false, 2, 5);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text,
            "14/03/2026 09:30:00\n"
            "Fichier: FRADB22.bt6  (022 / Station 2)\n"
            "Err: 12: The MicroKernel cannot find the specified file (FRADB22.bt6)\n"
            "S:00002\n"
            ">File:22 Station:2 OP:05 K:00 [00000001]\n"
            ">File:22 Station:2 OP:06 K:00 [00000002]\n"
            "Sub: T:C\n");
  EXPECT_EQ(prompt.shown[0].icon, Icon::Critical);
  EXPECT_TRUE(aborted);
  // Logged on one line and written at once.
  EXPECT_TRUE(log.fileBuffer().empty());
  const auto written = Lines(ReadFile(log.dayFile(clock.now())));
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back().substr(25).rfind("Err: 14/03/2026 09:30:00 Fichier: FRADB22.bt6  (022", 0), 0u);

  layer->ErreurBTrieve(0, 0, 2, "T:D", true, 1, 5);
  EXPECT_EQ(prompt.shown.back().icon, Icon::Information);
  EXPECT_NE(prompt.shown.back().text.find("Faîtes une restauration de ce fichier\n"), std::string::npos);
  layer->ErreurBTrieve(0, 0, 0, "T:E", true);  // status 0: nothing
  EXPECT_EQ(prompt.shown.size(), 2u);
}

TEST_F(PervasiveTest, StatusTexts) {
  EXPECT_EQ(PervasiveLayer::ErreurBTrieveLibelle(46, "F"),
            "Err: 46: Access to the requested file is denied (File locked ?)\n");
  EXPECT_EQ(PervasiveLayer::ErreurBTrieveLibelle(80, "F"), "Err: 80\n");  // no text known
}

TEST_F(PervasiveTest, FileThatIsNotADatabaseIsReportedAndNothingChanges) {
  WriteFile(data("FRADA22.bt6"), "ceci n'est pas une base de données");
  prompt.answers = {Answer::Ignore};
  layer->FichierPervasiveOuvrir(0, 1, 1, 22);
  EXPECT_FALSE(layer->isOpen(0, 22, 1));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_NE(prompt.shown[0].text.find("Err: 30: The file specified is not a MicroKernel file"),
            std::string::npos);
  EXPECT_EQ(ReadFile(data("FRADA22.bt6")), "ceci n'est pas une base de données");
  std::string key = "00000001";
  EXPECT_EQ(layer->BTRieve(0, 5, key, 0, 22, 1, "T:Get"), 30);
}

TEST_F(PervasiveTest, RelativePathsAreNeverCreatedOrOpened) {
  EXPECT_EQ(layer->CreationStructureVide("FRADA22.bt6", 22), btr::status::kInvalidFileName);
  EXPECT_FALSE(Exists("FRADA22.bt6"));
}

TEST(RecordText, ControlBytesShowAsHex) {
  EXPECT_EQ(RecordAsText(std::string("\xC9t\xE9\x00\x01 ok", 8)), "Été{00}{01} ok");
}

}  // namespace sono::data
