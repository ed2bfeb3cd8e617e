// Outils > "Normaliser le son…" (Ctrl+Shift+N) on the editor's song: the
// window shows the proposals, the slider moves the label and the envelope,
// "Normaliser" puts the value into the pointer grid.
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>

#include <algorithm>

#include "convert/convert_driver.h"
#include "convert/mass_normalisation.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "data/songs.h"
#include "demo/demo_sounds.h"
#include "log_lines.h"
#include "test_support.h"
#include "editor/level_measurements.h"
#include "ui/normalisation_dialog.h"
#include "workstation_fixture.h"

namespace sono::ui {
namespace {

class NormalisationGuiTest : public test::WorkstationFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(ws->start()); }
  QAction* Menu() { return ws->window.findChild<QAction*>("MnuNormaliserSon"); }
  NormalisationDialog* Dialog() { return ws->window.findChild<NormalisationDialog*>("FrmNormalisation"); }
  QString LabelOf(const char* name) { return Dialog()->findChild<QLabel*>(name)->text(); }
  // Loudness mode through the real converter.
  void UseLoudnessThroughTheConverter() {
    const std::string settings = ws->app.config().settingsFile();
    ASSERT_TRUE(EcritureIni(settings, "Convert", "CheckEffectActif1", "1"));
    ASSERT_TRUE(EcritureIni(settings, "Convert", "OptionEffetNormalise", "4"));
    ASSERT_TRUE(EcritureIni(settings, "Normalisation", "SansReencodage", "0"));
    Registry(ws->app.config().settingsFolder() + "Registry.ini")
        .Reg_SetValue(convert::kConverterRegistryRoot, convert::kConverterRegistryKey, "Path",
                      EclateRepFicExt(SONOTEKA_CONVERT).folder);
  }
};

TEST_F(NormalisationGuiTest, SliderRedrawsAndNormaliserWritesTheGridLevel) {
  ASSERT_NE(Menu(), nullptr);
  EXPECT_EQ(Menu()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
  ShowSong("00000001");
  editor::PointerEditor& ed = ws->editorPanel->editor();
  ASSERT_GT(ed.envelopeCount, 0);

  Menu()->trigger();
  NormalisationDialog* dialog = Dialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  const auto& model = dialog->model();
  ASSERT_TRUE(model.proposal);  // a demo sound has levels
  EXPECT_TRUE(File_Exist(editor::LevelPathFor(ed.sound.soundFile)));
  EXPECT_EQ(dialog->slider()->value(), editor::SliderForCorrection(*model.proposal));
  EXPECT_EQ(LabelOf("LabelLevel").toStdString(), editor::SliderLabel(dialog->slider()->value()));
  EXPECT_TRUE(LabelOf("LabelCible").startsWith("Cible de la station (-23.0 LUFS)"));

  // The station target from the window: written to the settings, the proposal follows.
  dialog->findChild<QDoubleSpinBox*>("TexteCibleLUFS")->setValue(-16);
  QTest::mouseClick(dialog->findChild<QPushButton*>("CommandEnregistrerCible"), Qt::LeftButton);
  EXPECT_TRUE(LabelOf("LabelCible").startsWith("Cible de la station (-16.0 LUFS)")) << LabelOf("LabelCible").toStdString();
  EXPECT_DOUBLE_EQ(editor::LoadLoudnessTarget(ws->app.config().settingsFile()).targetLufs, -16);

  const QImage before = dialog->findChild<QLabel*>("PictureEnveloppe")->pixmap().toImage();
  dialog->slider()->setValue(-1250);
  EXPECT_EQ(LabelOf("LabelLevel"), "-12.5 dB");
  EXPECT_NE(dialog->findChild<QLabel*>("PictureEnveloppe")->pixmap().toImage(), before);

  QTest::mouseClick(dialog->findChild<QPushButton*>("CommandNormalisation"), Qt::LeftButton);
  EXPECT_FLOAT_EQ(ed.ptx.level, -12.5f);
  EXPECT_EQ(ed.ptx.grid.cell(1, 11), "-12.50 dB");
  QApplication::processEvents();
  EXPECT_EQ(Dialog(), nullptr);  // closed and deleted
}

TEST_F(NormalisationGuiTest, WithoutASoundTheWindowIsNotOpened) {
  prompt.shown.clear();
  Menu()->trigger();
  EXPECT_EQ(Dialog(), nullptr);
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().text, "Pas de son à normaliser dans l'éditeur.");
}

// The song grid's two entries: the list's asks its question first, the
// selection's does not; the sound is rewritten at the station's loudness
// and the editor shows it again without its old correction.
TEST_F(NormalisationGuiTest, GridEntriesNormaliseTheListAfterTheQuestionAndTheSelectionAtOnce) {
  ASSERT_NO_FATAL_FAILURE(UseLoudnessThroughTheConverter());
  ShowSong("00000001");
  editor::PointerEditor& ed = ws->editorPanel->editor();
  ASSERT_TRUE(ed.SetLevel(-450));
  ASSERT_TRUE(ed.StorePointers());
  const std::string sound = ed.sound.soundFile, before = sono::test::ReadFile(sound);

  auto* list = ws->window.findChild<QAction*>("Mnu17Normaliser");
  auto* selected = ws->window.findChild<QAction*>("Mnu39Normaliser");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(selected, nullptr);
  EXPECT_TRUE(ws->window.grid()->actions().contains(list));  // the grid's context menu
  prompt.shown.clear();
  prompt.answers = {Answer::No};
  list->trigger();
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown[0].text, "Voulez-vous normaliser les sons de la liste ?");
  EXPECT_EQ(sono::test::ReadFile(sound), before);

  prompt.shown.clear();
  prompt.answers = {Answer::Yes};
  list->trigger();
  EXPECT_NE(sono::test::ReadFile(sound), before);
  EXPECT_EQ(prompt.shown.back().text, "Normalisation terminée.");
  const auto levels = editor::ReadLevelFile(sound);
  ASSERT_TRUE(levels);
  EXPECT_NEAR(levels->integratedLufs, -23.0, 0.5);
  EXPECT_FLOAT_EQ(ed.ptx.level, 0.0f);  // the old correction is gone, the editor reloaded
  EXPECT_EQ(ed.ptx.grid.cell(1, 11), "0.00 dB");

  // The selection: no question, the sound normalised again.
  const std::string once = sono::test::ReadFile(sound);
  prompt.shown.clear();
  selected->trigger();
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Normalisation terminée.");
  EXPECT_NE(sono::test::ReadFile(sound), once);
}

// Outils > "Normaliser les sons d'une catégorie…": the station's categories
// in a list, the question with the category's counts, then its sounds one
// after the other; "Arrêter" once the first is done leaves the others as
// they were.
TEST_F(NormalisationGuiTest, ACategoryIsChosenAskedAndStoppedAfterItsFirstSound) {
  ASSERT_NO_FATAL_FAILURE(UseLoudnessThroughTheConverter());
  const int station = ws->tab.station;
  // The first song's category, with two more of its songs given a sound.
  const std::vector<convert::CategoryChoice> choices = convert::CategoryChoices(ws->lib, station);
  int chosen = -1;
  for (size_t i = 0; i < choices.size() && chosen < 0; ++i) {
    const convert::CategoryRun run = convert::PrepareCategoryRun(ws->lib, station, choices[i].code);
    const auto& with = run.withSound;
    if (std::find(with.begin(), with.end(), "00000001") != with.end() && run.withoutSound.size() >= 2) {
      chosen = static_cast<int>(i);
      for (size_t k = 0; k < 2; ++k) {
        std::string error;
        ASSERT_TRUE(demo::WriteDemoSound(data::SoundFilePath(ws->lib, station, run.withoutSound[k]), 6, false,
                                         static_cast<uint32_t>(11 + k), error))
            << error;
      }
    }
  }
  ASSERT_GE(chosen, 0) << "no category with the first song and two songs without a sound";
  const std::string code = choices[static_cast<size_t>(chosen)].code;
  const convert::CategoryRun run = convert::PrepareCategoryRun(ws->lib, station, code);
  ASSERT_EQ(run.withSound.size(), 3u);
  std::vector<std::string> sounds, before;
  for (const std::string& song : run.withSound) {
    sounds.push_back(data::SoundFilePath(ws->lib, station, song));
    before.push_back(sono::test::ReadFile(sounds.back()));
  }

  auto* entry = ws->window.findChild<QAction*>("MnuNormaliserCategorie");
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(ws->window.menu(MenuId::Tools)->actions().contains(entry));
  // The list given up: nothing asked. "Non": nothing written.
  prompt.shown.clear();
  prompt.choices = {std::nullopt};
  entry->trigger();
  EXPECT_TRUE(prompt.shown.empty());
  ASSERT_EQ(prompt.offeredLists.size(), 1u);
  EXPECT_EQ(prompt.offeredLists[0].size(), choices.size());
  EXPECT_EQ(prompt.offeredLists[0][static_cast<size_t>(chosen)].rfind(code + " - ", 0), 0u);
  prompt.choices = {chosen};
  prompt.answers = {Answer::No};
  entry->trigger();
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text.rfind("Voulez-vous normaliser les sons de la catégorie " + code + " (", 0), 0u)
      << prompt.shown[0].text;
  EXPECT_NE(prompt.shown[0].text.find("\n3 son(s), "), std::string::npos) << prompt.shown[0].text;
  for (size_t i = 0; i < sounds.size(); ++i) EXPECT_EQ(sono::test::ReadFile(sounds[i]), before[i]);

  // "Oui", then "Arrêter" as soon as the progress window shows the first sound done.
  QTimer stopper;
  stopper.setInterval(0);
  int clicks = 0;
  QObject::connect(&stopper, &QTimer::timeout, [&] {
    auto* progress = ws->window.findChild<QProgressDialog*>("FrmNormalisationEnMasse");
    if (!progress || progress->value() < 1 || progress->wasCanceled()) return;
    if (auto* stop = progress->findChild<QPushButton*>()) {
      stop->click();
      ++clicks;
    }
  });
  stopper.start();
  prompt.shown.clear();
  prompt.choices = {chosen};
  prompt.answers = {Answer::Yes};
  entry->trigger();
  stopper.stop();
  EXPECT_EQ(clicks, 1);
  EXPECT_NE(sono::test::ReadFile(sounds[0]), before[0]);
  const auto levels = editor::ReadLevelFile(sounds[0]);
  ASSERT_TRUE(levels);
  EXPECT_NEAR(levels->integratedLufs, -23.0, 0.5);
  for (size_t i = 1; i < sounds.size(); ++i) EXPECT_EQ(sono::test::ReadFile(sounds[i]), before[i]) << sounds[i];
  EXPECT_TRUE(sono::test::LoggedContaining(ws->app.log(), "NormalisationEnMasse: Stopped |Done: 1"));
  ASSERT_FALSE(prompt.shown.empty());
  EXPECT_EQ(prompt.shown.back().text, "Normalisation terminée.");
}

}  // namespace
}  // namespace sono::ui
