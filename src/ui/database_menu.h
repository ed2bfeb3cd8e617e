// The Tools menu's database entries: "Vérifier la base" and "Réparer les
// fichiers endommagés", over the core's DatabaseTools, their reports shown
// through the prompt; "Moteur de la base…", the engine window (engine_dialog.h).
#pragma once
#include "core/ports.h"
#include "data/db_tools.h"
#include "ui/main_window.h"

namespace sono::ui {

void AddDatabaseEntries(MainWindow& window, data::DatabaseTools& tools, Prompt& prompt);

}  // namespace sono::ui
