// Loudness normalisation of a house-format sound without re-encoding: the
// gain to the station's target (held under the true-peak ceiling) is split
// into whole scale-factor steps of 2.007 dB, written into the sound's frames
// (`ApplyScaleFactorGain`), and the remainder under one step, which becomes
// the song's Level correction on every station (in hundredths of a dB, in
// one transaction). The sound itself loses nothing: its decoded samples are
// the old ones times the gain within one 16-bit step, and the stored sound
// plus its Level correction lands on the target.
//
// The new sound is written beside the old one, synced, and renamed over it:
// a kill leaves the old or the new sound, whole. When the frames cannot take
// the gain (a boost past full scale, a damaged stream) nothing is written and
// the caller re-encodes through the converter instead.
#pragma once
#include <string>

#include "convert/mass_normalisation.h"

namespace sono::convert {

enum class ScaleFactorOutcome {
  Done,       // the sound and the Level correction are stored
  Unsuited,   // not for this path (not measured, frames refused): re-encode
  Failed,     // a write failed: said in `out.message`, the sound as it was
};

// `measured`: the sound's measurements (integrated loudness and true peak).
ScaleFactorOutcome NormaliseByScaleFactors(MassNormalisationPorts& p, const std::string& code,
                                           const editor::LevelMeasurements& measured, NormalisedSound& out);

}  // namespace sono::convert
