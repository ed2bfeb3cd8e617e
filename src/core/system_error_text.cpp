#include "core/system_error_text.h"

#include <cerrno>
#include <cstring>

namespace sono {

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
    case ENODEV:
    case ENXIO: return "périphérique introuvable";
    case EBUSY: return "périphérique occupé";
    default:
      return "erreur système " + std::to_string(errorNumber) + " (" + std::strerror(errorNumber) + ")";
  }
}

}  // namespace sono
