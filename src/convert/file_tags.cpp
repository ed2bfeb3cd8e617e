#include "convert/file_tags.h"

#include "core/text.h"

namespace sono::convert {

namespace {

// The first character Windows-1252 has no form for, or "" when it holds all.
std::string Unholdable(const std::string& utf8) {
  if (!IsValidUtf8(utf8)) return "?";
  size_t at = 0;
  while (at < utf8.size()) {
    size_t next = at + 1;
    while (next < utf8.size() && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
    const std::string one = utf8.substr(at, next - at);
    if (one != "?" && Utf8ToCp1252(one) == "?") return one;
    at = next;
  }
  return {};
}

}  // namespace

FileTagsOffer OfferFileTags(const data::SongForm& song, const std::string& title, const std::string& artist,
                            const std::vector<data::ArtistChoice>& artists) {
  FileTagsOffer offer;
  offer.form = song;
  const std::string newTitle = Trim(title), newArtist = Trim(artist);
  if (!newTitle.empty() && newTitle != Trim(song.title)) {
    if (const std::string bad = Unholdable(newTitle); !bad.empty()) {
      offer.refused.push_back("Titre du fichier non repris: « " + newTitle + " » contient un caractère que la base ne peut pas enregistrer (" + bad + ")");
    } else {
      offer.form.title = newTitle;
      offer.title = newTitle;
    }
  }
  if (!newArtist.empty()) {
    const data::ArtistChoice* found = nullptr;
    for (const auto& a : artists)
      if (EqualsNoCase(Utf8ToCp1252(a.name), Utf8ToCp1252(newArtist))) found = &a;
    if (!found) {
      offer.refused.push_back("Artiste du fichier non repris: « " + newArtist + " » n'est pas dans la base");
    } else if (found->code != Trim(song.artist1)) {
      offer.form.artist1 = found->code;
      offer.artistName = found->name;
    }
  }
  return offer;
}

}  // namespace sono::convert
