// Drawing a level envelope as vertical bars, and the time grid over it.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "editor/canvas.h"

namespace sono::editor {

// The whole envelope (values 1..count of `values`, index 0 unused) across the
// canvas, each bar the running mean of the last three columns; `offset` shifts
// the columns drawn. `levelCorrection` (dB), when given and not 0, scales the
// bars by EnergieCoefCorrectionLevel. Returns the scale used, pixels per value.
float EnergieAffiche(Canvas& canvas, int count, const std::vector<uint8_t>& values, int offset,
                     Colour colour, std::optional<double> levelCorrection = std::nullopt,
                     Colour background = kWhite);

struct GridIntervals {
  int major = 0;  // seconds between dotted full-height lines
  int minor = 0;  // seconds between short ticks
};
// The intervals for a sound of `seconds` (rounded) seconds.
GridIntervals GrilleIntervalles(int seconds);

// The time grid of a sound of `durationMs` across the canvas: nothing when
// the scale is not positive or there are no values.
void EnergieAfficheQuadrillage(Canvas& canvas, int count, float pixelsPerValue, int durationMs);

}  // namespace sono::editor
