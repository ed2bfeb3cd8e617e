// The title and artist of an imported file's tags offered in the song form.
// The records hold Windows-1252: a tag with a character it cannot hold is
// not taken (the song keeps its own text, and the reason is said) rather
// than stored with "?" in its place. The artist is taken only when an
// artist of that name is in the base (the form chooses artists, it does not
// create them); the short title is the user's own and stays.
#pragma once
#include <string>
#include <vector>

#include "data/songs.h"

namespace sono::convert {

struct FileTagsOffer {
  data::SongForm form;               // the song's form with what was taken
  std::string title, artistName;     // taken (UTF-8), empty when not
  std::vector<std::string> refused;  // why a tag was not taken (French)
  bool changes() const { return !title.empty() || !artistName.empty(); }
};

// What of the file's `title` and `artist` (UTF-8) differs from `song` and
// can be stored; `artists` are the base's (ListeArtistes).
FileTagsOffer OfferFileTags(const data::SongForm& song, const std::string& title, const std::string& artist,
                            const std::vector<data::ArtistChoice>& artists);

}  // namespace sono::convert
