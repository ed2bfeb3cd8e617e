// French words for the system errors a conversion meets, for the error file.
#pragma once
#include <string>

namespace sono::convert {

// "disque plein", "accès refusé", ... or "erreur système N".
std::string SystemErrorText(int errorNumber);

}  // namespace sono::convert
