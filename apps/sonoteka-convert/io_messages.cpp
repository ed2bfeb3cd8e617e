#include "io_messages.h"

#include <cerrno>

namespace sono::convert {

std::string SystemErrorText(int errorNumber) {
  switch (errorNumber) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return "disque plein";
    case EACCES:
    case EPERM: return "accès refusé";
    case EROFS: return "disque en lecture seule";
    case ENOENT: return "dossier introuvable";
    case ENOTDIR: return "chemin incorrect";
    case ENAMETOOLONG: return "nom trop long";
    case EIO: return "erreur d'entrée/sortie";
    default: return "erreur système " + std::to_string(errorNumber);
  }
}

}  // namespace sono::convert
