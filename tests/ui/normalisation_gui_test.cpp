// Outils > "Normaliser le son…" (Ctrl+Shift+N) on the editor's song: the
// window shows the proposals, the slider moves the label and the envelope,
// "Normaliser" puts the value into the pointer grid.
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "convert/convert_driver.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
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
};

TEST_F(NormalisationGuiTest, SliderRedrawsAndNormaliserWritesTheGridLevel) {
  ASSERT_NE(Menu(), nullptr);
  EXPECT_EQ(Menu()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
  SearchCode("00000001");
  ASSERT_EQ(rows(), 1);
  ws->window.grid()->selectRow(0);
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
  const std::string settings = ws->app.config().settingsFile();
  ASSERT_TRUE(EcritureIni(settings, "Convert", "CheckEffectActif1", "1"));
  ASSERT_TRUE(EcritureIni(settings, "Convert", "OptionEffetNormalise", "4"));
  ASSERT_TRUE(EcritureIni(settings, "Normalisation", "SansReencodage", "0"));  // through the converter
  Registry(ws->app.config().settingsFolder() + "Registry.ini")
      .Reg_SetValue(convert::kConverterRegistryRoot, convert::kConverterRegistryKey, "Path",
                    EclateRepFicExt(SONOTEKA_CONVERT).folder);
  SearchCode("00000001");
  ASSERT_EQ(rows(), 1);
  ws->window.grid()->selectRow(0);
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

}  // namespace
}  // namespace sono::ui
