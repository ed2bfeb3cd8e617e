// The editor panel of the main window: the global and working views, the
// pointer strip, the pointer grid and the store button. It shows the editor
// model's canvases and grid, and turns mouse and menu events into the
// model's calls.
#pragma once
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "editor/duration_meter.h"
#include "editor/envelope.h"
#include "editor/pointer_editor.h"
#include "ui/image_canvas.h"

namespace sono::ui {

// A picture that reports its mouse events.
class PictureLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void(QMouseEvent*)> pressed, moved, released;

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
};

class EditorPanel : public QWidget {
 public:
  static constexpr int kWidth = 1200;
  EditorPanel(data::Library& lib, data::DurationStatistics& stats, TraceLogger& log,
              const SiteConfig& config, QWidget* parent = nullptr);
  // A song row was selected: the editor loads it (false when the user kept
  // the previous sound).
  bool load(const editor::SongSelection& song);
  // Shows what the model holds now.
  void refresh();

  editor::PointerEditor& editor() { return editor_; }
  QTableWidget* pointerGrid() const { return grid_; }
  PictureLabel* strip() const { return stripLabel_; }

 private:
  void stripMenu(const QPoint& at);
  ImageCanvas global_, working_, strip_, corrected_;
  editor::WaveformView view_;
  editor::MpegScanDurationMeter meter_;
  editor::EnvelopeReader envelopes_;
  editor::PointerEditor editor_;
  QLabel* title_;
  PictureLabel* globalLabel_;
  PictureLabel* workingLabel_;
  PictureLabel* stripLabel_;
  QTableWidget* grid_;
  QPushButton* save_;
};

}  // namespace sono::ui
