// What a song row of the grid hands to the editor (SelectLigneMusMaster's
// part): the code, the duration the database knows, the sound file, and the
// title and artists for the editor's caption.
#pragma once
#include <optional>
#include <string>

#include "editor/pointer_editor.h"

namespace sono::editor {

// Nothing when the song is not in the station's song file.
std::optional<SongSelection> SelectionForSong(data::Library& lib, int station,
                                              const std::string& codeUtf8);

}  // namespace sono::editor
