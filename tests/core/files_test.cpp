#include <gtest/gtest.h>
#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/files.h"
#include "test_support.h"

namespace sono {
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(Files, AtomicWritesReplaceWholeAndKeepPermissions) {
  TempDir dir;
  const std::string f = dir / "a b 'c'.ini";
  ASSERT_TRUE(WriteFileAtomic(f, "un"));
  ::chmod(f.c_str(), 0600);
  ASSERT_TRUE(WriteFileAtomic(f, "deux"));
  EXPECT_EQ(ReadFile(f), "deux");
  struct stat st{};
  ::stat(f.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string error;
  EXPECT_FALSE(WriteFileAtomic(dir / "absent/x", "y", &error));
  EXPECT_NE(error.find(dir / "absent/x"), std::string::npos);
  EXPECT_EQ(test::FolderEntries(dir.path()).size(), 1u);  // no temporary file left
}

TEST(Files, CopyDeleteRenameAndExistence) {
  TempDir dir;
  WriteFile(dir / "src", "contenu");
  EXPECT_TRUE(File_Copy(dir / "src", dir / "dst"));
  EXPECT_EQ(ReadFile(dir / "dst"), "contenu");
  EXPECT_FALSE(File_Copy(dir / "absent", dir / "dst"));
  EXPECT_EQ(ReadFile(dir / "dst"), "contenu");  // a failed copy leaves the target alone
  EXPECT_TRUE(File_Rename(dir / "dst", dir / "renommé"));
  EXPECT_FALSE(File_Exist(dir / "dst"));
  EXPECT_TRUE(File_Exist(dir / "renommé"));
  EXPECT_FALSE(File_Exist(dir.path()));  // a folder is not a file
  EXPECT_TRUE(Folder_Exist(dir.path()));
  EXPECT_TRUE(File_Delete(dir / "renommé"));
  EXPECT_TRUE(File_Delete(dir / "renommé"));  // already gone is fine
  EXPECT_TRUE(AppendToFile(dir / "log", "a"));
  EXPECT_TRUE(AppendToFile(dir / "log", "b"));
  EXPECT_EQ(ReadFile(dir / "log"), "ab");
}

TEST(Files, FoldersAreCreatedLevelByLevel) {
  TempDir dir;
  EXPECT_TRUE(CreateFolders(dir / "a/b c/d/"));
  EXPECT_TRUE(Folder_Exist(dir / "a/b c/d"));
  EXPECT_TRUE(CreateFolders(dir / "a/b c/d"));  // already there
  WriteFile(dir / "fichier", "x");
  std::string failed;
  EXPECT_FALSE(CreateFolders(dir / "fichier/sous/", &failed));
  EXPECT_EQ(failed, dir / "fichier/");
  EXPECT_FALSE(CreateFolders(""));
  EXPECT_EQ(ParentFolder("/a/b/c.txt"), "/a/b/");
  EXPECT_EQ(ParentFolder("/a/b/"), "/a/");
  EXPECT_EQ(ParentFolder("c.txt"), "./");
}

namespace {
// Sets a file's modification time `seconds` in the past.
void age(const std::string& path, int seconds) {
  timespec times[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}
}  // namespace

TEST(Files, StaleTemporaryFilesOfOurWritersAreRemovedAndNothingElse) {
  TempDir dir;
  const std::vector<std::string> ours = {"Vexa_Config.ini.tmp.Ab12Cd", "son.s48.part12345",
                                         "x.gpx.tmp.ZZZZZZ"};
  const std::vector<std::string> others = {
      "notes.tmp",          // not a name of ours
      "a.ini.tmp.abc",      // too short for mkstemp's six characters
      "a.ini.tmp.abc-12",   // not mkstemp's characters
      "rapport.partie",     // ".part" not followed by a process id
      "b.part",             // nor here
      ".part123",           // nothing before the mark
      "Vexa_Config.ini"};
  for (const auto& name : ours) WriteFile(dir / name, "x");
  for (const auto& name : others) WriteFile(dir / name, "x");
  std::filesystem::create_directories(dir / "dossier.tmp.QWERTY");            // a folder
  ASSERT_EQ(::symlink("ailleurs", (dir / "lien.tmp.ABCDEF").c_str()), 0);     // a link
  WriteFile(dir / "sous/profond.ini.tmp.Ab12Cd", "x");                        // a sub-folder
  for (const auto& entry : test::FolderEntries(dir.path())) age(dir / entry, 2 * 3600);
  age(dir / "sous/profond.ini.tmp.Ab12Cd", 2 * 3600);
  WriteFile(dir / "frais.ini.tmp.Ab12Cd", "x");  // still being written by someone

  auto removed = RemoveStaleTempFiles(dir.path());
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{dir / "Vexa_Config.ini.tmp.Ab12Cd",
                                               dir / "son.s48.part12345",
                                               dir / "x.gpx.tmp.ZZZZZZ"}));
  for (const auto& name : ours) EXPECT_FALSE(test::Exists(dir / name)) << name;
  for (const auto& name : others) EXPECT_TRUE(test::Exists(dir / name)) << name;
  for (const char* kept : {"dossier.tmp.QWERTY", "frais.ini.tmp.Ab12Cd", "sous/profond.ini.tmp.Ab12Cd"})
    EXPECT_TRUE(test::Exists(dir / kept)) << kept;
  struct stat st{};
  EXPECT_EQ(::lstat((dir / "lien.tmp.ABCDEF").c_str(), &st), 0);
  EXPECT_TRUE(RemoveStaleTempFiles(dir / "absent").empty());
  EXPECT_TRUE(RemoveStaleTempFiles("").empty());
  // A relative folder is never walked: it would be wherever the program runs.
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.path());
  WriteFile(dir / "relatif.ini.tmp.Ab12Cd", "x");
  age(dir / "relatif.ini.tmp.Ab12Cd", 2 * 3600);
  EXPECT_TRUE(RemoveStaleTempFiles(".").empty());
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(test::Exists(dir / "relatif.ini.tmp.Ab12Cd"));
}

}  // namespace sono
