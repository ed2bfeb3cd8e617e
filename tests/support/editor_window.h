// One editor window over a library, as the editor and sound-edit tests use
// it: the global and working views, the strips (one pixel a millisecond when
// `stripWidth` is the sound's length), the editor and its sound edits.
#pragma once
#include "data/library.h"
#include "data/stats.h"
#include "editor/duration_meter.h"
#include "editor/envelope.h"
#include "editor/pointer_editor.h"
#include "editor/raster_canvas.h"
#include "editor/sound_edits.h"
#include "editor/waveform_view.h"

namespace sono::test {

struct EditorWindow {
  EditorWindow(data::Library& lib, data::DurationStatistics& stats, int stripWidth)
      : strip(stripWidth, 8), corrected(stripWidth, 8), view(global, working, stripWidth), envelopes(lib.log(), meter),
        editor(editor::PointerEditor::Ports{lib, stats, meter, envelopes, view, working, strip, corrected, nullptr}),
        edits(editor, lib, stats) {}
  editor::RasterCanvas global{200, 20};
  editor::RasterCanvas working{300, 30};
  editor::RasterCanvas strip, corrected;
  editor::WaveformView view;
  editor::MpegScanDurationMeter meter;
  editor::EnvelopeReader envelopes;
  editor::PointerEditor editor;
  editor::SoundEdits edits;
};

}  // namespace sono::test
