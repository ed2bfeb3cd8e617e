#include "editor/envelope_draw.h"

#include <deque>

#include "data/ptx.h"
#include "editor/rounding.h"

namespace sono::editor {

float EnergieAffiche(Canvas& canvas, int count, const std::vector<uint8_t>& values, int offset,
                     Colour colour, std::optional<double> levelCorrection, Colour background) {
  const int width = canvas.width();
  const int height = canvas.height();
  const int mid = RoundEvenInt(height / 2.0);
  float pixelsPerValue = count != 0 ? static_cast<float>(width) / static_cast<float>(count) : 0.0f;
  if (pixelsPerValue == 0.0f) pixelsPerValue = 1.0f;
  canvas.clear(background);
  if (count <= 0 || values.size() <= 1) return pixelsPerValue;

  int first = 1;
  int last = RoundEvenInt(static_cast<double>(width) + offset);
  if (last > count) {
    first = std::max(1, RoundEvenInt(static_cast<double>(last) - width));
    last = std::max(last, first);
  }
  // Taller pictures get taller bars: 15 % more per 650 twips of height.
  const int z = height * canvas.twipsPerPixel() / 650 - 1;
  const double k = 1.0 + 0.15 * z;
  double gain = 1.0;
  if (levelCorrection && *levelCorrection != 0) gain = data::EnergieCoefCorrectionLevel(*levelCorrection);

  std::deque<int> recent;
  int sum = 0;
  int c = 0;
  for (int x = first; x <= last; ++x) {
    const long long i = RoundEven(x / static_cast<double>(pixelsPerValue));
    if (i > count || i >= static_cast<long long>(values.size())) break;
    int h = 0;
    if (k > 0) h = static_cast<int>(static_cast<double>(RoundEven(height * values[static_cast<size_t>(i)] / (100.0 / k))) * gain);
    recent.push_back(h);
    sum += h;
    if (recent.size() > 3) {
      sum -= recent.front();
      recent.pop_front();
    }
    const int bar = RoundEvenInt(static_cast<double>(sum) / static_cast<double>(recent.size()));
    ++c;
    canvas.verticalLine(c, mid - bar, mid + bar, colour);
  }
  return pixelsPerValue;
}

GridIntervals GrilleIntervalles(int seconds) {
  if (seconds <= 20) return {5, 1};
  if (seconds <= 60) return {20, 5};
  if (seconds <= 600) return {60, 15};
  return {600, 60};
}

void EnergieAfficheQuadrillage(Canvas& canvas, int count, float pixelsPerValue, int durationMs) {
  if (pixelsPerValue <= 0 || count < 1) return;
  const int seconds = RoundEvenInt(durationMs / 1000.0);
  const GridIntervals g = GrilleIntervalles(seconds);
  const int width = canvas.width();
  const int height = canvas.height();
  const int tickTop = RoundEvenInt(height * 0.04);
  const int tickBottom = RoundEvenInt(height * 0.94);
  for (int i = 1; i <= seconds; ++i) {
    const int x = RoundEvenInt(static_cast<double>(i) / seconds * width) - 1;
    if (i % g.major == 0) {
      canvas.dottedVerticalLine(x, 0, height, kGridColour);
    } else if (i % g.minor == 0) {
      canvas.verticalLine(x, 0, tickTop, kGridColour);
      canvas.verticalLine(x, tickBottom, height, kGridColour);
    }
  }
}

}  // namespace sono::editor
