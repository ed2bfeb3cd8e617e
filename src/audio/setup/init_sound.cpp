#include "audio/setup/init_sound.h"

#include <vector>

#include "audio/codec/house_writer.h"
#include "core/files.h"

namespace sono::audio {

std::string InitSoundFile(const std::string& programFolder) {
  std::string folder = programFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + kInitSoundName + ".s48";
}

InitSoundState EnsureInitSound(const std::string& file, std::string* error) {
  if (File_Exist(file)) return InitSoundState::Found;
  constexpr int kFrames = kInitSoundMs * 48;
  const std::vector<int16_t> silence(static_cast<size_t>(kFrames) * 2, 0);
  HouseWriter writer;
  if (writer.open(file) && writer.write(silence.data(), kFrames) && writer.finish()) return InitSoundState::Created;
  if (error) *error = writer.error();
  writer.abandon();
  return InitSoundState::Missing;
}

}  // namespace sono::audio
