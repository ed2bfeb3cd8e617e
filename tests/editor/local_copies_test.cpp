// Local copies of sounds: the checked copy (a slow link, a lost link, a
// source changing under it), taking a sound local and giving it back, the
// row selection's comparison with its dialog, leaving a local sound, and a
// server sound changed by another workstation after the copy was taken.
#include "editor/local_copies.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <memory>

#include "editor_window.h"
#include "library_fixture.h"
#include "test_support.h"
#include "core/files.h"
#include "core/house_format.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "editor/duration_meter.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"
#include "editor/sound_edits.h"

namespace sono::editor {
namespace {

namespace fs = std::filesystem;
using sono::test::ReadFile;
using sono::test::WriteFile;

bool Has(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

std::vector<std::string> PartFiles(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().find(".part") != std::string::npos) out.push_back(e.path().string());
  return out;
}

void SetModifiedNs(const std::string& path, int64_t ns) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(ns / 1000000000LL), static_cast<long>(ns % 1000000000LL)}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(CheckedCopy, ASlowLinkIsPacedALostLinkAndAChangingSourceLeaveTheTargetWhole) {
  sono::test::TempDir dir;
  const std::string from = dir / "source.s48", to = dir / "copy.s48";
  std::string bytes(1024 * 1024 + 123, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 3);
  WriteFile(from, bytes);
  WriteFile(to, "previous copy");

  // 64 KB/s: a megabyte takes 16 s on the manual clock, never less at any point.
  ManualClock clock;
  const uint64_t start = clock.tickMs();
  CopyOptions slow;
  slow.bytesPerSecond = 64 * 1024;
  slow.clock = &clock;
  int blocks = 0;
  slow.progress = [&](int64_t done, int64_t total) {
    EXPECT_EQ(total, static_cast<int64_t>(bytes.size()));
    EXPECT_GE(clock.tickMs() - start, static_cast<uint64_t>(done * 1000 / slow.bytesPerSecond));
    ++blocks;
    return true;
  };
  const CopyResult r = CopyChecked(from, to, slow);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(ReadFile(to), bytes);
  EXPECT_EQ(blocks, 17);
  EXPECT_EQ(clock.tickMs() - start, bytes.size() * 1000 / (64 * 1024));
  EXPECT_EQ(r.source.hash, ContentHash(bytes.data(), bytes.size()));
  EXPECT_EQ(r.target.size, static_cast<int64_t>(bytes.size()));

  // The link goes at the third block: the previous copy stays, nothing partial is left.
  WriteFile(to, "previous copy");
  CopyOptions lost;
  lost.progress = [](int64_t done, int64_t) { return done < 3 * static_cast<int64_t>(kCopyBlockBytes); };
  const CopyResult broken = CopyChecked(from, to, lost);
  EXPECT_FALSE(broken.ok);
  EXPECT_EQ(broken.error, "copie interrompue (liaison perdue)");
  EXPECT_EQ(ReadFile(to), "previous copy");
  EXPECT_EQ(ReadFile(from), bytes);
  EXPECT_TRUE(PartFiles(dir.path()).empty());

  // Another workstation appends to the source while it is read.
  CopyOptions changing;
  changing.progress = [&](int64_t done, int64_t) {
    if (done == static_cast<int64_t>(kCopyBlockBytes)) sono::AppendToFile(from, "more");
    return true;
  };
  const CopyResult moved = CopyChecked(from, to, changing);
  EXPECT_FALSE(moved.ok);
  EXPECT_EQ(moved.error, "le fichier a changé pendant la copie");
  EXPECT_EQ(ReadFile(to), "previous copy");
  EXPECT_TRUE(PartFiles(dir.path()).empty());

  // A missing source says so; the target is not touched.
  EXPECT_FALSE(CopyChecked(dir / "none.s48", to).ok);
  EXPECT_EQ(ReadFile(to), "previous copy");
}

class LocalCopiesTest : public data::test::LibraryFixture {
 protected:
  static constexpr const char* kCode = "00000101";

  LocalCopiesTest() : window(*lib, *stats, 200000), editor(window.editor), edits(window.edits) {
    InsertEverywhere(data::kSongs, Song(kCode, "Premier", 20));
    server = data::SoundFilePath(*lib, 1, kCode);
    std::string error;
    EXPECT_TRUE(demo::WriteDemoSound(server, 20, false, 7, error)) << error;
    original = ReadFile(server);
    localFolder = dir / "local/";
    LocalCopySettings settings;
    settings.localFolder = localFolder;
    copies = std::make_unique<LocalCopies>(LocalCopies::Ports{log, prompt, clock, editor, &edits}, settings);
    copies->taskDialog = [this](const TaskDialog& d) -> std::optional<int> {
      dialogs.push_back(d);
      if (answers.empty()) return std::nullopt;
      const auto a = answers.front();
      answers.pop_front();
      return a;
    };
    Select();
  }
  // The row selection of the song: its local part, then the editor.
  void Select() {
    const std::string opened = copies->SelectionLigne(kCode, server);
    prompt.answers = {Answer::No};  // an edited sound: its pointers are not stored again
    ASSERT_TRUE(editor.InitSoundPtx(SoundLoad::NewSelection, false, "Test", {kCode, 1, 20000, opened, {}, {}}));
    prompt.answers.clear();
    copies->Opened(server, opened);
  }
  std::string Local() const { return localFolder + kCode + ".s48"; }
  // A cut on the sound being edited (whatever file it lives in).
  void Cut() {
    editor.StripMouseDown(MouseButton::Left, 0, {});
    editor.sound.selection = {1000, 2000, 0, 0, true};
    ASSERT_TRUE(edits.MnuCopyCutPaste(CopyCutPasteMode::Cut, "Test")) << edits.lastMessage;
  }
  // Another workstation rewrites the server's sound keeping its length (a level change).
  void ServerChangedElsewhere() {
    std::string bytes = ReadFile(server);
    bytes[100] = static_cast<char>(bytes[100] ^ 0x55);
    clock.advance(5000);
    WriteFile(server, bytes);
    SetModifiedNs(server, StatFacts(server).modifiedNs + 5000000000LL);
  }

  test::EditorWindow window;
  PointerEditor& editor;
  SoundEdits& edits;
  std::unique_ptr<LocalCopies> copies;
  std::vector<TaskDialog> dialogs;
  std::deque<int> answers;
  std::string server, original, localFolder;
};

TEST_F(LocalCopiesTest, TakenLocalEditedThereAndGivenBackWithTheNotificationHeldMeanwhile) {
  EXPECT_TRUE(Has(Logged(), "FichierSonLocal not found"));
  EXPECT_FALSE(copies->SonRecopieEnLocal);
  EXPECT_TRUE(copies->entryEnabled(CopyMenuEntry::CopyToLocal));
  EXPECT_FALSE(copies->entryEnabled(CopyMenuEntry::CopyToServerAndDelete));

  // The menu asks first; No does nothing.
  prompt.answers = {Answer::No};
  EXPECT_FALSE(copies->MnuPtxCopy(CopyMenuEntry::CopyToLocal));
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous recopier le son en local ?");
  EXPECT_FALSE(fs::exists(Local()));

  prompt.answers = {Answer::Yes};
  ASSERT_TRUE(copies->MnuPtxCopy(CopyMenuEntry::CopyToLocal)) << copies->lastMessage;
  EXPECT_TRUE(copies->SonRecopieEnLocal);
  EXPECT_EQ(editor.sound.soundFile, Local());
  EXPECT_EQ(copies->workingFile, Local());
  EXPECT_EQ(copies->statusText, Local());
  EXPECT_EQ(copies->temporaryFile, Local() + "_20260314_093000.Tmp");
  EXPECT_EQ(copies->backupFile, Local() + "_20260314_093000.Bkp");
  EXPECT_EQ(copies->masterFile, localFolder + kCode + ".mas");
  EXPECT_EQ(ReadFile(Local()), original);
  EXPECT_EQ(ReadFile(localFolder + kCode + ".gpx"), ReadFile(GpxPathFor(server)));
  EXPECT_EQ(copies->heldSongCode(), kCode);
  EXPECT_EQ(prompt.stepLabels.back(), "Recopie du son en local");
  const auto logged = Logged();
  EXPECT_TRUE(Has(logged, "Recopie du son en local: Start"));
  EXPECT_TRUE(Has(logged, "File_Copy: " + server + " to " + localFolder));
  EXPECT_TRUE(Has(logged, "File_Copy: Ok |Sub: Frm_Main:RecopieSonEnLocal"));
  EXPECT_TRUE(Has(logged, "SonRecopieEnLocal change to: True"));
  EXPECT_FALSE(copies->LocalModified());

  // Edits go to the local copy only.
  Cut();
  EXPECT_EQ(ReadFile(server), original);
  const std::string edited = ReadFile(Local());
  EXPECT_EQ(edited.size(), original.size() - 42 * kHouseFrameBytes);
  EXPECT_TRUE(copies->LocalModified());

  prompt.answers = {Answer::Yes};
  prompt.shown.clear();
  ASSERT_TRUE(copies->MnuPtxCopy(CopyMenuEntry::CopyToServerAndDelete)) << copies->lastMessage;
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous recopier le son sur le serveur ?");
  EXPECT_EQ(ReadFile(server), edited);
  EXPECT_FALSE(fs::exists(Local()));
  EXPECT_FALSE(fs::exists(TakeRecordPath(Local())));
  EXPECT_FALSE(copies->SonRecopieEnLocal);
  EXPECT_EQ(editor.sound.soundFile, server);
  EXPECT_EQ(copies->heldSongCode(), "");
  EXPECT_TRUE(Has(Logged(), "SupprimerLeSonLocal: True"));
  EXPECT_TRUE(Has(Logged(), "File_Delete: Ok |Sub: Frm_Main:RecopieSonSurServeur"));
  EXPECT_TRUE(dialogs.empty());
  EXPECT_TRUE(PartFiles(localFolder).empty());
}

TEST_F(LocalCopiesTest, MissingServerSoundStillSwitchesToTheLocalPath) {
  fs::remove(server);
  ASSERT_TRUE(copies->RecopieSonEnLocal());
  EXPECT_TRUE(copies->SonRecopieEnLocal);
  EXPECT_EQ(editor.sound.soundFile, Local());
  EXPECT_FALSE(fs::exists(Local()));
  EXPECT_TRUE(prompt.shown.empty());
}

TEST_F(LocalCopiesTest, ServerSoundChangedAfterTheTakeIsNeverOverwrittenSilently) {
  ASSERT_TRUE(copies->RecopieSonEnLocal());
  Cut();
  const std::string edited = ReadFile(Local());
  ServerChangedElsewhere();
  const std::string theirs = ReadFile(server);

  // The dialog closed: nothing copied, the sound stays local.
  EXPECT_FALSE(copies->RecopieSonSurServeur(false, "Test"));
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].instruction, "Le son sur le serveur est différent de celui en local");
  EXPECT_NE(dialogs[0].content.find("Date Fichier serveur: "), std::string::npos);
  EXPECT_NE(dialogs[0].content.find(" Ko)\nDate Fichier local: "), std::string::npos);
  EXPECT_EQ(ReadFile(server), theirs);
  EXPECT_EQ(ReadFile(Local()), edited);
  EXPECT_TRUE(copies->SonRecopieEnLocal);

  // Even with the same size and time as at the take, other bytes count as a change.
  ASSERT_TRUE(copies->RecopieSonEnLocal());  // a fresh take of their version
  Cut();
  const auto record = ReadTakeRecord(Local());
  ASSERT_TRUE(record);
  std::string same = ReadFile(server);
  same[200] = static_cast<char>(same[200] ^ 1);
  WriteFile(server, same);
  SetModifiedNs(server, record->server.modifiedNs);
  ASSERT_EQ(StatFacts(server).modifiedNs, record->server.modifiedNs);
  dialogs.clear();
  EXPECT_FALSE(copies->RecopieSonSurServeur(false, "Test"));
  EXPECT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(ReadFile(server), same);

  // "Recopier le son du serveur": their version replaces the local one in the editor.
  answers = {kTaskButtonFirst};
  EXPECT_FALSE(copies->RecopieSonSurServeur(false, "Test"));
  EXPECT_EQ(ReadFile(Local()), same);
  EXPECT_EQ(ReadFile(server), same);
  EXPECT_EQ(editor.soundLength(), static_cast<int>(same.size() / kHouseFrameBytes * kHouseFrameMs));

  // "Prendre le son local": chosen with both versions shown, the local one goes over.
  Cut();
  const std::string mine = ReadFile(Local());
  ServerChangedElsewhere();
  answers = {kTaskButtonSecond};
  EXPECT_TRUE(copies->RecopieSonSurServeur(false, "Test"));
  EXPECT_EQ(ReadFile(server), mine);
  EXPECT_TRUE(copies->SonRecopieEnLocal);  // left local
  EXPECT_TRUE(Has(Logged(), "SonRecopieEnLocal stay to: True"));
  // The record now knows the server's new version: giving back again asks nothing.
  dialogs.clear();
  EXPECT_TRUE(copies->RecopieSonSurServeur(true, "Test"));
  EXPECT_TRUE(dialogs.empty());
}

TEST_F(LocalCopiesTest, RowSelectionComparesTheLocalCandidateWithTheServerSound) {
  copies->settings.set(LocalCopyOption::VerifierSonSurServeur, true);
  copies->settings.set(LocalCopyOption::PartirDuSonLocal, true);
  fs::create_directories(localFolder);

  // The same sound: found, no dialog, opened local.
  WriteFile(Local(), original);
  Select();
  EXPECT_TRUE(dialogs.empty());
  EXPECT_TRUE(copies->SonRecopieEnLocal);
  EXPECT_EQ(editor.sound.soundFile, Local());
  EXPECT_TRUE(Has(Logged(), "FichierSonLocal found |FileSize: " + std::to_string(original.size()) +
                                " Duration: " + std::to_string(original.size() / 32) + "ms"));

  // The same size, other content: the dialog; "Prendre le son local" leaves it and logs the sizes.
  std::string levelled = original;
  levelled[300] = static_cast<char>(levelled[300] ^ 0x20);
  WriteFile(Local(), levelled);
  answers = {kTaskButtonSecond};
  Select();
  ASSERT_EQ(dialogs.size(), 1u);
  ASSERT_EQ(dialogs[0].buttons.size(), 2u);
  EXPECT_EQ(dialogs[0].buttons[0], std::make_pair(kTaskButtonFirst, std::string(kReloadFromServer)));
  EXPECT_EQ(dialogs[0].buttons[1], std::make_pair(kTaskButtonSecond, std::string(kKeepLocal)));
  EXPECT_EQ(ReadFile(Local()), levelled);
  EXPECT_TRUE(Has(Logged(), "File size different: " + std::to_string(original.size()) + " and " +
                                std::to_string(levelled.size()) + " |But no copy from server to local"));

  // Another size; "Recopier le son du serveur" puts the server's sound in its place.
  WriteFile(Local(), original.substr(0, original.size() / 2));
  answers = {kTaskButtonFirst};
  Select();
  EXPECT_EQ(dialogs.size(), 2u);
  EXPECT_EQ(ReadFile(Local()), original);
  EXPECT_TRUE(Has(Logged(), "Copy: Start: " + server + " to " + Local()));
  EXPECT_TRUE(Has(Logged(), "Copy: End"));

  // Starting from the server: the local copy stays where it is, unused.
  copies->settings.set(LocalCopyOption::PartirDuSonLocal, false);
  ASSERT_TRUE(copies->LeaveSound());
  Select();
  EXPECT_FALSE(copies->SonRecopieEnLocal);
  EXPECT_EQ(editor.sound.soundFile, server);
  EXPECT_TRUE(fs::exists(Local()));
}

TEST_F(LocalCopiesTest, LeavingALocalSoundGivesItBackAsksOrJustLetsGo) {
  // Unmodified: simply no longer local.
  ASSERT_TRUE(copies->RecopieSonEnLocal());
  EXPECT_TRUE(copies->LeaveSound());
  EXPECT_FALSE(copies->SonRecopieEnLocal);
  EXPECT_TRUE(dialogs.empty());

  // Modified, automatic copy off: the dialog; "Ne pas changer de morceau" and closing keep the song.
  Select();
  ASSERT_TRUE(copies->RecopieSonEnLocal());
  Cut();
  answers = {kTaskButtonFirst};
  EXPECT_FALSE(copies->LeaveSound());
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].instruction, "Le son en cours est en local et a été modifié.");
  EXPECT_EQ(dialogs[0].content, "Il faut le recopier sur le serveur pour qu'il soit accessible aux autres postes.");
  EXPECT_EQ(dialogs[0].buttons[0].second, "Ne pas changer de morceau");
  EXPECT_EQ(dialogs[0].buttons[1].second, "Changer de morceau");
  EXPECT_FALSE(copies->LeaveSound());
  EXPECT_TRUE(copies->SonRecopieEnLocal);
  answers = {kTaskButtonSecond};
  EXPECT_TRUE(copies->LeaveSound());
  EXPECT_FALSE(copies->SonRecopieEnLocal);
  EXPECT_EQ(ReadFile(server), original);  // not copied back

  // Modified, automatic copy on: given back, left local on disk.
  copies->settings.set(LocalCopyOption::RecopierSurServeur, true);
  Select();
  ASSERT_TRUE(copies->RecopieSonEnLocal());
  Cut();
  const std::string edited = ReadFile(Local());
  EXPECT_TRUE(copies->LeaveSound());
  EXPECT_EQ(ReadFile(server), edited);
  EXPECT_TRUE(fs::exists(Local()));
  EXPECT_FALSE(copies->SonRecopieEnLocal);
  EXPECT_TRUE(Has(Logged(), "Recopie du son sur le serveur: Start |Sub: Lib_Musique:SelectLigneMusMaster"));

  // A give-back that cannot be done keeps the song selected.
  copies->settings.set(LocalCopyOption::PartirDuSonLocal, true);
  Select();
  ASSERT_TRUE(copies->SonRecopieEnLocal);
  Cut();
  ServerChangedElsewhere();
  EXPECT_FALSE(copies->LeaveSound());
  EXPECT_TRUE(copies->SonRecopieEnLocal);
}

}  // namespace
}  // namespace sono::editor
