// sonoteka-cli import / export on a demo site, with a stand-in converter
// named in the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "convert/convert_driver.h"
#include "convert_test_support.h"
#include "core/files.h"
#include "core/ini.h"
#include "core/text.h"
#include "editor/envelope.h"
#include "cli_site.h"

namespace sono::test {
namespace {

class CliImport : public CliFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDemoSite(home, {"--songs", "4", "--sounds", "1"}));
    std::filesystem::create_directories(dir / "fixtures");
    std::filesystem::create_directories(dir / "in");
    converted = MakeHouseFile(dir, "fixtures/converted.s48", 7200);
    UseConverter(CopyingStandIn(dir, converted));
  }
  void UseConverter(const std::string& path) {
    // The program's name in the registry's folder.
    std::filesystem::remove(dir / "bin/sonoteka-convert");
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::create_symlink(path, dir / "bin/sonoteka-convert");
    Registry(home + "/Settings/Vexa_Library/Registry.ini")
        .Reg_SetValue(convert::kConverterRegistryRoot, convert::kConverterRegistryKey, "Path", dir / "bin/");
  }
  std::string SoundOf(const std::string& code) {
    const std::string out = SongShow(code);
    const size_t at = out.find("Fichier son:");
    return Trim(out.substr(at + 12, out.find('\n', at) - at - 12));
  }
  // The song's duration in seconds as "song show" prints it.
  long long Seconds(const std::string& code) {
    const std::string out = SongShow(code);
    const size_t at = out.find("Durée (s):");
    if (at == std::string::npos) return -1;
    return std::stoll(out.substr(at + 11, out.find('\n', at) - at - 11));
  }
  std::string SongShow(const std::string& code) { return Ok({"song", "show", code}); }

  std::string converted;
};

TEST_F(CliImport, ImportWritesSoundEnvelopeAndDurations) {
  const std::string target = SoundOf("00000002");
  ASSERT_FALSE(target.empty());
  WriteFile(dir / "in/Mon titre; $1 \"final\".flac", "any");
  int status = -1;
  std::string out = Ok({"import", "00000002", dir / "in/Mon titre; $1 \"final\".flac"});
  EXPECT_NE(out.find("Son importé: " + target + " (converti)"), std::string::npos) << out;
  EXPECT_NE(out.find("Durée du son: 7200 ms"), std::string::npos) << out;
  EXPECT_NE(out.find("Enveloppe: 300 valeurs"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(target), ReadFile(converted));
  EXPECT_EQ(ReadFile(editor::GpxPathFor(target)).substr(0, 10), "0000007200");
  EXPECT_EQ(Seconds("00000002"), 7);

  // A house-format file is copied as it is (no converter needed).
  const std::string house = MakeHouseFile(dir, "in/maison.s48", 4300);
  UseConverter(dir / "missing-converter");
  out = Ok({"import", "00000002", house});
  EXPECT_NE(out.find("(copié tel quel)"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(target), ReadFile(house));
  EXPECT_EQ(Seconds("00000002"), 4);
  // ... unless conversion is asked for: without a converter, that fails and
  // the song keeps the sound and durations it has.
  const std::string before = SongShow("00000002");
  out = Run({"import", "00000002", house, "--house", "convert"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(ReadFile(target), ReadFile(house));
  EXPECT_EQ(SongShow("00000002"), before);

  EXPECT_EQ(Exit({"import", "00000002"}), 2);
  EXPECT_EQ(Exit({"import", "123456789", house}), 2);
  EXPECT_EQ(Exit({"import", "ZZZ00000", house}), 1);
}

// --no-udp is the queue's "Send UDP" off: the sound is placed, no
// notification waits; without it one does.
TEST_F(CliImport, NoUdpQueuesNoNotification) {
  Ok({"setup", "set", "UDP", "IP_00", "127.0.0.1"});
  Ok({"setup", "set", "UDP", "PortA_00", "5999"});
  const std::string house = MakeHouseFile(dir, "in/maison.s48", 2400);
  std::string out = Ok({"import", "00000002", house, "--no-udp"});
  EXPECT_NE(out.find("Notification UDP non envoyée (--no-udp)"), std::string::npos) << out;
  EXPECT_EQ(Seconds("00000002"), 2);
  EXPECT_NE(Ok({"notify", "pending"}).find("0 notification(s) en attente"), std::string::npos);
  out = Ok({"import", "00000002", house});
  EXPECT_NE(Ok({"notify", "pending"}).find("1 notification(s) en attente"), std::string::npos);
}

// The effects come from the audio set-up: what `setup set` stored is what
// the next conversion passes; a value the set-up refuses, found in the
// file, is passed as the default the set-up shows.
TEST_F(CliImport, ConversionTakesItsEffectsFromTheAudioSetup) {
  const std::string standIn = CopyingStandIn(dir, converted, "convert-args");
  UseConverter(standIn);
  for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
           {"CheckEffectActif1", "1"}, {"OptionEffetNormalise", "3"}, {"SliderEffetNormalisation1", "-6,5"}}) {
    Ok({"setup", "set", "Convert", key, value});
  }
  EXPECT_EQ(Exit({"setup", "set", "Convert", "SliderEffetNormalisation1", "31"}), 2);
  WriteFile(dir / "in/a.flac", "x");
  Ok({"import", "00000002", dir / "in/a.flac"});
  auto effect = [&] {
    for (const auto& a : StandInArguments(standIn))
      if (a.rfind("-dspeffect1=", 0) == 0) return a;
    return std::string();
  };
  EXPECT_EQ(effect(),
            "-dspeffect1=Volume Normalize= -mode={qt}fixed{qt} -maxamp={qt}98{qt} -desiredb={qt}-16{qt}"
            " -adapt_wnd={qt}6000{qt} -fixed={qt}-6.5{qt}");
  // Written by hand (or by an older program): the trim's threshold the
  // set-up would refuse is read as its default, as the window shows it.
  const std::string ini = home + "/Settings/Vexa_Library/Vexa_Library.Ini";
  ASSERT_TRUE(EcritureIni(ini, "Convert", "CheckEffectActif1", "0"));
  ASSERT_TRUE(EcritureIni(ini, "Convert", "CheckEffectActif0", "1"));
  ASSERT_TRUE(EcritureIni(ini, "Convert", "TexteEffetCutSeuil1", "cent"));
  Ok({"import", "00000002", dir / "in/a.flac"});
  EXPECT_NE(effect().find(" -threshold={qt}100{qt}"), std::string::npos) << effect();
}

// purge-takes: the daily purge of the takes folder, run now; only takes
// more than 45 days old go.
TEST_F(CliImport, PurgeTakesDeletesOnlyOldTakes) {
  const std::string takes = home + "/Library/Sons/";
  std::filesystem::create_directories(takes);
  for (const char* name : {"2020-01-01-10-00-00.s48", "2020-01-01-10-00-00_2.wav", "2099-01-01-10-00-00.s48",
                           "00000001.s48", "2020-01-01-10-00-00.mp2"})
    WriteFile(takes + name, "x");
  const std::string out = Ok({"purge-takes"});
  EXPECT_EQ(out, "Prises de plus de 45 jours supprimées: 2 (" + takes + ")\n");
  auto left = FolderEntries(takes);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"00000001.s48", "2020-01-01-10-00-00.mp2", "2099-01-01-10-00-00.s48"}));
}

TEST_F(CliImport, FailedConversionKeepsSoundAndRecord) {
  const std::string target = SoundOf("00000001");
  int status = -1;
  const std::string house = MakeHouseFile(dir, "in/maison.s48", 3000);
  Ok({"import", "00000001", house});
  const std::string oldSound = ReadFile(target), before = SongShow("00000001");
  ASSERT_EQ(oldSound, ReadFile(house));
  UseConverter(WriteStandIn(dir, "killed", "head -c 30000 '" + converted + "' > \"$out\"; kill -9 $$"));
  WriteFile(dir / "in/a.mp3", "x");
  const std::string out = Run({"import", "00000001", dir / "in/a.mp3"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(ReadFile(target), oldSound);
  EXPECT_EQ(SongShow("00000001"), before);
  for (const auto& name : FolderEntries(ParentFolder(target)))
    EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

// A shorter sound: the pointers past its end go (the song's intro with
// them), those running past are cut, and the command says so.
TEST_F(CliImport, PointersPastTheNewEndAreRemovedOrCut) {
  int status = -1;
  WriteFile(dir / "in/long.flac", "any");
  Ok({"import", "00000002", dir / "in/long.flac"});  // 7200 ms
  std::string out = Ok({"edit", "00000002", "select 6000 7000; menu intro; select 3000 6000; menu hook; store"});
  ASSERT_EQ(Seconds("00000002"), 7);
  ASSERT_NE(SongShow("00000002").find("Intro (s):                 006"), std::string::npos) << SongShow("00000002");

  const std::string house = MakeHouseFile(dir, "in/court.s48", 4000);
  out = Ok({"import", "00000002", house});
  EXPECT_NE(out.find("Pointeur station 1: Intro (6000 ms) effacé: au-delà de la fin du son (4008 ms)"),
            std::string::npos) << out;
  EXPECT_NE(out.find("Pointeur station 1: Hook (3000 ms) raccourci de 3000 ms à 1008 ms"), std::string::npos) << out;
  EXPECT_NE(out.find("Durée du morceau: 4 s, intro 000 s"), std::string::npos) << out;
  EXPECT_NE(SongShow("00000002").find("Intro (s):                 000"), std::string::npos) << SongShow("00000002");
  out = Run({"ptx", "show", "00000002"}, status);
  EXPECT_NE(out.find("Durée d'intro: 0 ms"), std::string::npos) << out;
}

// import --append: the file converted and put after the song's sound, the
// durations and envelope of the whole written; refused without a sound.
TEST_F(CliImport, AppendAddsTheFileAtTheEndOfTheSound) {
  int status = -1;
  const std::string house = MakeHouseFile(dir, "in/debut.s48", 2400);
  Ok({"import", "00000002", house});
  const std::string target = SoundOf("00000002");
  WriteFile(dir / "in/suite.flac", "any");
  std::string out = Ok({"import", "00000002", dir / "in/suite.flac", "--append"});
  EXPECT_NE(out.find("Son complété: " + target + " (" + dir / "in/suite.flac" + " ajouté à la fin)"),
            std::string::npos) << out;
  EXPECT_NE(out.find("Durée du son: 9600 ms"), std::string::npos) << out;
  EXPECT_NE(out.find("Enveloppe: 400 valeurs"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(target), ReadFile(house) + ReadFile(converted));
  EXPECT_EQ(Seconds("00000002"), 10);

  // A converter killed halfway: the sound and the song stay as they were.
  const std::string before = SongShow("00000002"), sound = ReadFile(target);
  UseConverter(WriteStandIn(dir, "killed", "head -c 30000 '" + converted + "' > \"$out\"; kill -9 $$"));
  out = Run({"import", "00000002", dir / "in/suite.flac", "--append"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(ReadFile(target), sound);
  EXPECT_EQ(SongShow("00000002"), before);
  for (const auto& name : FolderEntries(ParentFolder(target))) EXPECT_EQ(name.find(".part"), std::string::npos) << name;

  // No sound to add to.
  const std::string other = SoundOf("00000003");
  std::filesystem::remove(other);
  out = Run({"import", "00000003", dir / "in/suite.flac", "--append"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_FALSE(File_Exist(other));
}

TEST_F(CliImport, BulkFolderAndExport) {
  WriteFile(dir / "bulk/00000002.wav", "x");
  WriteFile(dir / "bulk/00000003.ogg", "x");
  WriteFile(dir / "bulk/pas un code.mp3", "x");
  int status = -1;
  std::string out = Run({"import", "--all", dir / "bulk"}, status);
  EXPECT_EQ(status, 1) << out;  // one file named by no song code
  EXPECT_NE(out.find("Importés: 2, erreurs: 1"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(SoundOf("00000003")), ReadFile(converted));

  std::filesystem::create_directories(dir / "out");
  out = Ok({"export", "00000003", dir / "out", "--format", "mp2", "--name", "titre"});
  const auto files = FolderEntries(dir / "out");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(EclateRepFicExt(files[0]).extension, ".mp2");
  EXPECT_EQ(ReadFile(dir / "out/" + files[0]), ReadFile(converted));
  EXPECT_NE(out.find("Fichier son exporté: " + dir / "out/" + files[0]), std::string::npos) << out;
  EXPECT_EQ(Exit({"export", "00000003", dir / "out", "--format", "flac"}), 2);
}


// save-as: the sound copied by the converter in the extension's format; an
// existing file is kept unless --replace.
TEST_F(CliImport, SaveAsWritesTheCopyAndKeepsAnExistingFile) {
  int status = -1;
  const std::string copy = dir / "copie.ogg";
  Ok({"import", "00000001", MakeHouseFile(dir, "in/maison.s48", 1200)});
  std::string out = Ok({"save-as", "00000001", copy});
  EXPECT_NE(out.find("Fichier '" + copy + "' créé."), std::string::npos) << out;
  EXPECT_EQ(ReadFile(copy), ReadFile(converted));
  WriteFile(copy, "ancien");
  out = Run({"save-as", "00000001", copy}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(ReadFile(copy), "ancien");
  Ok({"save-as", "00000001", copy, "--replace"});
  EXPECT_EQ(ReadFile(copy), ReadFile(converted));
  out = Run({"save-as", "00000001", dir / "copie.wma"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_FALSE(File_Exist(dir / "copie.wma"));
  EXPECT_EQ(Exit({"save-as", "00000001"}), 2);
}


// reconvert: the sound replaced by the converter's output, the pointers
// past its new end removed and the durations written; a work file that
// cannot be removed is said and the command exits 1.
TEST_F(CliImport, ReconvertReplacesTheSoundAndFollowsWithPointersAndDurations) {
  WriteFile(dir / "in/long.flac", "any");
  Ok({"import", "00000002", dir / "in/long.flac"});  // 7200 ms
  Ok({"edit", "00000002", "select 6000 7000; menu intro; store"});
  const std::string target = SoundOf("00000002");
  const std::string shorter = MakeHouseFile(dir, "fixtures/court.s48", 4000);
  UseConverter(CopyingStandIn(dir, shorter, "convert-short"));
  std::string out = Ok({"reconvert", "00000002"});
  EXPECT_NE(out.find("Son reconverti: " + target), std::string::npos) << out;
  EXPECT_NE(out.find("Durée du son: 4008 ms"), std::string::npos) << out;
  EXPECT_NE(out.find("Enveloppe: 167 valeurs"), std::string::npos) << out;
  EXPECT_NE(out.find("Pointeur station 1: Intro (6000 ms) effacé"), std::string::npos) << out;
  EXPECT_NE(out.find("Durée du morceau: 4 s, intro 000 s"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(target), ReadFile(shorter));
  EXPECT_EQ(Seconds("00000002"), 4);

  // The work file "Convert.mp2" cannot be removed: said, the new sound stays.
  UseConverter(CopyingStandIn(dir, converted, "convert-long"));
  const ProcessResult r =
      RunProcess({SONOTEKA_CLI, "reconvert", "00000002", "--home", home}, FaultEnvironment("unlink:1+:fail:EACCES", "Convert.mp2", dir / "counts"));
  EXPECT_TRUE(r.exited(1)) << r.out << r.err;
  const std::string counts = ReadFile(dir / "counts");
  EXPECT_TRUE(counts.find("unlink ") != std::string::npos && counts.find("unlink 0") == std::string::npos) << counts;
  EXPECT_NE(r.err.find("Impossible de supprimer le fichier temporaire: "), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(target), ReadFile(converted));
  EXPECT_EQ(Exit({"reconvert", "ZZZ00000"}), 1);
  EXPECT_EQ(Exit({"reconvert"}), 2);
}

}  // namespace
}  // namespace sono::test

#include "audio/codec/house_format.h"
#include "audio/codec/mpeg_frames.h"

namespace sono::test {
namespace {

// The real converter, end to end: a WAV at 44100 Hz becomes the song's
// house-format sound of the same length within one frame, with its energy
// words; exports to wave and mp3; a text named ".mp3" is refused.
TEST_F(CliImport, RealConverterEndToEnd) {
  UseConverter(SONOTEKA_CONVERT);  // the real one
  const int64_t frames = 44100 * 3 + 123;
  ASSERT_TRUE(WritePcmWav(dir / "in/voix d'été.wav", TestSignal(frames, 44100), 44100));
  int status = -1;
  std::string out = Ok({"import", "00000002", dir / "in/voix d'été.wav"});
  const std::string target = SoundOf("00000002");
  const audio::FrameScan scan = audio::ScanMpegFile(target);
  ASSERT_EQ(scan.status, audio::ScanStatus::Ok);
  EXPECT_EQ(scan.first.layer, 2);
  EXPECT_EQ(scan.first.sampleRate, 48000);
  EXPECT_EQ(scan.first.bitrateKbps, 256);
  EXPECT_EQ(scan.damagedFrames, 0);
  const int64_t sourceMs = frames * 1000 / 44100;
  EXPECT_LE(std::llabs(scan.durationMs - sourceMs), audio::kHouseFrameMs) << scan.durationMs << " vs " << sourceMs;
  const std::string bytes = ReadFile(target);
  const auto levels = audio::ReadEnergyLevels(reinterpret_cast<const uint8_t*>(bytes.data()) + 768 * 40, 768);
  EXPECT_GT(levels.left, 1000);
  EXPECT_GT(levels.right, 1000);
  EXPECT_NE(out.find("Enveloppe: " + std::to_string(scan.frames) + " valeurs"), std::string::npos) << out;

  std::filesystem::create_directories(dir / "out");
  Ok({"edit", "00000002", "select 1000 2000; menu intro; select 1500 2500; menu hook; store"});
  out = Ok({"export", "00000002", dir / "out", "--format", "wave", "--name", "titre"});
  EXPECT_NE(out.find("Marqueurs: intro 1000 ms, start next "), std::string::npos) << out;
  {
    // The broadcast chunks carry the title and the cue points (frames at 48000 Hz).
    const auto files = FolderEntries(dir / "out");
    ASSERT_EQ(files.size(), 1u);
    const std::string wave = ReadFile(dir / "out/" + files[0]);
    EXPECT_NE(wave.find("bext"), std::string::npos);
    ASSERT_NE(wave.find("cart"), std::string::npos);
    EXPECT_NE(wave.find(Trim(EclateRepFicExt(files[0]).name)), std::string::npos);
    const auto timer = [&](const char* usage) -> long long {
      const size_t at = wave.find(usage);
      if (at == std::string::npos) return -1;
      uint32_t v = 0;
      std::memcpy(&v, wave.data() + at + 4, 4);
      return v;
    };
    EXPECT_EQ(timer("INTe"), 48000);
    EXPECT_EQ(timer("HOKs"), 72000);
    EXPECT_GT(timer("SEGe"), 48000 * 2);
    EXPECT_GT(timer("SEGs"), 48000 * 2);

    // That file's markers come back as another song's pointers when asked.
    const std::string wavePath = dir / "out/" + files[0];
    out = Ok({"import", "00000003", wavePath});
    EXPECT_NE(out.find("Marqueurs du fichier non repris: intro 1000 ms, start next "), std::string::npos) << out;
    EXPECT_NE(Ok({"ptx", "show", "00000003"}).find("Durée d'intro: 0 ms"), std::string::npos);
    out = Ok({"import", "00000003", wavePath, "--markers"});
    EXPECT_NE(out.find("Marqueur repris: Intro 1000 ms"), std::string::npos) << out;
    EXPECT_NE(out.find("Marqueur repris: Hook 1500 ms"), std::string::npos) << out;
    EXPECT_EQ(out.find("Marqueur refusé"), std::string::npos) << out;
    out = Run({"ptx", "show", "00000003"}, status);
    EXPECT_NE(out.find("Durée d'intro: 1000 ms"), std::string::npos) << out;
  }
  // save-as to a WAV carries the same cue points.
  out = Ok({"save-as", "00000002", dir / "copie.wav"});
  EXPECT_NE(out.find("Marqueurs: intro 1000 ms"), std::string::npos) << out;
  {
    const std::string wave = ReadFile(dir / "copie.wav");
    const size_t at = wave.find("INTe");
    ASSERT_NE(at, std::string::npos);
    uint32_t v = 0;
    std::memcpy(&v, wave.data() + at + 4, 4);
    EXPECT_EQ(v, 48000u);
  }
  out = Ok({"export", "00000002", dir / "out", "--format", "mp3-128", "--name", "titre"});
  int waves = 0, mp3s = 0;
  for (const auto& f : FolderEntries(dir / "out")) {
    const std::string ext = EclateRepFicExt(f).extension;
    if (ext == ".wave") {
      ++waves;
      SF_INFO info{};
      SNDFILE* s = sf_open((dir / "out/" + f).c_str(), SFM_READ, &info);
      ASSERT_NE(s, nullptr);
      EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
      EXPECT_LE(std::llabs(info.frames * 1000 / info.samplerate - scan.durationMs), audio::kHouseFrameMs);
      sf_close(s);
    } else if (ext == ".mp3") {
      ++mp3s;
      EXPECT_EQ(audio::ScanMpegFile(dir / "out/" + f).first.layer, 3);
    }
  }
  EXPECT_EQ(waves, 1);
  EXPECT_EQ(mp3s, 1);

  // A text named ".mp3": refused, the song keeps its sound.
  const std::string kept = ReadFile(target);
  WriteFile(dir / "in/faux.mp3", "Ceci n'est pas un son.\n");
  out = Run({"import", "00000002", dir / "in/faux.mp3"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(ReadFile(target), kept);
  // So is an empty file; no temporary or error file stays beside the sound.
  WriteFile(dir / "in/vide.wav", "");
  out = Run({"import", "00000002", dir / "in/vide.wav"}, status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_EQ(ReadFile(target), kept);
  for (const auto& name : FolderEntries(ParentFolder(target)))
    EXPECT_TRUE(name.find(".part") == std::string::npos && name.find("_Convert") == std::string::npos) << name;
}

TEST_F(CliImport, FileMarkersFollowTheTrimOfItsLeadingSilence) {
  UseConverter(SONOTEKA_CONVERT);  // the real one
  // 1 s of silence then 4 s of tone, with an intro marker at 3 s and a hook
  // inside the silence, in its cart chunk (our own wave export writes them).
  const std::string raw = dir / "in/raw.wav", cart = dir / "in/cart.wav";
  ASSERT_TRUE(RunProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                          "aevalsrc=exprs='if(gte(t,1),0.25*sin(2*PI*440*t),0)':s=48000:d=5", "-c:a", "pcm_s16le", raw},
                         {}, 60000)
                  .exited(0));
  ASSERT_TRUE(RunProcess({SONOTEKA_CONVERT, "-infile=" + raw, "-outfile=" + cart, "-errorfile=" + dir / "in/err.log",
                          "-convert_to=wave", "-bits=16", "-cue_intro=3000", "-cue_hook=500"},
                         {}, 60000)
                  .exited(0));
  const std::string settings = home + "/Settings/Vexa_Library/Vexa_Library.Ini";
  ASSERT_TRUE(EcritureIni(settings, "Convert", "CheckEffectActif0", "1"));
  ASSERT_TRUE(EcritureIni(settings, "Convert", "CheckEffetCutFin", "0"));
  ASSERT_TRUE(EcritureIni(settings, "Convert", "TexteEffetCutSeuil0", "-60"));
  ASSERT_TRUE(EcritureIni(settings, "Convert", "TexteEffetCutSeuil1", "0"));
  const std::string out = Ok({"import", "00000003", cart, "--markers"});
  EXPECT_NE(out.find("Marqueur du fichier non repris (dans le silence coupé au début): hook 500 ms"),
            std::string::npos) << out;
  EXPECT_EQ(out.find("Marqueur repris: Hook"), std::string::npos) << out;
  const size_t at = out.find("Marqueur repris: Intro ");
  ASSERT_NE(at, std::string::npos) << out;
  const long long intro = std::stoll(out.substr(at + 23));
  EXPECT_LE(std::llabs(intro - 2000), audio::kHouseFrameMs) << out;
  EXPECT_NE(Ok({"ptx", "show", "00000003"}).find("Durée d'intro: " + std::to_string(intro) + " ms"),
            std::string::npos);
}

TEST_F(CliImport, TagsOfTheFileGoToTheSongFormOnEveryStation) {
  UseConverter(SONOTEKA_CONVERT);  // the real one
  // Another song's artist, as the base names it ("A0019 Blue Harbour").
  const std::string other = SongShow("00000002");
  const size_t at = other.find("Artiste 1:");
  const std::string line = Trim(other.substr(at + 10, other.find('\n', at) - at - 10));
  const std::string artistCode = line.substr(0, 5), artistName = Trim(line.substr(5));
  ASSERT_FALSE(artistName.empty()) << other;
  const auto tagged = [&](const std::string& name, const std::string& title, const std::string& artist) {
    const std::string path = dir / ("in/" + name);
    EXPECT_TRUE(RunProcess({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "sine=f=440:d=2", "-metadata",
                            "title=" + title, "-metadata", "artist=" + artist, path},
                           {}, 60000)
                    .exited(0));
    return path;
  };
  int status = -1;
  std::string out = Ok({"import", "00000003", tagged("a.mp3", "Café d'été à Noël", artistName), "--tags"});
  EXPECT_NE(out.find("Titre enregistré: Café d'été à Noël"), std::string::npos) << out;
  EXPECT_NE(out.find("Artiste enregistré: " + artistCode + " (" + artistName + ")"), std::string::npos) << out;
  for (const char* station : {"1", "2"}) {
    const std::string shown = Run({"song", "show", "00000003", "--station", station}, status);
    EXPECT_NE(shown.find("Café d'été à Noël"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Artiste 1:                 " + artistCode), std::string::npos) << shown;
  }
  // A letter Windows-1252 cannot hold, an artist the base does not know:
  // neither is taken, the record stays as it was.
  const std::string before = SongShow("00000003");
  out = Ok({"import", "00000003", tagged("b.ogg", "Łódź", "Inconnu du Fichier"), "--tags"});
  EXPECT_NE(out.find("Titre du fichier non repris: « Łódź »"), std::string::npos) << out;
  EXPECT_NE(out.find("Artiste du fichier non repris: « Inconnu du Fichier »"), std::string::npos) << out;
  EXPECT_EQ(SongShow("00000003").substr(0, before.find("Durée")), before.substr(0, before.find("Durée")));
}

}  // namespace
}  // namespace sono::test
