// Local copies through sonoteka-cli killed at every write, sync and rename
// of the copy: a sound's name on either side only ever holds a whole sound
// (the server's as it was, or the edited one), and a server sound another
// workstation changed after the copy was taken is not overwritten unless
// the user chooses the local one. Steps added, stored when the script ends,
// found again on the other station and cut out.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "cli_site.h"

namespace sono::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCode = "00000001";

class CliLocalAndSteps : public FaultedCliSite {
 protected:
  void SetUp() override {
    pristine = dir / "pristine";
    ASSERT_TRUE(MakeDemoSite(home, {"--songs", "4", "--stations", "2", "--sounds", "2"}));
    const ProcessResult options = Cli({"edit", kCode, "local options"});
    ASSERT_TRUE(options.exited(0)) << options.out << options.err;
    const size_t at = options.out.find("DossierSonLocal=");
    ASSERT_NE(at, std::string::npos) << options.out;
    localFolder = options.out.substr(at + 16, options.out.find('\n', at) - at - 16);
    // The station's sound, as the editor names it.
    const ProcessResult compare = Cli({"edit", kCode, "local compare"});
    const size_t named = compare.out.find("Serveur: ");
    ASSERT_NE(named, std::string::npos) << compare.out;
    server = compare.out.substr(named + 9, compare.out.find(" (", named) - named - 9);
    ASSERT_TRUE(fs::exists(server)) << server;
    original = ReadFile(server);
    CopyTree(home, pristine);
  }
  // Copies keep the files' times: a sound copied back is the same sound.
  static void CopyTree(const std::string& from, const std::string& to) {
    ASSERT_TRUE(RunProcess({"/bin/cp", "-a", from, to}).exited(0));
  }
  void Restore(const std::string& from) {
    fs::remove_all(home);
    CopyTree(from, home);
  }
  std::string Local() const { return localFolder + kCode + ".s48"; }

  std::string pristine, localFolder, server, original;
};

TEST_F(CliLocalAndSteps, TakeAndGiveBackKilledAnywhereLeaveOnlyWholeSoundsUnderTheirNames) {
  // The take, then an edit of the local copy.
  const std::string serverFolder = fs::path(server).parent_path().string() + "/";
  const ProcessResult take = Cli({"edit", kCode, "local take"}, "", localFolder);
  ASSERT_TRUE(take.exited(0)) << take.out << take.err;
  ASSERT_NE(take.out.find("SonRecopieEnLocal: oui"), std::string::npos) << take.out;
  ASSERT_EQ(ReadFile(Local()), original);
  const std::vector<std::string> takeRules = KillRules({"write", "fsync", "rename"});

  const ProcessResult cut = Cli({"edit", kCode, "local give keep"});  // nothing changed: same bytes back
  ASSERT_TRUE(cut.exited(0)) << cut.out << cut.err;
  ASSERT_TRUE(Cli({"edit", kCode, "local options PartirDuSonLocal 1"}).exited(0));
  ASSERT_TRUE(Cli({"edit", kCode, "select 1000 3000; cut"}).exited(0));
  const std::string edited = ReadFile(Local());
  ASSERT_NE(edited, original);
  ASSERT_EQ(ReadFile(server), original);
  const std::string local = dir / "local-edited";
  CopyTree(home, local);
  const ProcessResult give = Cli({"edit", kCode, "local give"}, "", serverFolder);
  ASSERT_TRUE(give.exited(0)) << give.out << give.err;
  ASSERT_EQ(ReadFile(server), edited);
  ASSERT_FALSE(fs::exists(Local()));
  const std::vector<std::string> giveRules = KillRules({"write", "fsync", "rename"});

  int killed = 0;
  for (const std::string& rule : takeRules) {
    Restore(pristine);
    const ProcessResult r = Cli({"edit", kCode, "local take"}, rule, localFolder);
    ASSERT_FALSE(r.timedOut) << rule;
    ASSERT_TRUE(r.signal == SIGKILL || r.exited(0)) << rule << "\n" << r.out << r.err;
    killed += r.signal == SIGKILL;
    EXPECT_EQ(ReadFile(server), original) << rule;
    if (fs::exists(Local())) {
      EXPECT_EQ(ReadFile(Local()), original) << rule << ": partial local copy";
    }
    // Taken again, it works whatever the killed run left.
    const ProcessResult again = Cli({"edit", kCode, "local take"});
    ASSERT_TRUE(again.exited(0)) << rule << again.out << again.err;
    EXPECT_EQ(ReadFile(Local()), original) << rule;
  }
  for (const std::string& rule : giveRules) {
    Restore(local);
    const ProcessResult r = Cli({"edit", kCode, "local give"}, rule, serverFolder);
    ASSERT_FALSE(r.timedOut) << rule;
    ASSERT_TRUE(r.signal == SIGKILL || r.exited(0)) << rule << "\n" << r.out << r.err;
    killed += r.signal == SIGKILL;
    const std::string onServer = ReadFile(server);
    EXPECT_TRUE(onServer == original || onServer == edited) << rule << ": partial server sound";
    if (fs::exists(Local())) {
      EXPECT_EQ(ReadFile(Local()), edited) << rule;
    } else {
      EXPECT_EQ(onServer, edited) << rule << ": local copy deleted before it reached the server";
    }
    for (const auto& e : fs::directory_iterator(fs::path(server).parent_path()))
      EXPECT_FALSE(e.path().filename().string().ends_with(".s48") && e.path().string() != server &&
                   e.path().filename().string().rfind(kCode, 0) == 0 && e.path().filename().string().size() == 12)
          << rule << ": " << e.path();
  }
  EXPECT_GE(killed, 20);
}

TEST_F(CliLocalAndSteps, AServerSoundChangedAfterTheTakeIsOnlyOverwrittenWhenTheLocalOneIsChosen) {
  ASSERT_TRUE(Cli({"edit", kCode, "local options PartirDuSonLocal 1"}).exited(0));
  ASSERT_TRUE(Cli({"edit", kCode, "local take; select 1000 3000; cut"}).exited(0));
  const std::string mine = ReadFile(Local());
  // Another workstation changes a level: same size, other bytes.
  std::string theirs = original;
  theirs[1000] = static_cast<char>(theirs[1000] ^ 0x11);
  WriteFile(server, theirs);

  const ProcessResult refused = Cli({"edit", kCode, "local give"});
  EXPECT_TRUE(refused.exited(1)) << refused.out << refused.err;
  EXPECT_NE(refused.out.find("Le son sur le serveur est différent de celui en local"), std::string::npos) << refused.out;
  EXPECT_NE(refused.err.find("modifié sur le serveur depuis sa copie en local"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadFile(server), theirs);
  EXPECT_EQ(ReadFile(Local()), mine);

  const ProcessResult compare = Cli({"edit", kCode, "local compare"});
  ASSERT_TRUE(compare.exited(0)) << compare.out << compare.err;
  EXPECT_NE(compare.out.find("Date Fichier local: "), std::string::npos) << compare.out;

  const ProcessResult forced = Cli({"edit", kCode, "local give force"});
  ASSERT_TRUE(forced.exited(0)) << forced.out << forced.err;
  EXPECT_EQ(ReadFile(server), mine);
  EXPECT_FALSE(fs::exists(Local()));
  EXPECT_NE(forced.out.find("SonRecopieEnLocal: non"), std::string::npos) << forced.out;
}

TEST_F(CliLocalAndSteps, StepsAreStoredOnEveryStationAndCutOutInOneUndoableEdit) {
  const ProcessResult added = Cli({"edit", kCode, "select 1000 2000; step add; select 4000 4800; step add; select 1500 3000; step add"});
  EXPECT_TRUE(added.exited(1)) << added.out << added.err;  // the third touches the first
  EXPECT_NE(added.err.find("Le point de départ de la sélection est situé dans la sélection de la ligne 1"),
            std::string::npos) << added.err;
  const ProcessResult stored = Cli({"edit", kCode, "select 1000 2000; step add; select 4000 4800; step add; "
                                                    "select 6000 7200; step add; step delete 2"});
  ASSERT_TRUE(stored.exited(0)) << stored.out << stored.err;
  EXPECT_NE(stored.out.find("Steps: 2\n  1:"), std::string::npos) << stored.out;
  // Found again on the second station and replaced there, then cut out of the first station's sound.
  const ProcessResult found = Cli({"edit", kCode, "--station", "2", "select 100 200; step replace 1"});
  ASSERT_TRUE(found.exited(0)) << found.out << found.err;
  EXPECT_NE(found.out.find("Steps: 2"), std::string::npos) << found.out;
  const ProcessResult cut = Cli({"edit", kCode, "step cut"});
  ASSERT_TRUE(cut.exited(0)) << cut.out << cut.err;
  EXPECT_NE(cut.out.find("Steps: 0"), std::string::npos) << cut.out;
  // Frames 4..8 and 250..300 gone: 56 frames of 768 bytes.
  EXPECT_EQ(ReadFile(server).size(), original.size() - 56 * 768);
  EXPECT_EQ(ReadFile(server).substr(0, 3 * 768), original.substr(0, 3 * 768));
  const ProcessResult none = Cli({"edit", kCode, "step cut"});
  EXPECT_TRUE(none.exited(1)) << none.out << none.err;
  EXPECT_NE(none.err.find("Vous n'avez pas de pointeur de step."), std::string::npos) << none.err;
}

// A step heard alone, and the selection heard without its steps: the kept
// frames back to back (the time heard is theirs, no gap between them), with
// hard joins or, with --smooth, smoothed ones.
TEST_F(CliLocalAndSteps, AStepIsHeardAloneAndTheSelectionWithoutItsSteps) {
  const ProcessResult played = Cli({"edit", kCode, "select 1000 2000; step add; select 4000 4800; step add; "
                                                   "step play 2; select 0 6000; step play without"});
  ASSERT_TRUE(played.exited(0)) << played.out << played.err;
  EXPECT_NE(played.out.find("Ecoute du step 2: 4000-4800 ms\nEntendu: "), std::string::npos) << played.out;
  // Frames 1..250 but 42..83 and 167..200: 174 frames, 4176 ms.
  const size_t at = played.out.find("Ecoute hors steps: 0-984, 1992-3984, 4800-6000 ms\nEntendu: ");
  ASSERT_NE(at, std::string::npos) << played.out;
  const int heard = std::stoi(played.out.substr(played.out.find("Entendu: ", at) + 9));
  EXPECT_GE(heard, 4176);
  EXPECT_LE(heard, 4176 + 20);
  // With --smooth the same frames are heard with the joins a smooth cut makes.
  const ProcessResult smooth = Cli({"edit", kCode, "select 0 6000; step play without --smooth"});
  ASSERT_TRUE(smooth.exited(0)) << smooth.out << smooth.err;
  EXPECT_NE(smooth.out.find("Ecoute hors steps: 0-984, 1992-3984, 4800-6000 ms (jonctions lissées)\nEntendu: "),
            std::string::npos) << smooth.out;
  EXPECT_NE(Cli({"log", "show"}).out.find("PlayRanges: Smooth joins: 2 of 2"), std::string::npos);
  const ProcessResult unselected = Cli({"edit", kCode, "step play without"});
  EXPECT_TRUE(unselected.exited(1)) << unselected.out << unselected.err;
  EXPECT_NE(unselected.err.find("Ecoute hors step impossible: Vous devez sélectionner une portion de son."),
            std::string::npos) << unselected.err;
  EXPECT_TRUE(Cli({"edit", kCode, "step play 3"}).exited(2));
}

// Smooth joins through the command line: only the frames around each join
// change, the undo level gives the original bytes back, and the steps' cut
// smooths its joins too (the option before the script).
TEST_F(CliLocalAndSteps, SmoothCutsAndPastesChangeOnlyTheFramesAroundTheirJoinsAndUndoGivesTheBytesBack) {
  const auto frame = [](const std::string& bytes, size_t n) { return bytes.substr((n - 1) * 768, 768); };
  // 1000..2000 ms is frames 42..83: the join after frame 41, frames 40..43 encoded again.
  const ProcessResult cut = Cli({"edit", kCode, "select 1000 2000; cut --smooth"});
  ASSERT_TRUE(cut.exited(0)) << cut.out << cut.err;
  EXPECT_NE(cut.out.find("> cut --smooth\n"), std::string::npos) << cut.out;
  EXPECT_NE(cut.out.find("Jonctions lissées: 1 sur 1"), std::string::npos) << cut.out;
  const std::string smooth = ReadFile(server);
  ASSERT_EQ(smooth.size(), original.size() - 42 * 768);
  for (size_t n = 1; n <= smooth.size() / 768; ++n) {
    if (n >= 40 && n <= 43) continue;
    ASSERT_EQ(frame(smooth, n), frame(original, n <= 41 ? n : n + 42)) << "frame " << n;
  }
  int changed = 0;
  for (size_t n = 40; n <= 43; ++n) changed += frame(smooth, n) != frame(original, n <= 41 ? n : n + 42);
  EXPECT_GT(changed, 0);
  const ProcessResult ff = RunProcess({"ffmpeg", "-v", "error", "-i", server, "-f", "null", "-"});
  EXPECT_TRUE(ff.exited(0));
  EXPECT_EQ(ff.err, "");

  Restore(pristine);
  const ProcessResult undone = Cli({"edit", kCode, "select 1000 2000; cut --smooth; undo; select 1000 2000; copy; paste at 5000 --smooth; "
                                                   "paste end; undo; undo"});
  ASSERT_TRUE(undone.exited(0)) << undone.out << undone.err;
  EXPECT_NE(undone.out.find("Jonctions lissées: 2 sur 2"), std::string::npos) << undone.out;
  EXPECT_EQ(ReadFile(server), original);

  // The option before the script: the steps' cut smooths both its joins.
  const ProcessResult steps =
      Cli({"edit", kCode, "--smooth", "select 1000 2000; step add; select 4000 4800; step add; step cut"});
  ASSERT_TRUE(steps.exited(0)) << steps.out << steps.err;
  EXPECT_NE(steps.out.find("Jonctions lissées: 2 sur 2"), std::string::npos) << steps.out;
  EXPECT_EQ(ReadFile(server).size(), original.size() - (42 + 34) * 768);
  EXPECT_EQ(frame(ReadFile(server), 1), frame(original, 1));
}

// A smooth cut whose result cannot be opened, written or flushed at any
// call (while the frames are copied or while the joins are smoothed) fails,
// says so, and leaves the sound as it was with no undo level and nothing
// beside it.
TEST_F(CliLocalAndSteps, ASmoothCutThatCannotWriteItsResultLeavesTheSoundWhole) {
  const std::string script = "select 1000 2000; cut --smooth";
  const std::string result = fs::path(server).filename().string() + ".part";
  ASSERT_TRUE(Cli({"edit", kCode, script}, "", result).exited(0));
  Restore(pristine);
  // The result is opened twice: the frames copied, then the joins smoothed.
  EXPECT_GE(FaultCount(dir / "counts", "open"), 2);
  const std::vector<std::string> entries = FolderEntries(fs::path(server).parent_path().string());
  for (const std::string& rule : KillRules({"open", "write", "fsync"})) {
    SCOPED_TRACE(rule);
    const ProcessResult r = Cli({"edit", kCode, script}, rule.substr(0, rule.size() - 4) + "fail", result);
    EXPECT_TRUE(r.exited(1)) << r.out << r.err;
    EXPECT_EQ(ReadFile(server), original);
    EXPECT_EQ(FolderEntries(fs::path(server).parent_path().string()), entries);
    Restore(pristine);
  }
}

// Over a slow link (the copy's read rate held down) a take lasts: it says how
// far it is, in order, up to 100 %, and the copy is the server's sound.
TEST_F(CliLocalAndSteps, ALongTakeShowsItsProgress) {
  // About 0.8 s for the sound at this rate: its progress shows after 0.5 s.
  const size_t rate = original.size() * 1000 / 800;
  const ProcessResult take = Cli({"edit", kCode, "--rate", std::to_string(rate), "local take"});
  ASSERT_TRUE(take.exited(0)) << take.out << take.err;
  std::vector<int> shown;
  const std::string prefix = "Recopie du son en local: ";
  for (size_t at = take.out.find(prefix); at != std::string::npos; at = take.out.find(prefix, at + 1))
    shown.push_back(std::stoi(take.out.substr(at + prefix.size())));
  ASSERT_GE(shown.size(), 2u) << take.out;
  EXPECT_EQ(shown.back(), 100) << take.out;
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_GT(shown[i] / 10, shown[i - 1] / 10) << take.out;
  EXPECT_EQ(ReadFile(Local()), original);
  EXPECT_TRUE(Cli({"edit", kCode, "--rate", "0", "local take"}).exited(2));
}

}  // namespace
}  // namespace sono::test
