#include <gtest/gtest.h>

#include "core/paths.h"
#include "test_support.h"

namespace sono {
using test::TempDir;
using test::WriteFile;

TEST(PathMapper, WindowsFormFoldersLandUnderTheirDriveRoot) {
  TempDir dir;
  const std::string site = dir / "Settings/Vexa_Config.ini";
  WriteFile(site, "[Drives]\nD=/srv/disque-d\n[Shares]\nSons=/srv/sons/\n\\\\nas\\musique=/mnt/nas\n");
  PathMapper m(dir.path(), site, "Poste-1");
  EXPECT_EQ(m.toLocal("C:\\AudioLog\\"), dir / "drives/c/AudioLog/");
  EXPECT_EQ(m.toLocal("c:\\a\\b"), dir / "drives/c/a/b");
  EXPECT_EQ(m.toLocal("C:"), dir / "drives/c/");
  EXPECT_EQ(m.toLocal("d:\\Sons\\"), "/srv/disque-d/Sons/");
  EXPECT_EQ(m.toLocal("  \"C:\\Mes Sons\\\" "), dir / "drives/c/Mes Sons/");
  EXPECT_EQ(m.toLocal("'C:\\L'été\\'"), dir / "drives/c/L'été/");
  EXPECT_EQ(m.toLocal("\\\\poste-1\\Sons\\Mus\\"), "/srv/sons/Mus/");
  EXPECT_EQ(m.toLocal("\\\\NAS\\Musique\\Rock\\"), "/mnt/nas/Rock/");
  EXPECT_EQ(m.toLocal("\\\\inconnu\\partage\\x\\"), dir / "unc/inconnu/partage/x/");
  EXPECT_EQ(m.toLocal("\\\\"), dir / "unc/");
  EXPECT_EQ(m.toLocal("/déjà/local/"), "/déjà/local/");
  EXPECT_EQ(m.toLocal("relatif\\dossier\\"), dir / "relatif/dossier/");
  EXPECT_EQ(m.toLocal("   "), "");
}

}  // namespace sono
