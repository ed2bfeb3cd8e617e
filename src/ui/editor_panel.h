// The editor panel of the main window: the global view, the working view
// with its scroll bar (HScrollESLateral) and zoom bar (VScrollZoom), the
// pointer strip with its selection handles and context menu, the pointer
// grid with the Send device combo, the end-type combo, the pitch slider, the
// level correction, the meter, the audition's output, the play button, the
// automatic-store toggle and the store button; under the strip the strip
// with the level correction applied and the time labels (mouse, selection
// start and end). It shows the editor
// model's canvases and grid and turns mouse, wheel, key and menu events into
// the model's and the audition deck's calls.
#pragma once
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTableWidget>
#include <QWidget>
#include <optional>
#include <functional>

#include "editor/audition_deck.h"
#include "editor/duration_meter.h"
#include "editor/envelope.h"
#include "editor/pointer_editor.h"
#include "editor/sound_edits.h"
#include "ui/image_canvas.h"

namespace sono::ui { class AuditionBar; }

namespace sono::ui {

// A picture that reports its mouse and wheel events.
class PictureLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void(QMouseEvent*)> pressed, moved, released, doubleClicked;
  std::function<void(QWheelEvent*)> wheeled;
  std::function<bool(QKeyEvent*)> keyed;  // true: the key was used
  // A file dropped on the picture (a local path); set to accept drops.
  std::function<void(const std::string& file)> fileDropped;

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
};

class EditorPanel : public QWidget {
 public:
  // Width of the views in pixels: the panel fits beside the category tree
  // in a 1366-pixel-wide window.
  static constexpr int kWidth = 1080;
  EditorPanel(data::Library& lib, data::DurationStatistics& stats, TraceLogger& log, const SiteConfig& config,
              editor::AuditionDeck* deck, QWidget* parent = nullptr);
  // A song row was selected: the editor loads it (false when the user kept
  // the previous sound).
  bool load(const editor::SongSelection& song);
  // Shows what the model holds now.
  void refresh();
  // Another workstation changed the songs: the pointers are read again
  // when none waits to be stored (PointerEditor::FollowStoredPointers).
  void followChange();
  // A widget of another module beside the caption (the record buttons).
  void addCaptionWidget(QWidget* widget);
  // The 100 ms follow-up of the audition: the play head and the meter.
  void TimerPtx();
  // Keys: Space plays or stops, Home and End go to the start and the end.
  void PlayStop();
  void GotoBegin();
  void GotoEnd();
  // Wheel on the working view: a positive step zooms in.
  void Zoom(int steps);
  // The marks changed (for the status bar).
  std::function<void(const std::string& marks)> onMarksChanged;
  // A file dropped on one of the sound's pictures (the import).
  std::function<void(const std::string& file)> onFileDropped;
  // Automatic storing switched from the panel (the Tools menu shows it too).
  std::function<void(bool on)> onAutoStoreChanged;
  // Told before the strip is shown, to draw over it (the steps).
  std::function<void()> onStripShown;
  editor::Canvas& stripCanvas() { return strip_; }

  editor::PointerEditor& editor() { return editor_; }
  editor::SoundEdits& soundEdits() { return edits_; }
  // A sound edit (copy, cut, paste, trim, undo, delete) run on the loaded
  // sound, the audition stopped first; the views and the grid show the result.
  bool soundEdit(const std::function<bool(editor::SoundEdits&)>& edit);
  QLabel* editProgress() const { return editProgress_; }
  editor::WaveformView& view() { return view_; }
  QTableWidget* pointerGrid() const { return grid_; }
  PictureLabel* strip() const { return stripLabel_; }
  PictureLabel* working() const { return workingLabel_; }
  QScrollBar* scroll() const { return scroll_; }
  QScrollBar* zoom() const { return zoom_; }
  QLabel* title() const { return title_; }
  QLabel* message() const { return message_; }
  QLabel* noSongHint() const { return noSongHint_; }
  QPushButton* playButton() const { return play_; }
  QComboBox* outputCombo() const { return output_; }
  PictureLabel* global() const { return globalLabel_; }
  PictureLabel* correctedStrip() const { return correctedLabel_; }
  QLabel* mouseTime() const { return mouseTime_; }
  QLabel* selectionStart() const { return selectionStart_; }
  QLabel* selectionEnd() const { return selectionEnd_; }
  QCheckBox* autoStore() const { return autoStore_; }
  QDoubleSpinBox* level() const { return level_; }
  AuditionBar* auditionBar() const { return bar_; }

 private:
  void stripMenu(const QPoint& at);
  void workingMenu(const QPoint& at);
  void drawHandles();
  void handlePressed(QMouseEvent* e);
  ImageCanvas global_, working_, strip_, corrected_, handles_;
  editor::WaveformView view_;
  editor::MpegScanDurationMeter meter_;
  editor::EnvelopeReader envelopes_;
  editor::AuditionDeck* deck_;
  editor::PointerEditor editor_;
  editor::SoundEdits edits_;
  QLabel* editProgress_;  // PtxSoundCut's progress label
  QLabel* title_;
  QLabel* message_;
  QComboBox* endType_;
  QSlider* pitch_;
  QLabel* pitchLabel_;
  QProgressBar* levelLeft_;
  QProgressBar* levelRight_;
  QComboBox* output_;  // the audition's output
  QPushButton* play_;
  QHBoxLayout* caption_;
  PictureLabel* globalLabel_;
  PictureLabel* workingLabel_;
  QLabel* noSongHint_;  // shown on the working view while no song is loaded
  QScrollBar* scroll_;
  QScrollBar* zoom_;
  PictureLabel* stripLabel_;
  PictureLabel* handlesLabel_;
  PictureLabel* correctedLabel_;
  QLabel* mouseTime_;
  QLabel* selectionStart_;
  QLabel* selectionEnd_;
  QCheckBox* autoStore_;
  QDoubleSpinBox* level_;
  QTableWidget* grid_;
  QComboBox* sendDevice_;
  QPushButton* save_;
  AuditionBar* bar_;  // the tape-recorder bar
  std::optional<editor::SelectionHandle> draggedHandle_;  // none: no handle dragged
  bool updating_ = false;  // refresh() sets widgets: their signals are not user actions
};

}  // namespace sono::ui
