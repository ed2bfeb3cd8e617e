#include "audio/engine/virtual_device.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numbers>

#include "audio/codec/wav_writer.h"

namespace sono::audio {

VirtualDevice::VirtualDevice(int outputPairs, int rate)
    : rate_(rate), buffers_(outputPairs), recordings_(outputPairs), pairs_(outputPairs) {
  mixer_ = std::make_unique<Mixer>(outputPairs, rate);
  for (int k = 0; k < outputPairs; ++k) {
    buffers_[k].resize(kRenderBlock * 2);
    pairs_[k] = buffers_[k].data();
  }
}

bool VirtualDevice::start(std::string& error, bool& busy) {
  busy = refusal_ == -EBUSY;
  if (refusal_ != 0) {
    error = std::strerror(-refusal_);
    return false;
  }
  failure_.store(0);
  return running_ = true;
}

void VirtualDevice::renderFrames(int64_t frames) {
  // A failed card takes nothing: the sound stays where it was.
  if (failure_.load() != 0) return;
  while (frames > 0) {
    const int n = static_cast<int>(std::min<int64_t>(frames, kRenderBlock));
    if (feeder_) feeder_();
    mixer_->render(pairs_.data(), n);
    if (file_.isOpen()) file_.write(pairs_[static_cast<size_t>(filePair_)], static_cast<size_t>(n));
    if (recording_)
      for (size_t k = 0; k < buffers_.size(); ++k)
        recordings_[k].insert(recordings_[k].end(), buffers_[k].begin(),
                              buffers_[k].begin() + n * 2);
    rendered_ += n;
    frames -= n;
  }
}

void VirtualDevice::renderMs(int64_t ms) {
  // Exact at 48 kHz; other rates carry the rounding to the next call.
  const int64_t total = ms * rate_ + msRemainder_;
  renderFrames(total / 1000);
  msRemainder_ = total % 1000;
  if (clock_) clock_->advance(ms);
}

bool VirtualDevice::recordToFile(int pair, const std::string& path, std::string* error) {
  filePair_ = std::clamp(pair, 0, static_cast<int>(pairs_.size()) - 1);
  if (file_.open(path, rate_)) return true;
  if (error) *error = file_.error();
  return false;
}

bool VirtualDevice::finishFile(std::string* error) {
  if (file_.finish()) return true;
  if (error) *error = file_.error();
  return false;
}

void VirtualDevice::clearRecordings() {
  for (auto& r : recordings_) r.clear();
}

bool VirtualDevice::writeWav(int pair, const std::string& path, std::string* error) const {
  const auto& r = recordings_[pair];
  return WriteWavAtomic(path, r.data(), r.size() / 2, rate_, error);
}

void VirtualDevice::setCaptureSine(double hz, double levelDb) {
  captureFile_.reset();
  sineHz_ = hz;
  sineGain_ = std::pow(10.0, levelDb / 20.0);
  capturePos_ = 0;
}

bool VirtualDevice::setCaptureFile(const std::string& path) {
  OpenedSound s = OpenSound(path);
  if (!s.reader) return false;
  captureFile_ = std::move(s.reader);
  capturePos_ = 0;
  return true;
}

void VirtualDevice::capture(float* stereo, long frames) {
  if (captureFile_) {
    const long got = std::max(0L, captureFile_->readStereo(stereo, frames));
    std::fill(stereo + got * 2, stereo + frames * 2, 0.0f);
    return;
  }
  for (long i = 0; i < frames; ++i) {
    const double t = static_cast<double>(capturePos_ + i) / rate_;
    const float v = static_cast<float>(sineGain_ * std::sin(2 * std::numbers::pi * sineHz_ * t));
    stereo[2 * i] = stereo[2 * i + 1] = v;
  }
  capturePos_ += frames;
}

std::vector<ProvidedBoard> VirtualDeviceProvider::boards() {
  ProvidedBoard b;
  auto device = std::make_unique<VirtualDevice>(outputPairs_);
  b.desc.model = "VIRTUAL";
  b.desc.outputs = outputPairs_ * 2;
  b.desc.inputs = inputPairs_ * 2;
  for (int k = 0; k < outputPairs_; ++k) b.desc.outputPairs.emplace_back(device.get(), k);
  b.devices.push_back(std::move(device));
  std::vector<ProvidedBoard> boards;
  boards.push_back(std::move(b));
  return boards;
}

}  // namespace sono::audio
