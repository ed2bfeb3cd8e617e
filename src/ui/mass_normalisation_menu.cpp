#include "ui/mass_normalisation_menu.h"

#include <QAbstractItemModel>
#include <QItemSelectionModel>
#include <QMenu>
#include <QProgressDialog>
#include <QTableView>

#include <algorithm>
#include <optional>
#include <set>

#include "convert/mass_normalisation.h"
#include "core/text.h"
#include "editor/song_selection.h"
#include "ui/workstation.h"

namespace sono::ui {

namespace {

// The grid's song codes: every row, or the selected ones, in grid order.
std::vector<std::string> GridCodes(QTableView* grid, bool selectedOnly) {
  std::vector<std::string> codes;
  const QAbstractItemModel* model = grid->model();
  if (!model) return codes;
  std::set<int> rows;
  if (selectedOnly && grid->selectionModel())
    for (const QModelIndex& index : grid->selectionModel()->selectedRows()) rows.insert(index.row());
  for (int row = 0; row < model->rowCount(); ++row)
    if (!selectedOnly || rows.count(row)) codes.push_back(Trim(model->index(row, 0).data().toString().toStdString()));
  return codes;
}

struct MenuPorts {
  Workstation& ws;
  Prompt& prompt;
  EventLoop& events;
  Clock& clock;
  std::string exePath;
};

void Run(const MenuPorts& m, const std::vector<std::string>& codes) {
  if (codes.empty()) return;
  Workstation& ws = m.ws;
  EventLoop& events = m.events;
  const convert::ConverterPorts ports{ws.app.log(), m.clock, m.events, m.prompt};
  // The converter and the effects as the settings say now.
  convert::ConverterDriver driver(ports, convert::FindConverterPath(ws.app.config().registry(), m.exePath),
                                  convert::LoadEffectSettings(ws.app.config().settingsFile()));
  driver.onTargetInUse = [&ws](const std::string&) {
    ws.deck.Stop();
    ws.deck.Close();
  };
  editor::PointerEditor& ed = ws.editorPanel->editor();
  QProgressDialog progress(QString::fromUtf8("Normalisation des sons…"), QString::fromUtf8("&Arrêter"), 0,
                           static_cast<int>(codes.size()), &ws.window);
  progress.setObjectName("FrmNormalisationEnMasse");
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setValue(0);
  const int station = ws.tab.station;
  editor::MpegScanDurationMeter meter;
  editor::EnvelopeReader envelopes(ws.app.log(), meter, editor::LoadEnvelopeSettings(ws.app.config()));
  bool editorSongDone = false;
  convert::NormalisationEnMasse(
      {ports, driver, ws.lib, envelopes}, station, codes,
      [&](int done, int total, const convert::NormalisedSound& sound) {
        if (sound.ok && Trim(sound.code) == Trim(ed.sound.code)) editorSongDone = true;
        progress.setLabelText(QString::fromStdString(sound.code + (sound.ok ? ": normalisé" : ": " + sound.message)));
        progress.setValue(done);
        events.processEvents();
        return done == total || !progress.wasCanceled();
      },
      true);
  // The editor's song is read again: its sound, envelope and level changed.
  if (editorSongDone) {
    if (auto song = editor::SelectionForSong(ws.lib, station, Trim(ed.sound.code)))
      ed.InitSoundPtx(editor::SoundLoad::Refresh, false, "NormalisationEnMasse", *song);
    ws.editorPanel->refresh();
  }
}

// A whole category of the station: chosen in a list, its songs with a sound
// after the question (its count of sounds and of songs without one).
void RunCategory(const MenuPorts& m) {
  Workstation& ws = m.ws;
  const int station = ws.tab.station;
  const std::vector<convert::CategoryChoice> choices = convert::CategoryChoices(ws.lib, station);
  if (choices.empty()) {
    m.prompt.message(convert::kNoCategory, Icon::Information, Buttons::Ok);
    return;
  }
  std::vector<std::string> items;
  for (const auto& c : choices) items.push_back(c.text);
  const std::optional<int> chosen = m.prompt.chooseItem(convert::kCategoryChoiceTitle, items, 0);
  if (!chosen || *chosen < 0 || *chosen >= static_cast<int>(choices.size())) return;
  const std::string& code = choices[static_cast<size_t>(*chosen)].code;
  const convert::CategoryRun run = convert::PrepareCategoryRun(ws.lib, station, code);
  if (run.songs.status != 0) {
    m.prompt.message("Morceaux de la catégorie " + code + " illisibles (statut " + std::to_string(run.songs.status) +
                         ", voir le journal)",
                     Icon::Critical, Buttons::Ok);
    return;
  }
  const bool yes = m.prompt.message(convert::CategoryQuestion(run), Icon::Question, Buttons::YesNo) == Answer::Yes;
  ws.app.log().TraceLog("Question: Normaliser les sons de la categorie " + code + " |Reponse: " + (yes ? "Oui" : "Non"));
  if (yes) Run(m, run.withSound);
}

}  // namespace

void AddMassNormalisationMenu(Workstation& ws, Prompt& prompt, EventLoop& events, Clock& clock,
                              const std::string& exePath) {
  const MenuPorts m{ws, prompt, events, clock, exePath};
  QTableView* grid = ws.window.grid();
  auto* list = new QAction(QString::fromUtf8("Normaliser les sons de la &liste"), &ws.window);
  list->setObjectName("Mnu17Normaliser");
  auto* selected = new QAction(QString::fromUtf8("Normaliser les sons s&électionnés"), &ws.window);
  selected->setObjectName("Mnu39Normaliser");
  QObject::connect(list, &QAction::triggered, &ws.window, [m, grid] {
    const bool yes =
        m.prompt.message(convert::kMassNormalisationQuestion, Icon::Question, Buttons::YesNo) == Answer::Yes;
    m.ws.app.log().TraceLog(std::string("Question: Normaliser les sons de la liste |Reponse: ") + (yes ? "Oui" : "Non"));
    if (yes) Run(m, GridCodes(grid, false));
  });
  QObject::connect(selected, &QAction::triggered, &ws.window, [m, grid] { Run(m, GridCodes(grid, true)); });
  auto* category = new QAction(QString::fromUtf8("Normaliser les sons &d'une catégorie…"), &ws.window);
  category->setObjectName("MnuNormaliserCategorie");
  QObject::connect(category, &QAction::triggered, &ws.window, [m] { RunCategory(m); });
  QMenu* tools = ws.window.menu(MenuId::Tools);
  tools->addAction(list);
  tools->addAction(selected);
  tools->addAction(category);
  grid->addAction(list);
  grid->addAction(selected);
  grid->setContextMenuPolicy(Qt::ActionsContextMenu);
}

}  // namespace sono::ui
