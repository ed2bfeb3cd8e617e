// SaveFileAs: a copy of the editor's sound under another name and format,
// made by the converter (the format from the target's extension).
//
// The copy goes through the converter driver's temporary file renamed over
// the target: an existing file the user agreed to replace stays whole until
// the new one is ready, and a failed conversion leaves it as it was (the old
// program deleted it first).
#pragma once
#include <array>
#include <optional>
#include <string>

#include "convert/convert_driver.h"

namespace sono::convert {

// The extensions the dialog offers. ".wma" is offered and refused: Linux
// has no Windows Media encoder, so the user is told why rather than
// wondering where the format went.
inline constexpr std::array<const char*, 6> kSaveAsExtensions = {".mp2", ".mp3", ".wav", ".wave", ".ogg", ".wma"};
// "Sons|*.mp2;*.mp3;…" for the save dialog, then one entry per extension.
std::string SaveAsFilter();

// The conversion request for `target`'s extension (case-insensitive):
//   .mp2        the house format (a house sound is copied byte for byte)
//   .mp3        MP3 at 44100 Hz, 256 kbit/s (the sound's own bit rate)
//   .wav .wave  PCM 16 bits at 48000 Hz, with `tags` in its broadcast chunks
//   .ogg        Ogg Vorbis, quality 0.6
// Nothing for ".wma" and any other extension.
std::optional<ConversionRequest> SaveAsRequest(const std::string& sound, const std::string& target,
                                               const BroadcastTags& tags);

// An existing target: asked, or replaced without a question (a script's --replace).
enum class ExistingTarget { Ask, Replace };

struct SaveAsResult {
  bool ok = false;
  bool wave = false;       // a WAV, carrying the tags
  bool cancelled = false;  // the user kept the existing file
  std::string message;     // French: "Fichier '…' créé." or why not
};

// SaveFileAs: `sound` written as `target`. An existing target asks
// "Voulez-vous remplacer le fichier existant ?" (No: nothing is done).
// A WAV carries `tags` (title, artist, cue points) like an export.
SaveAsResult SaveFileAs(ConverterPorts ports, ConverterDriver& driver, const std::string& sound,
                        const std::string& target, const BroadcastTags& tags,
                        ExistingTarget existing = ExistingTarget::Ask);

}  // namespace sono::convert
