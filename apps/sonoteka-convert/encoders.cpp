#include <unistd.h>

#include "audio/codec/house_writer.h"
#include "sound_encoder.h"

namespace sono::convert {

namespace {

// The house format through the library's own writer (libtwolame, energy
// levels on); it keeps its temporary file under TemporaryNameFor's name.
class HouseEncoder final : public SoundEncoder {
 public:
  bool open(const std::string& target, int, int) override { return writer_.open(target); }
  bool write(const float* frames, long count) override {
    return writer_.writeFloat(frames, static_cast<int>(count));
  }
  bool finish() override { return writer_.finish(); }
  void abandon() override { writer_.abandon(); }
  int errorNumber() const override { return writer_.errorNumber(); }

 private:
  audio::HouseWriter writer_;
};

}  // namespace

std::string TemporaryNameFor(const std::string& target) {
  return target + ".part" + std::to_string(::getpid());
}

std::unique_ptr<SoundEncoder> MakeEncoder(const ConverterOptions& options) {
  switch (options.format) {
    case OutputFormat::House: return std::make_unique<HouseEncoder>();
    default: return nullptr;
  }
}

}  // namespace sono::convert
