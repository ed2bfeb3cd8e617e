// Telling a network file system from a local one, by statfs's f_type.
#include "network_fs.h"

#include <sys/vfs.h>

#include <mutex>

namespace sono::btr {

namespace {

struct NetworkType {
  long magic;
  const char* kind;
};

// The file systems that reach another machine (linux/magic.h and the
// drivers' own values). FUSE is left out: it also serves local disks
// (ntfs-3g), which must keep working.
constexpr NetworkType kNetworkTypes[] = {
    {0x6969, "nfs"},
    {0x517B, "smb"},
    {static_cast<long>(0xFF534D42), "cifs"},
    {static_cast<long>(0xFE534D42), "smb2"},
    {0x564c, "ncp"},
    {0x73757245, "coda"},
    {0x5346414F, "afs"},
    {0x6B414653, "afs"},
    {0x01021997, "9p"},
    {0x00c36400, "ceph"},
    {0x0BD00BD0, "lustre"},
    {0x47504653, "gpfs"},
    {0x7461636f, "ocfs2"},
    {0x01161970, "gfs2"},
};

std::mutex g_standInMutex;
long g_standIn = 0;
std::string g_standInKind;

}  // namespace

std::string NetworkFileSystemOf(const std::string& folder) {
  struct statfs st;
  if (::statfs(folder.c_str(), &st) != 0) return {};
  const long type = static_cast<long>(st.f_type);
  {
    std::lock_guard lock(g_standInMutex);
    if (g_standIn != 0 && type == g_standIn) return g_standInKind;
  }
  for (const NetworkType& t : kNetworkTypes)
    if (static_cast<unsigned long>(t.magic) == static_cast<unsigned long>(type)) return t.kind;
  return {};
}

std::string NetworkFolderMessage(const std::string& folder, const std::string& kind) {
  return "Le dossier de données " + folder + " est sur un partage réseau (" + kind +
         ").\nLa base intégrée (LMDB) ne peut pas y être ouverte : plusieurs postes l'abîmeraient.\n\n"
         "Placez le dossier de données sur un disque de ce poste, ou, pour une base partagée par "
         "plusieurs postes, choisissez le serveur PostgreSQL dans la section de la base de son "
         "fichier système (Vexa_Systeme.ini) : Moteur_Data=PostgreSQL et "
         "Connexion_PostgreSQL=<chaîne de connexion> (mot de passe dans ~/.pgpass ou dans le "
         "fichier nommé par Fichier_MotDePasse_PostgreSQL).";
}

void SetNetworkFileSystemStandIn(long fsType, const std::string& kind) {
  std::lock_guard lock(g_standInMutex);
  g_standIn = fsType;
  g_standInKind = kind;
}

}  // namespace sono::btr
