#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/ini.h"
#include "core/text.h"
#include "test_support.h"

namespace sono {
using test::Lines;
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

TEST(IniEncoding, MixedFileReadsEachLineRightAndKeepsUntouchedLinesByteForByte) {
  TempDir dir;
  const std::string f = dir / "mixte.ini";
  // Windows-1252 lines of the suite's programs, a UTF-8 line of ours, mixed
  // line ends, odd spacing and no line end after the last line.
  const std::string before =
      "; r\xE9glages \xE9" "crits par Vexa_Menu\r\n"
      "[Site]\r\n"
      "Lib=Radio D\xE9mo\r\n"
      "Ville = Besançon\n"
      "NbBase=1\r\n"
      "[Autre]\r\n"
      "Cl\xE9=\x80 \x85";
  WriteFile(f, before);
  EXPECT_EQ(LectureIni(f, "Site", "Lib", ""), "Radio Démo");
  EXPECT_EQ(LectureIni(f, "Site", "Ville", ""), "Besançon");
  EXPECT_EQ(LectureIni(f, "Autre", "Clé", ""), "€ …");

  ASSERT_TRUE(EcritureIni(f, "Site", "NbBase", "2"));
  ASSERT_TRUE(EcritureIni(f, "Site", "Ville", "Nîmes"));  // spacing kept, value in UTF-8
  ASSERT_TRUE(EcritureIni(f, "Autre", "Note", "été"));
  EXPECT_EQ(ReadFile(f),
            "; r\xE9glages \xE9" "crits par Vexa_Menu\r\n"
            "[Site]\r\n"
            "Lib=Radio D\xE9mo\r\n"
            "Ville = Nîmes\n"
            "NbBase=2\r\n"
            "[Autre]\r\n"
            "Cl\xE9=\x80 \x85\r\n"
            "Note=été\r\n");
  EXPECT_EQ(LectureIni(f, "Site", "Lib", ""), "Radio Démo");  // never "Radio DÃ©mo"
  EXPECT_EQ(LectureIni(f, "Autre", "Note", ""), "été");
}

TEST(IniEncoding, AWindows1252FileStaysWindows1252WhenTheValueFits) {
  TempDir dir;
  const std::string f = dir / "ancien.ini";
  WriteFile(f, "[Site]\nLib=Radio D\xE9mo\n");
  ASSERT_TRUE(EcritureIni(f, "Site", "Ville", "Besançon"));
  ASSERT_TRUE(EcritureIni(f, "Site", "Nom", "漢字"));  // no Windows-1252 form: UTF-8
  EXPECT_EQ(ReadFile(f), "[Site]\nLib=Radio D\xE9mo\nVille=Besan\xE7on\nNom=漢字\n");
  EXPECT_EQ(LectureIni(f, "Site", "Ville", ""), "Besançon");
  EXPECT_EQ(LectureIni(f, "Site", "Nom", ""), "漢字");
  // The file now holds a UTF-8 line: later values go out in UTF-8.
  ASSERT_TRUE(EcritureIni(f, "Site", "Pays", "Côte"));
  EXPECT_EQ(Lines(ReadFile(f)).back(), "Pays=Côte");
}

TEST(IniEncoding, Utf16FilesWithTheirMarkAreReadAndStayUtf16) {
  TempDir dir;
  for (const bool bigEndian : {false, true}) {
    const std::string f = dir / (bigEndian ? "be.ini" : "le.ini");
    const std::string bom = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    auto u16 = [&](const std::string& text) { return Utf8ToUtf16(text, bigEndian); };
    WriteFile(f, bom + u16("[Site]\r\nLib=Radio Démo 𝄞\r\nNbBase=1\r\n"));
    EXPECT_EQ(LectureIni(f, "Site", "Lib", ""), "Radio Démo 𝄞");
    ASSERT_TRUE(EcritureIni(f, "Site", "NbBase", "2"));
    ASSERT_TRUE(EcritureIni(f, "Site", "Ville", "Nîmes"));
    EXPECT_EQ(ReadFile(f), bom + u16("[Site]\r\nLib=Radio Démo 𝄞\r\nNbBase=2\r\nVille=Nîmes\r\n"));
  }
}

TEST(IniWrite, AnUnchangedValueLeavesTheFileAlone) {
  TempDir dir;
  const std::string f = dir / "a.ini";
  WriteFile(f, "[S]\nK = \"v\"\n");
  struct stat before{}, after{};
  ::stat(f.c_str(), &before);
  ASSERT_TRUE(EcritureIni(f, "s", "k", "v"));
  ::stat(f.c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);  // not replaced
  EXPECT_EQ(ReadFile(f), "[S]\nK = \"v\"\n");
}

TEST(IniWrite, ASymlinkStaysALinkAndItsTargetIsWritten) {
  TempDir dir;
  WriteFile(dir / "reel/Vexa_Systeme.ini", "[Base_01]\nLib=FM\n");
  std::filesystem::create_directories(dir / "liens");
  // A relative link to a relative link: the chain is followed to the file.
  ASSERT_EQ(::symlink("../reel/Vexa_Systeme.ini", (dir / "liens/relais.ini").c_str()), 0);
  ASSERT_EQ(::symlink("relais.ini", (dir / "liens/Vexa_Systeme.ini").c_str()), 0);
  ASSERT_TRUE(EcritureIni(dir / "liens/Vexa_Systeme.ini", "Base_01", "Actif", "1"));
  struct stat st{};
  ASSERT_EQ(::lstat((dir / "liens/Vexa_Systeme.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::lstat((dir / "liens/relais.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "reel/Vexa_Systeme.ini"), "[Base_01]\nLib=FM\nActif=1\n");
  EXPECT_EQ(test::FolderEntries(dir / "reel").size(), 1u);  // no temporary file left
  EXPECT_EQ(test::FolderEntries(dir / "liens").size(), 2u);
  // A link whose target does not exist yet: the target is created.
  ASSERT_EQ(::symlink("../reel/neuf.ini", (dir / "liens/neuf.ini").c_str()), 0);
  ASSERT_TRUE(EcritureIni(dir / "liens/neuf.ini", "S", "K", "v"));
  ASSERT_EQ(::lstat((dir / "liens/neuf.ini").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "reel/neuf.ini"), "[S]\nK=v\n");
  // A loop of links is refused, not followed for ever.
  ASSERT_EQ(::symlink("boucle.ini", (dir / "liens/boucle.ini").c_str()), 0);
  EXPECT_FALSE(EcritureIni(dir / "liens/boucle.ini", "S", "K", "v"));
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
