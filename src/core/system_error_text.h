// French words for the system errors a user meets while sounds and settings are
// written: "disque plein", "accès refusé"… They go in the messages shown to the
// user ("Impossible d'écrire le fichier: X (disque plein)") and in the log.
#pragma once
#include <string>

namespace sono {

// A full disk and a file-size limit read the same to the user: the sound did
// not fit. An error without French words keeps its number and the system's
// own text, so that it can still be looked up.
std::string SystemErrorText(int errorNumber);

}  // namespace sono
