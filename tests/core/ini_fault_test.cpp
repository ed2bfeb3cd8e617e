// INI writes under the I/O fault injector, preloaded into this test program by
// its CTest ENVIRONMENT: a read that fails while a key is written must leave
// the file whole, never replace it by that one key.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include "core/ini.h"
#include "test_support.h"

namespace sono {
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

namespace {
using ConfigureFn = void (*)(const char*, const char*);
using CountFn = long (*)(const char*);

struct Injector {
  ConfigureFn configure = reinterpret_cast<ConfigureFn>(dlsym(RTLD_DEFAULT, "sono_fault_configure"));
  CountFn count = reinterpret_cast<CountFn>(dlsym(RTLD_DEFAULT, "sono_fault_count"));
  bool loaded() const { return configure && count; }
  ~Injector() {
    if (configure) configure(nullptr, nullptr);
  }
};

const std::string kSite =
    "[Site]\nLib=Radio D\xE9mo\nNbBase=2\nDossier_Config_Global=C:\\Cfg\\\n"
    "[Base_01]\nLib=Nord\n[Base_02]\nLib=Sud\n";
}  // namespace

TEST(IniFaults, AFailedReadRefusesTheWriteAtEveryRead) {
  Injector fault;
  ASSERT_TRUE(fault.loaded()) << "run through CTest: the fault injector must be preloaded";
  TempDir dir;
  const std::string f = dir / "Vexa_Config.ini";
  WriteFile(f, kSite);
  // Count the reads of a clean write first.
  fault.configure("", "Vexa_Config.ini");
  ASSERT_TRUE(EcritureIni(f, "Site", "NoBase", "2"));
  const long reads = fault.count("read");
  ASSERT_GE(reads, 2);  // the data, then the end of the file
  WriteFile(f, kSite);

  for (long n = 1; n <= reads; ++n) {
    for (const char* err : {"EIO", "EACCES"}) {
      const std::string rule = "read:" + std::to_string(n) + ":fail:" + err;
      fault.configure(rule.c_str(), "Vexa_Config.ini");
      EXPECT_FALSE(EcritureIni(f, "Site", "NoBase", "2")) << rule;
      EXPECT_EQ(fault.count("read"), n) << rule;  // the fault was hit
      EXPECT_EQ(ReadFile(f), kSite) << rule;
      EXPECT_EQ(test::FolderEntries(dir.path()).size(), 1u) << rule;
    }
  }
  // A file that exists but cannot be opened is refused the same way.
  fault.configure("open:1:fail:EIO", "Vexa_Config.ini");
  EXPECT_FALSE(EcritureIni(f, "Site", "NoBase", "2"));
  EXPECT_EQ(fault.count("open"), 1);
  EXPECT_EQ(ReadFile(f), kSite);
}

TEST(IniFaults, ShortReadsStillGiveTheWholeFile) {
  Injector fault;
  ASSERT_TRUE(fault.loaded()) << "run through CTest: the fault injector must be preloaded";
  TempDir dir;
  const std::string f = dir / "Vexa_Config.ini";
  // Larger than the halved read buffer, so the file comes in several reads.
  std::string big = kSite + "[Stations]\n";
  for (int i = 0; i < 4000; ++i) big += "Station_" + std::to_string(i) + "=Radio D\xE9mo\n";
  WriteFile(f, big);
  fault.configure("read:1+:short", "Vexa_Config.ini");
  ASSERT_TRUE(EcritureIni(f, "Site", "NoBase", "2"));
  EXPECT_GE(fault.count("read"), 3);
  const size_t base = big.find("[Base_01]");
  EXPECT_EQ(ReadFile(f), big.substr(0, base) + "NoBase=2\n" + big.substr(base));
}

}  // namespace sono
