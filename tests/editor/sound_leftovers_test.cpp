// The start-up sweep of what killed programs left beside the sounds.
#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

#include <filesystem>

#include "editor/sound_leftovers.h"
#include "test_support.h"

namespace sono::editor {
namespace {

using test::TempDir;

void MakeOld(const std::string& path) {
  const utimbuf old{::time(nullptr) - 7200, ::time(nullptr) - 7200};
  ASSERT_EQ(::utime(path.c_str(), &old), 0) << path;
}

TEST(SoundLeftovers, OnlyOldPartFilesAndUndoLevelsGoAndALinkIsAsOldAsItsLink) {
  TempDir dir;
  const std::string folder = dir.path();
  for (const char* name : {"00000001.s48", "00000001.s48.part4242", "00000001.Edit", "00000002.s48", "notes.txt",
                           "00000003.0001.s48", "00000003.01.s48"})
    test::WriteFile(folder + name, "x");
  // The undo level is a hard link to the sound, whose data is two hours old.
  MakeOld(folder + "00000001.s48");
  ASSERT_EQ(::link((folder + "00000001.s48").c_str(), (folder + "00000001.001.s48").c_str()), 0);
  MakeOld(folder + "00000001.s48.part4242");

  // An hour's age: the part file goes; the freshly made link stays, however
  // old the sound's data is (another workstation may be editing it now).
  EXPECT_EQ(RemoveSoundLeftovers({folder, folder.substr(0, folder.size() - 1)}),
            std::vector<std::string>{folder + "00000001.s48.part4242"});
  EXPECT_TRUE(std::filesystem::exists(folder + "00000001.001.s48"));

  // Any age: the undo level goes too; sounds, the edit journal and files
  // only looking like undo levels stay.
  EXPECT_EQ(RemoveSoundLeftovers({folder}, 0), std::vector<std::string>{folder + "00000001.001.s48"});
  for (const char* kept : {"00000001.s48", "00000001.Edit", "00000002.s48", "notes.txt", "00000003.0001.s48",
                           "00000003.01.s48"})
    EXPECT_TRUE(std::filesystem::exists(folder + kept)) << kept;
  EXPECT_TRUE(RemoveSoundLeftovers({"relative/folder", ""}, 0).empty());
}

}  // namespace
}  // namespace sono::editor
