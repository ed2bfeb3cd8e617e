// FrmNormalisation on the desktop: the editor's sound's measurements, the
// two proposals, the slider in hundredths of a dB with its label, the
// envelope redrawn with the correction, "Normaliser", which writes the
// value into the pointer grid, and the station's target and ceiling
// ("Enregistrer la cible" writes them to the settings). The window only binds widgets to
// `editor::NormalisationWindow`. Opened by Outils > "Normaliser le son…"
// (Ctrl+Shift+N).
#pragma once
#include <QDialog>
#include <functional>

#include "core/ports.h"
#include "editor/normalisation.h"
#include "ui/image_canvas.h"

class QDoubleSpinBox;
class QLabel;
class QSlider;

namespace sono::ui {

class Workstation;

class NormalisationDialog : public QDialog {
 public:
  NormalisationDialog(QWidget* parent, editor::PointerEditor& editor, TraceLogger& log, std::string settingsFile);
  // SoundNormalize, then the window is shown; false (nothing shown) when the
  // editor has no sound to measure: `model().message` says why.
  bool start();
  editor::NormalisationWindow& model() { return model_; }
  QSlider* slider() const { return slider_; }
  // After the value went into the grid.
  std::function<void()> onStored;

 private:
  void showModel();
  ImageCanvas canvas_{600, 80};
  editor::NormalisationWindow model_;
  std::string settingsFile_;
  QSlider* slider_;
  QDoubleSpinBox *targetLufs_, *ceilingDbtp_;
  QLabel *measures_, *proposal_, *target_, *label_, *picture_, *message_;
};

// Outils > "Normaliser le son…" for the workstation's editor.
void AddNormalisationMenu(Workstation& workstation, Prompt& prompt);

}  // namespace sono::ui
