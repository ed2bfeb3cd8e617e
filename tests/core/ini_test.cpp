#include <gtest/gtest.h>

#include "core/ini.h"
#include "test_support.h"

namespace sono {
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(IniRead, MissingEmptyOrGarbageFilesGiveDefaults) {
  TempDir dir;
  EXPECT_EQ(LectureIni(dir / "absent.ini", "S", "K", "def"), "def");
  WriteFile(dir / "empty.ini", "");
  EXPECT_EQ(LectureIni(dir / "empty.ini", "S", "K", "def"), "def");
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage.push_back(static_cast<char>((i * 131) % 256));
  WriteFile(dir / "garbage.ini", garbage);
  EXPECT_EQ(LectureIni(dir / "garbage.ini", "S", "K", "def"), "def");
  // A folder where a file is expected, and a name the profile service refuses.
  EXPECT_EQ(LectureIni(dir.path(), "S", "K", "def"), "def");
  EXPECT_EQ(LectureIni(dir / "a*.ini", "S", "K", "def"), "def");
}

TEST(IniRead, NamesIgnoreCaseValuesAreTrimmedAndUnquoted) {
  TempDir dir;
  WriteFile(dir / "a.ini",
            "; comment=1\n[Base_01]\r\nLib = Radio Un  \r\n"
            "Dossier_Log=\"C:\\Mes Logs\\\"  \r\n"
            "Vide=\r\n[Autre]\r\nLib=Deux\r\n");
  EXPECT_EQ(LectureIni(dir / "a.ini", "base_01", "LIB", "x"), "Radio Un");
  EXPECT_EQ(LectureIni(dir / "a.ini", "Base_01", "Dossier_Log", "x"), "C:\\Mes Logs\\");
  EXPECT_EQ(LectureIni(dir / "a.ini", "Base_01", "Vide", "x"), "");  // present but empty: no default
  EXPECT_EQ(LectureIni(dir / "a.ini", "Autre", "Lib", "x"), "Deux");
  EXPECT_EQ(LectureIni(dir / "a.ini", "Base_01", "comment", "x"), "x");
}

TEST(IniRead, LongValuesAreCutAt255AndOldCodePageIsRead) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[S]\nK=" + std::string(300, 'v') + "\nN=Ann\xE9" "e\n");
  EXPECT_EQ(LectureIni(dir / "a.ini", "S", "K", "").size(), 255u);
  EXPECT_EQ(LectureIni(dir / "a.ini", "S", "N", ""), "Année");
}

TEST(IniWrite, ReplacesInPlaceAndKeepsEverythingElse) {
  TempDir dir;
  const std::string f = dir / "a.ini";
  WriteFile(f, "; tête\n[Site]\nLib=Un\nNbBase=1\n\n[Autre]\nX=1\n");
  ASSERT_TRUE(EcritureIni(f, "site", "nbbase", "2"));
  ASSERT_TRUE(EcritureIni(f, "Site", "Nouveau", "v"));
  ASSERT_TRUE(EcritureIni(f, "Neuve", "K", "ligne\ncoupée"));
  EXPECT_EQ(ReadFile(f),
            "; tête\n[Site]\nLib=Un\nNbBase=2\nNouveau=v\n\n[Autre]\nX=1\n\n[Neuve]\nK=ligne coupée\n");
}

TEST(IniWrite, KeepsWindowsLineEndsAndCreatesTheFolder) {
  TempDir dir;
  const std::string f = dir / "a.ini";
  WriteFile(f, "[S]\r\nA=1\r\n");
  ASSERT_TRUE(EcritureIni(f, "S", "B", "2"));
  EXPECT_EQ(ReadFile(f), "[S]\r\nA=1\r\nB=2\r\n");
  ASSERT_TRUE(EcritureIni(dir / "sous/dossier/b.ini", "S", "K", "v"));
  EXPECT_EQ(LectureIni(dir / "sous/dossier/b.ini", "S", "K", ""), "v");
}

TEST(IniWrite, RefusedOrFailedWritesLeaveTheOldFileWhole) {
  TempDir dir;
  EXPECT_FALSE(EcritureIni("", "S", "K", "v"));
  EXPECT_FALSE(EcritureIni(dir / "a|b.ini", "S", "K", "v"));
  // A file standing where the folder should be.
  WriteFile(dir / "pasundossier", "x");
  EXPECT_FALSE(EcritureIni(dir / "pasundossier/a.ini", "S", "K", "v"));
  // A full disk, as seen by write(): the old file stays whole and no
  // temporary file is left behind.
  const std::string f = dir / "a.ini";
  WriteFile(f, "[S]\nK=ancien\n");
  {
    test::FileSizeLimit limit(8);
    EXPECT_FALSE(EcritureIni(f, "S", "K", "nouveau"));
  }
  EXPECT_EQ(ReadFile(f), "[S]\nK=ancien\n");
  EXPECT_EQ(test::FolderEntries(dir.path()).size(), 2u);
}

TEST(Registry, ValuesLiveInTheRegistryFile) {
  TempDir dir;
  Registry reg(dir / "Registry.ini");
  std::string v = "inchangé";
  EXPECT_FALSE(reg.Reg_GetValue("HKEY_CURRENT_USER", "Software\\X", "Y", v));
  EXPECT_EQ(v, "inchangé");
  ASSERT_TRUE(reg.Reg_SetValue("HKEY_CURRENT_USER", "Software\\X", "Y", "0"));
  EXPECT_TRUE(reg.Reg_GetValue("HKEY_CURRENT_USER", "software\\x", "y", v));
  EXPECT_EQ(v, "0");
  EXPECT_EQ(ReadFile(dir / "Registry.ini"), "[HKEY_CURRENT_USER\\Software\\X]\nY=0\n");
}

}  // namespace sono
