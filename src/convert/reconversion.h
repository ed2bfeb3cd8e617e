// Reconversion of a song's sound (the editor's "Reconvertir le son"): the
// sound goes through the converter again (with the effects of the audio
// set-up: trim, normalisation; a damaged sound is decoded and encoded
// again) into the work file "Convert.mp2" of the program's local folder,
// then replaces the sound.
//
// The local folder may be on another file system than the sound, so the
// work file is copied into a temporary file beside the sound, flushed and
// renamed over it (WriteFileAtomic): a failed, killed or cut conversion, or
// a full disk, leaves the old sound byte for byte and nothing beside it.
// The caller then rebuilds the envelope, holds the pointers to the new
// length and writes the durations (as after an import).
#pragma once
#include <string>

#include "convert/convert_driver.h"

namespace sono::convert {

inline constexpr const char* kReconversionWorkFile = "Convert.mp2";

struct ReconversionResult {
  bool ok = false;         // the sound was replaced
  bool cancelled = false;  // the user said No
  std::string message;     // French: why not, or the work file that stayed
};

// ReconvertirSon: asks "Voulez-vous reconvertir le fichier son ?" (unless
// `ask` is false), converts `sound` through `localFolder` + "Convert.mp2"
// and puts the result in its place. A work file that cannot be removed
// afterwards is said ("Impossible de supprimer le fichier temporaire:")
// without undoing the new sound.
ReconversionResult ReconvertirSon(ConverterPorts ports, ConverterDriver& driver, const std::string& sound,
                                  const std::string& localFolder, bool ask = true);

}  // namespace sono::convert
