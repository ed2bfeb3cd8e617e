#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace sono
