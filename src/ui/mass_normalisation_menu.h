// Mass normalisation on the desktop: the song grid's context menu (and
// Outils) gets "Normaliser les sons de la liste" (`Mnu17Normaliser`: every
// song the grid lists, after the question) and "Normaliser les sons
// sélectionnés" (`Mnu39Normaliser`: the selected rows, without it). A
// progress window with "Arrêter" follows the list; the editor's song, when
// normalised, is reloaded. Outils also gets "Normaliser les sons d'une
// catégorie…" (`MnuNormaliserCategorie`): a category of the station chosen
// in a list, then the question, then its songs with a sound as above.
#pragma once
#include <string>

#include "core/ports.h"

namespace sono::ui {

class Workstation;

// `exePath`: the running program, where the converter is looked for when
// the registry names no folder.
void AddMassNormalisationMenu(Workstation& workstation, Prompt& prompt, EventLoop& events, Clock& clock,
                              const std::string& exePath);

}  // namespace sono::ui
