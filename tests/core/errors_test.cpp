#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/manual_ports.h"
#include "log_lines.h"

namespace sono {

TEST(ErrorNumbers, ObjectErrorsAreReducedToTheirCode) {
  EXPECT_EQ(ReduceErrorNumber(static_cast<int32_t>(0x80040000u + 1005)), 1005);
  EXPECT_EQ(ReduceErrorNumber(static_cast<int32_t>(0x80040000u + 65534)), 65534);
  EXPECT_EQ(ReduceErrorNumber(static_cast<int32_t>(0x80040000u)), static_cast<int32_t>(0x80040000u));
  EXPECT_EQ(ReduceErrorNumber(static_cast<int32_t>(0x80040000u + 65535)),
            static_cast<int32_t>(0x80040000u + 65535));
  EXPECT_EQ(ReduceErrorNumber(53), 53);
}

TEST(ErrorNumbers, TextNamesTheCallerLineAndComponent) {
  EXPECT_EQ(BuildErrorText({53, "Fichier introuvable", "", 12}, "Lib_Data:Ouvrir"),
            "Err: 53 (Fichier introuvable)\n\nSource:Lib_Data:Ouvrir:12");
  EXPECT_EQ(BuildErrorText({53, "Fichier introuvable", "", 12}, "   "),
            "Err: 53 (Fichier introuvable)");
  EXPECT_EQ(BuildErrorText({static_cast<int32_t>(0x80040000u + 7), "Lecture", "amp3dj", 3}, "M:P"),
            "Err: 7 (Lecture)\n\nSource:M:P:3\n(Source: amp3dj)");
}

class ErrorReportTest : public ::testing::Test {
 protected:
  ErrorReportTest() : log(clock), report(log, prompt, clock) { log.setSetupLoaded(true); }
  std::vector<std::string> messages() const { return test::LogMessages(log); }
  ManualClock clock;
  ScriptedPrompt prompt;
  TraceLogger log;
  ErrorReport report;
};

TEST_F(ErrorReportTest, ReportIsLoggedFramedOnOneLine) {
  report.report("Lib_Data:Ouvrir", {53, "Fichier introuvable", "", 12});
  const std::string text = "Err: 53 (Fichier introuvable)  Source:Lib_Data:Ouvrir:12";
  EXPECT_EQ(messages(), (std::vector<std::string>{std::string(text.size(), '='), text,
                                                  std::string(text.size(), '=')}));
  EXPECT_TRUE(prompt.shown.empty());
  EXPECT_TRUE(report.last().any);
  EXPECT_EQ(report.last().number, 53);
  EXPECT_EQ(report.last().caller, "Lib_Data:Ouvrir");
}

TEST_F(ErrorReportTest, AutomationErrorIsAlsoShown) {
  report.report("Frm_Main:Lecture", {kAutomationError, "Objet déconnecté", "", 4});
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].text, "Automation Error !!!\n\nSub: Frm_Main:Lecture");
  EXPECT_EQ(prompt.shown[0].icon, Icon::Critical);
  EXPECT_EQ(messages().back(), "Automation Error |Sub: Frm_Main:Lecture");
}

TEST_F(ErrorReportTest, NothingForErrorZeroOrWhileClosing) {
  report.report("A:B", {0, "rien", "", 1});
  log.setClosing(true);
  report.report("A:B", {5, "pendant la fermeture", "", 1});
  EXPECT_TRUE(log.fileBuffer().empty());
  EXPECT_FALSE(report.last().any);
}

}  // namespace sono
