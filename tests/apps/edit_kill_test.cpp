// Sound edits of sonoteka-cli killed at every rename and at sync after sync
// of a cut, a paste, an undo and a trim: the sound and every undo level left beside
// it are whole sounds the edits made, and once the song is loaded again its
// pointers and durations, on every station, are the ones of the sound on disk.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "cli_site.h"

namespace sono::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCode = "00000001";
constexpr const char* kCut = "select 1000 3000; cut";
constexpr const char* kCutPaste = "select 1000 3000; cut; paste begin";
constexpr const char* kCutTrim = "select 1000 3000; cut; select 2000 12000; trim";
constexpr const char* kScript = "select 1000 3000; cut; paste begin; undo; select 2000 12000; trim";

class EditKill : public FaultedCliSite {
 protected:
  void SetUp() override {
    pristine = dir / "pristine";
    ASSERT_TRUE(MakeDemoSite(home, {"--songs", "6", "--stations", "2", "--sounds", "2"}));
    // Pointers after the cut, so that the edits move them.
    const ProcessResult set = Cli({"edit", kCode, "select 8000 8000; menu intro; select 10000 12000; menu hook; store"});
    ASSERT_TRUE(set.exited(0)) << set.out << set.err;
    fs::copy(home, pristine, fs::copy_options::recursive);
    sound = FindSound();
    ASSERT_FALSE(sound.empty()) << "no sound for " << kCode;
  }
  void Restore() {
    fs::remove_all(home);
    fs::copy(pristine, home, fs::copy_options::recursive);
  }
  std::string FindSound() {
    for (const auto& e : fs::recursive_directory_iterator(home))
      if (e.path().filename() == std::string(kCode) + ".s48") return e.path().string();
    return {};
  }
  // What the song holds on each station, as the commands show it.
  std::string Stored() {
    std::string out;
    for (const char* station : {"1", "2"}) {
      const ProcessResult ptx = Cli({"ptx", "show", kCode, "--station", station});
      const ProcessResult song = Cli({"song", "show", kCode, "--station", station});
      out += ptx.out + song.out;
    }
    return out;
  }

  std::string pristine, sound;
};

TEST_F(EditKill, CutPasteUndoTrimKilledAtEveryRenameAndSyncLeaveSoundUndoLevelsAndSongWhole) {
  // The states a run can leave: before, after the cut, after the paste (the
  // undo gives the cut's back), after the trim, each with what the song then
  // holds.
  struct State {
    std::string bytes, stored;
  };
  std::vector<State> states;
  for (const char* script : {"", kCut, kCutPaste, kCutTrim}) {
    Restore();
    const ProcessResult r = Cli({"edit", kCode, script});
    ASSERT_TRUE(r.exited(0)) << script << r.out << r.err;
    states.push_back({ReadFile(sound), Stored()});
  }
  ASSERT_NE(states[0].bytes, states[1].bytes);
  ASSERT_NE(states[1].stored, states[0].stored);  // the cut moved the durations
  const auto stateOf = [&](const std::string& bytes) {
    for (size_t i = 0; i < states.size(); ++i)
      if (states[i].bytes == bytes) return static_cast<int>(i);
    return -1;
  };

  Restore();
  const ProcessResult clean = Cli({"edit", kCode, kScript});
  ASSERT_TRUE(clean.exited(0)) << clean.out << clean.err;
  EXPECT_EQ(ReadFile(sound), states[3].bytes);
  EXPECT_NE(clean.out.find("Undo: 1"), std::string::npos) << clean.out;
  ASSERT_NE(states[3].bytes, states[1].bytes);
  const long renames = FaultCount(dir / "counts", "rename");
  ASSERT_GE(renames, 8);  // four sound renames, their journals, the database's
  // Every rename; syncs and writes spread over the run (the database's
  // commits write between the sound's rename and the journal's removal).
  std::vector<std::string> rules;
  for (long n = 1; n <= renames; ++n) rules.push_back("rename:" + std::to_string(n) + ":kill");
  for (const char* op : {"fsync", "write"}) {
    const long total = FaultCount(dir / "counts", op);
    ASSERT_GT(total, 10) << op;
    for (long n = 1; n <= total; n += std::max(1L, total / 15)) rules.push_back(op + (":" + std::to_string(n)) + ":kill");
  }
  int killed = 0;
  for (const std::string& rule : rules) {
    Restore();
    const ProcessResult r = Cli({"edit", kCode, kScript}, rule);
    ASSERT_FALSE(r.timedOut) << rule;
    // The last calls may not come in a run whose envelope cache was fresh.
    ASSERT_TRUE(r.signal == SIGKILL || r.exited(0)) << rule << "\n" << r.out << r.err;
    if (r.signal == SIGKILL) ++killed;
    // The sound and every undo level beside it: whole sounds of the edits.
    const int held = stateOf(ReadFile(sound));
    ASSERT_GE(held, 0) << rule << ": the sound is none of the edits' sounds";
    for (const auto& e : fs::directory_iterator(fs::path(sound).parent_path())) {
      const std::string name = e.path().filename().string();
      const bool undoLevel = name.rfind(std::string(kCode) + ".", 0) == 0 && name.size() == 16 && name.ends_with(".s48");
      if (undoLevel) {
        EXPECT_GE(stateOf(ReadFile(e.path().string())), 0) << rule << ": undo level " << name << " is not whole";
      }
    }
    // Loaded again, the song holds what goes with the sound on disk.
    const ProcessResult load = Cli({"edit", kCode, ""});
    ASSERT_TRUE(load.exited(0)) << rule << load.out << load.err;
    EXPECT_EQ(ReadFile(sound), states[static_cast<size_t>(held)].bytes) << rule;
    EXPECT_EQ(Stored(), states[static_cast<size_t>(held)].stored) << rule << ": state " << held;
  }
  EXPECT_GE(killed, 20);
}

// The script's sound edits say what they stored, refuse what they cannot do,
// and leave no undo level behind them.
TEST_F(EditKill, ScriptedEditsPrintTheSoundAndRefuseWhatTheyCannotDo) {
  const ProcessResult none = Cli({"edit", kCode, "undo"});
  EXPECT_TRUE(none.exited(1)) << none.out << none.err;
  EXPECT_NE(none.err.find("Aucun Undo à faire."), std::string::npos) << none.err;
  EXPECT_TRUE(Cli({"edit", kCode, "paste at 99999999"}).exited(2));
  EXPECT_TRUE(Cli({"edit", kCode, "paste"}).exited(1));  // nothing copied yet

  const std::string copy = dir / "copie.mp2";
  const ProcessResult trim = Cli({"edit", kCode, "select 0 4800; trim; select 0 480; copy; paste end; saveas " + copy});
  ASSERT_TRUE(trim.exited(0)) << trim.out << trim.err;
  EXPECT_NE(trim.out.find("(200 trames, 4800 ms)"), std::string::npos) << trim.out;  // no question asked
  EXPECT_NE(trim.out.find("(220 trames, 5280 ms)\nExtrait: 20 trames"), std::string::npos) << trim.out;
  EXPECT_EQ(ReadFile(sound).size(), 220u * 768u);
  EXPECT_EQ(ReadFile(copy), ReadFile(sound));  // the house format, copied as it is
  for (const auto& e : fs::directory_iterator(fs::path(sound).parent_path()))
    EXPECT_EQ(e.path().filename().string().find(".0"), std::string::npos) << "left behind: " << e.path();
}

}  // namespace
}  // namespace sono::test
