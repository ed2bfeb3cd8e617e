// An exported WAV carries its song's title, artist and cue points in a BWF
// "bext" chunk and an AES46 "cart" chunk, read here byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <regex>

#include "converter_test_support.h"

namespace sono::test {
namespace {

uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 | static_cast<uint8_t>(b[at + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

// The chunks of a RIFF WAVE file by their id (the body only).
std::map<std::string, std::string> Chunks(const std::string& bytes) {
  std::map<std::string, std::string> out;
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 4), "WAVE");
  EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const uint32_t size = Le32(bytes, at + 4);
    out[bytes.substr(at, 4)] = bytes.substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  EXPECT_EQ(at, bytes.size()) << "chunks do not fill the file";
  return out;
}

// A zero-padded text field.
std::string Field(const std::string& chunk, size_t at, size_t size) {
  const std::string raw = chunk.substr(at, size);
  return raw.substr(0, raw.find('\0'));
}

// The post timers of a cart chunk: usage -> sample frames.
std::map<std::string, uint32_t> PostTimers(const std::string& cart) {
  constexpr size_t kTimers = 4 + 7 * 64 + 10 + 8 + 10 + 8 + 3 * 64 + 4;
  std::map<std::string, uint32_t> out;
  for (int i = 0; i < 8; ++i) {
    const std::string usage = cart.substr(kTimers + i * 8, 4);
    if (usage[0] != '\0') out[usage] = Le32(cart, kTimers + i * 8 + 4);
  }
  return out;
}

ProcessResult ExportWav(const std::string& source, const std::string& target, std::vector<std::string> extra) {
  extra.insert(extra.begin(), {"-convert_to=wave", "-compression=PCM", "-bits=16", "-freq=44100"});
  return RunConverter(source, target, extra);
}

TEST(BroadcastWav, BextAndCartCarryTheSongAndItsCuePoints) {
  TempDir dir;
  const std::string source = dir / "tone.flac";
  ASSERT_TRUE(MakeTone(source, 3000, {"-c:a", "flac"}));
  const std::string target = dir / "song.wav";
  const std::string longTitle = "Café del Mar (version longue de la nuit, remixée pour la radio par Zoë et ses amis)";
  const ProcessResult r = ExportWav(source, target,
                                    {"-title=" + longTitle, "-artist=Zoë", "-cue_intro=1500", "-cue_startnext=2800",
                                     "-cue_fadeout=2600", "-cue_hook=500"});
  ASSERT_TRUE(r.exited(0)) << r.err;
  const std::string bytes = ReadFile(target);
  auto chunks = Chunks(bytes);
  ASSERT_TRUE(chunks.count("bext") && chunks.count("cart") && chunks.count("data") && chunks.count("fmt "));

  const std::string& bext = chunks["bext"];
  ASSERT_GE(bext.size(), 602u);
  EXPECT_EQ(Field(bext, 0, 256), "Zoë - " + longTitle);
  EXPECT_EQ(Field(bext, 256, 32), "Sonoteka");
  EXPECT_TRUE(std::regex_match(Field(bext, 320, 10), std::regex(R"(\d{4}-\d{2}-\d{2})"))) << Field(bext, 320, 10);
  EXPECT_TRUE(std::regex_match(Field(bext, 330, 8), std::regex(R"(\d{2}:\d{2}:\d{2})"))) << Field(bext, 330, 8);
  const auto le16 = [&](size_t at) { return static_cast<uint8_t>(bext[at]) | static_cast<uint8_t>(bext[at + 1]) << 8; };
  EXPECT_EQ(le16(346), 2);                                 // version
  for (size_t at = 412; at < 422; at += 2) EXPECT_EQ(le16(at), 0x7FFF) << at;  // loudness not measured
  EXPECT_NE(bext.find("A=PCM,F=44100"), std::string::npos);

  const std::string& cart = chunks["cart"];
  EXPECT_EQ(cart.substr(0, 4), "0101");
  EXPECT_EQ(Field(cart, 4, 64), longTitle.substr(0, 64));  // cut to the field
  EXPECT_EQ(Field(cart, 68, 64), "Zoë");
  EXPECT_EQ(PostTimers(cart), (std::map<std::string, uint32_t>{
                                  {"INTe", 66150}, {"SEGs", 123480}, {"SEGe", 114660}, {"HOKs", 22050}}));
  ExpectDecodesCleanly(target);
}

TEST(BroadcastWav, CuesFollowATrimmedStartAndPlainExportsStayPlain) {
  TempDir dir;
  const std::string source = dir / "late.wav";
  // 1 s of silence, then 2 s of tone.
  ASSERT_TRUE(RunProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "aevalsrc=exprs='if(gte(t,1),0.25*sin(2*PI*440*t),0)':s=44100:d=3", "-c:a", "pcm_s16le",
                          source})
                  .exited(0));
  const std::string trimmed = dir / "trimmed.wav";
  ASSERT_TRUE(ExportWav(source, trimmed,
                        {"-dspeffect1=Trim Silence= -noend -dbsilence={qt}-60{qt} -threshold={qt}0{qt}",
                         "-cue_intro=1500", "-cue_hook=200"})
                  .exited(0));
  const auto timers = PostTimers(Chunks(ReadFile(trimmed))["cart"]);
  EXPECT_NEAR(timers.at("INTe"), 22050, 50);  // 1500 ms less the second cut away
  EXPECT_EQ(timers.at("HOKs"), 0u);           // inside the cut: the new start

  const std::string plain = dir / "plain.wav";
  ASSERT_TRUE(ExportWav(source, plain, {}).exited(0));
  const auto chunks = Chunks(ReadFile(plain));
  EXPECT_FALSE(chunks.count("bext") || chunks.count("cart"));
}

}  // namespace
}  // namespace sono::test
