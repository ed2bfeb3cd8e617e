#include "audio/engine/virtual_capture.h"

#include <algorithm>

namespace sono::audio {

namespace {
constexpr int kRate = 48000;
constexpr long kFileBlock = 4096;
}  // namespace

std::unique_ptr<VirtualCapture> VirtualCapture::FromFile(const std::string& path) {
  auto c = std::unique_ptr<VirtualCapture>(new VirtualCapture);
  c->path_ = path;
  c->name_ = "virtual:" + path;
  return c;
}

std::unique_ptr<VirtualCapture> VirtualCapture::FromGenerator(Generator generator) {
  auto c = std::unique_ptr<VirtualCapture>(new VirtualCapture);
  c->generator_ = std::move(generator);
  c->name_ = "virtual:generator";
  return c;
}

bool VirtualCapture::open(std::string& error) {
  position_ = 0;
  fileEnded_ = false;
  converted_.clear();
  convertedPos_ = 0;
  if (!path_.empty()) {
    OpenedSound s = OpenSound(path_);
    if (!s.reader) {
      error = "entrée virtuelle illisible: " + path_;
      return false;
    }
    reader_ = std::move(s.reader);
    fileRate_ = reader_->format().sampleRate;
    resampler_.reset(fileRate_ != kRate ? new Resampler(fileRate_, kRate) : nullptr);
  }
  if (clock_) openTick_ = clock_->tickMs();
  return true;
}

// Frames of the file at 48000 Hz; fewer than asked once it has ended.
long VirtualCapture::readFile(float* stereo, long frames) {
  long done = 0;
  while (done < frames) {
    const size_t ready = (converted_.size() - convertedPos_) / 2;
    if (ready > 0) {
      const long n = std::min<long>(frames - done, static_cast<long>(ready));
      std::copy_n(converted_.data() + convertedPos_, n * 2, stereo + done * 2);
      convertedPos_ += static_cast<size_t>(n) * 2;
      done += n;
      continue;
    }
    if (fileEnded_) break;
    in_.resize(kFileBlock * 2);
    const long got = std::max(0L, reader_->readStereo(in_.data(), kFileBlock));
    fileEnded_ = got == 0;
    convertedPos_ = 0;
    if (resampler_) {
      resampler_->process(in_.data(), got, converted_, fileEnded_);
    } else {
      converted_.assign(in_.begin(), in_.begin() + got * 2);
    }
  }
  return done;
}

long VirtualCapture::read(float* stereo, long frames) {
  if (lengthFrames_ > 0) frames = static_cast<long>(std::min<int64_t>(frames, lengthFrames_ - position_));
  if (frames <= 0) return 0;
  if (clock_) {
    // Not before the moment the last of these frames would have been heard.
    const uint64_t due = openTick_ + static_cast<uint64_t>(static_cast<double>(position_ + frames) * 1000 / (kRate * speed_));
    while (clock_->tickMs() < due) clock_->sleepMs(static_cast<int>(due - clock_->tickMs()));
  }
  long got = frames;
  if (reader_) {
    got = readFile(stereo, frames);
    if (got < frames && endAtFileEnd_) {
      if (got == 0) return 0;
    } else {
      std::fill(stereo + got * 2, stereo + frames * 2, 0.0f);
      got = frames;
    }
  } else if (generator_) {
    generator_(stereo, frames, position_);
  } else {
    std::fill(stereo, stereo + frames * 2, 0.0f);
  }
  position_ += got;
  return got;
}

}  // namespace sono::audio
