#include "core/demo_site.h"

#include "core/config.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/text.h"

namespace sono {

namespace {
struct Entry {
  const char* section;
  const char* key;
  const char* value;
};

constexpr Entry kSite[] = {
    {"Site", "Lib", "Radio Démo"},
    {"Site", "Actif", "1"},
    {"Site", "NbBase", "1"},
    {"Site", "NoBase", "1"},
    {"Site", "IdRadio", "1"},
    {"Site", "Dossier_Config_Global", "C:\\Brevalon\\Ondavia\\Config\\"},
};

constexpr Entry kSystem[] = {
    {"Base_01", "Lib", "Base 01"},
    {"Base_01", "Actif", "1"},
    {"Base_01", "NbStation", "2"},
    {"Base_01", "NoStation", "1"},
    {"Base_01", "Dossier_Log", "C:\\AudioLog\\"},
    {"Base_01", "Dossier_Log_Pub", "C:\\AudioLog\\Pub\\"},
    {"Base_01", "Dossier_Local", "C:\\Brevalon\\Ondavia\\Settings\\_Local\\"},
    {"Base_01", "Dossier_Shared", "C:\\Brevalon\\Ondavia\\Shared\\"},
    {"Base_01", "Dossier_Data", "C:\\QZ_Data\\"},
    {"Base_01", "Dossier_Notes", "C:\\Brevalon\\Ondavia\\Notes\\"},
    {"Base_01", "Dossier_Notes_Schedule", "C:\\Brevalon\\Ondavia\\Notes\\Conducteur\\"},
    {"Base_01_Settings_Folders", "Backup", "C:\\QZ_Data\\_Bkp\\"},
    {"Base_01_Sounds_Folders", "Mus_01", "C:\\QZ_Sons\\Station01\\Musique\\"},
    {"Base_01_Sounds_Folders", "Jin_01", "C:\\QZ_Sons\\Station01\\Jingles\\"},
    {"Base_01_Sounds_Folders", "Pub_01", "0:C:\\QZ_Sons\\Station01\\Pub\\"},
    {"Base_01_Sounds_Folders", "Mus_02", "C:\\QZ_Sons\\Station02\\Musique\\"},
    {"Base_01_Sounds_Folders", "Jin_02", "C:\\QZ_Sons\\Station02\\Jingles\\"},
    {"Base_01_Sounds_Folders", "Pub_02", "0:C:\\QZ_Sons\\Station02\\Pub\\"},
    {"Base_01_Station_01", "Lib", "Radio Démo FM"},
    {"Base_01_Station_01", "Actif", "1"},
    {"Base_01_Station_02", "Lib", "Radio Démo Classique"},
    {"Base_01_Station_02", "Actif", "1"},
};

std::string render(const Entry* begin, const Entry* end) {
  IniDocument doc;
  for (const Entry* e = begin; e != end; ++e) doc.set(e->section, e->key, e->value);
  return doc.serialize();
}
}  // namespace

bool CreateDemoSite(const std::string& programFolder, std::string& error) {
  const std::string home = CheckRep(programFolder);
  const std::string siteFile = home + "Settings/Vexa_Config.ini";
  if (File_Exist(siteFile)) {
    error = "Un site existe déjà: " + siteFile;
    return false;
  }
  const PathMapper mapper(home, siteFile, "");
  const std::string systemFile = mapper.toLocal("C:\\Brevalon\\Ondavia\\Config\\") + "Vexa_Systeme.ini";
  std::string failed;
  for (const std::string& folder :
       {home + "Settings/", ParentFolder(systemFile)}) {
    if (!CreateFolders(folder, &failed)) {
      error = "Impossible de créer le dossier: " + failed;
      return false;
    }
  }
  // The system file first: a site file without it would be a half-made site.
  if (!WriteFileAtomic(systemFile, render(std::begin(kSystem), std::end(kSystem)), &error))
    return false;
  return WriteFileAtomic(siteFile, render(std::begin(kSite), std::end(kSite)), &error);
}

}  // namespace sono
