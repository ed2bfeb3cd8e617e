#include "convert/converter_command.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace sono::convert {
namespace {

ConversionRequest Request(int code) {
  ConversionRequest r;
  r.source = "/in/a b.mp3";
  r.target = "/out/0001234.s48";
  r.formatCode = code;
  return r;
}

TEST(ConverterCommand, CodecArgumentsByFormatCode) {
  ConversionRequest mp2 = Request(1);
  mp2.channels = "0";  // 0 is passed as 2
  EXPECT_EQ(CodecArguments(mp2),
            (std::vector<std::string>{"-convert_to=mp2", "-s=48000", "-b=256", "-c=2", "--managed"}));
  ConversionRequest mp3 = Request(2);
  mp3.frequency = "44100";
  mp3.bitRate = "128";
  EXPECT_EQ(CodecArguments(mp3), (std::vector<std::string>{"-convert_to=mp3 (Lame)", "-s=44100", "-b=128",
                                                           "-c=2", "--managed"}));
  EXPECT_EQ(CodecArguments(Request(3)), (std::vector<std::string>{"-convert_to=wave", "-compression=PCM",
                                                                  "-bits=16", "-freq=48000", "--managed"}));
  ConversionRequest aiff = Request(4);
  aiff.bits = "24";
  aiff.channels = "1";
  EXPECT_EQ(CodecArguments(aiff), (std::vector<std::string>{"-convert_to=Aiff", "-bits=24", "-freq=48000",
                                                            "-channels=1", "--managed"}));
  ConversionRequest ogg = Request(5);
  ogg.bitRate = "128";
  EXPECT_EQ(CodecArguments(ogg), (std::vector<std::string>{"-convert_to=Ogg Vorbis", "-q=0.4", "--managed"}));
  ogg.bitRate = "48";
  EXPECT_EQ(CodecArguments(ogg)[1], "-q=-0.1");
  ogg.bitRate = "320";  // not in the quality table
  EXPECT_EQ(CodecArguments(ogg)[1], "-b=320");
  // Mass normalisation passes 0: no codec, no "--managed".
  for (int code : {0, 6, -1}) EXPECT_TRUE(CodecArguments(Request(code)).empty()) << code;
}

TEST(ConverterCommand, EffectsAreNumberedInOrderWithTheirOptions) {
  EffectSettings e;
  EXPECT_TRUE(EffectArguments(e).empty());
  e.normaliseOn = true;
  e.mode = NormaliseMode::Adapt;
  e.maxAmp = "95";
  e.desiredDb = "-14";
  e.fixedGain = "3";
  // Alone, normalisation is effect 1.
  EXPECT_EQ(EffectArguments(e), (std::vector<std::string>{
                                    "-dspeffect1=Volume Normalize= -mode={qt}adapt{qt} -maxamp={qt}95{qt}"
                                    " -desiredb={qt}-14{qt} -adapt_wnd={qt}6000{qt} -fixed={qt}3{qt}"}));
  e.trimOn = true;
  e.cutStart = false;
  e.cutEnd = false;
  e.digitalSilence = true;
  e.silenceLevel = "-60";
  e.threshold = "250";
  const auto both = EffectArguments(e);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0], "-dspeffect1=Trim Silence= -nobegin -noend -digsilence -dbsilence={qt}-60{qt}"
                     " -threshold={qt}250{qt}");
  EXPECT_EQ(both[1].rfind("-dspeffect2=Volume Normalize= -mode={qt}adapt{qt}", 0), 0u);
  e.cutStart = e.cutEnd = true;
  e.digitalSilence = false;
  EXPECT_EQ(EffectArguments(e)[0], "-dspeffect1=Trim Silence= -dbsilence={qt}-60{qt} -threshold={qt}250{qt}");
}

TEST(ConverterCommand, FullVectorAndErrorFile) {
  EXPECT_EQ(ErrorFileFor("/s/0001234.s48"), "/s/0001234_Err_Convert.Log");
  EXPECT_EQ(ErrorFileFor("/s/0001234.s48.part77"), "/s/0001234.s48_Err_Convert.Log");
  const auto argv = ConverterArguments("/bin/conv", Request(0), "/out/e.Log", {});
  EXPECT_EQ(argv, (std::vector<std::string>{"/bin/conv", "-infile=/in/a b.mp3", "-outfile=/out/0001234.s48",
                                            "-errorfile=/out/e.Log"}));
  EXPECT_EQ(JoinForLog({"-a", "b c", "d\"e"}), "-a \"b c\" \"d\"e\"");
}

// A wave export carries the song's title, artist and cue points; other
// formats and an empty set carry nothing.
TEST(ConverterCommand, TagsGoToWaveOutputsOnly) {
  ConversionRequest r = HouseFormatRequest("/s/a.s48", "/o/a.wave");
  r.formatCode = static_cast<int>(FormatCode::Wave);
  EXPECT_TRUE(TagArguments(r).empty());
  r.tags.title = "L'été; \"$1\"";
  r.tags.intro = 0;  // a cue at the very start is one
  r.tags.fadeOut = 183904;
  EXPECT_EQ(TagArguments(r), (std::vector<std::string>{"-title=L'été; \"$1\"", "-cue_intro=0", "-cue_fadeout=183904"}));
  r.tags.artist = "Zaz";
  r.tags.startNext = 180000;
  r.tags.hook = 61000;
  const auto argv = ConverterArguments("conv", r, "/o/a_Err_Convert.Log", {});
  const std::vector<std::string> tail(argv.end() - 6, argv.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"-title=L'été; \"$1\"", "-artist=Zaz", "-cue_intro=0",
                                            "-cue_startnext=180000", "-cue_fadeout=183904", "-cue_hook=61000"}));
  r.formatCode = static_cast<int>(FormatCode::Mp3);
  EXPECT_TRUE(TagArguments(r).empty());
}

TEST(ConverterCommand, EffectSettingsFromTheSettingsFile) {
  test::TempDir dir;
  const std::string ini = dir / "Vexa_Library.Ini";
  EXPECT_FALSE(LoadEffectSettings(ini).trimOn);
  test::WriteFile(ini,
                  "[Convert]\nCheckEffectActif0=1\nCheckEffetCutDebut=0\nTexteEffetCutSeuil0=-55\n"
                  "CheckEffectActif1=1\nOptionEffetNormalise=3\nOptionEffetNormalise_=x\n"
                  "SliderEffetNormalisation1=  \n");
  const EffectSettings s = LoadEffectSettings(ini);
  EXPECT_TRUE(s.trimOn);
  EXPECT_FALSE(s.cutStart);
  EXPECT_TRUE(s.cutEnd);
  EXPECT_EQ(s.silenceLevel, "-55");
  EXPECT_TRUE(s.normaliseOn);
  EXPECT_EQ(s.mode, NormaliseMode::Fixed);
  EXPECT_EQ(s.fixedGain, "0");  // a blank value keeps the default
  test::WriteFile(ini, "[Convert]\nOptionEffetNormalise=9\n");
  EXPECT_EQ(LoadEffectSettings(ini).mode, NormaliseMode::Peak);
  // Loudness mode: the station's target and ceiling, less the encoding's room.
  test::WriteFile(ini,
                  "[Convert]\nCheckEffectActif1=1\nOptionEffetNormalise=4\nSliderEffetNormalisation0=-16\n"
                  "[Normalisation]\nCibleLUFS=-18\nPlafondCreteVraie=-2\n");
  const EffectSettings loud = LoadEffectSettings(ini);
  EXPECT_EQ(loud.mode, NormaliseMode::Loudness);
  EXPECT_EQ(loud.desiredDb, "-18.0");
  EXPECT_EQ(loud.maxAmp, "-2.3");
  EXPECT_EQ(EffectArguments(loud)[0].rfind("-dspeffect1=Volume Normalize= -mode={qt}lufs{qt} -maxamp={qt}-2.3{qt}"
                                           " -desiredb={qt}-18.0{qt}", 0), 0u) << EffectArguments(loud)[0];
}

}  // namespace
}  // namespace sono::convert
