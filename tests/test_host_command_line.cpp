// The host program's command line: what it hands on to setup and the
// mistakes it rejects.
#include "host/options.h"

#include <gtest/gtest.h>

namespace {

class HostCommandLine : public testing::Test {
  protected:
    bool Parse(const char* pszArgs) { return ParseHostCommandLine(pszArgs, options, error); }
    HostOptions options;
    std::string error;
};

TEST_F(HostCommandLine, NoArgumentsMeanStandaloneAndSetupArgumentsAreHandedOnAsTyped) {
    EXPECT_STREQ(SkipProgramName("\"C:\\a b\\tarnel32.exe\"  setup.exe /S"), "setup.exe /S");
    EXPECT_STREQ(SkipProgramName("tarnel32.exe"), "");
    ASSERT_TRUE(Parse("   "));
    EXPECT_EQ(options.policy, Policy::Interactive);
    EXPECT_TRUE(options.setupProgram.empty());
    EXPECT_EQ(options.timeoutSeconds, 1800u);
    EXPECT_EQ(options.setupPolicy, SetupPolicy::Wait);
    ASSERT_TRUE(
        Parse("--unattended=all --report=C:\\r.txt --transcript=C:\\t.txt --items=C:\\i.txt "
              "--footprint-items=C:\\f.txt --quiet --timeout=30 --setup=answer "
              "\"C:\\My Setup\\setup.exe\" /S  /D=C:\\x --report=no"));
    EXPECT_EQ(options.setupPolicy, SetupPolicy::Answer);
    EXPECT_EQ(options.timeoutSeconds, 30u);
    EXPECT_EQ(options.reportPath, "C:\\r.txt");
    EXPECT_EQ(options.transcriptPath, "C:\\t.txt");
    EXPECT_EQ(options.itemsPath, "C:\\i.txt");
    EXPECT_EQ(options.footprintPath, "C:\\f.txt");
    EXPECT_TRUE(options.fQuiet);
    EXPECT_EQ(options.setupProgram, "C:\\My Setup\\setup.exe");
    EXPECT_EQ(options.setupCommandLine, "\"C:\\My Setup\\setup.exe\" /S  /D=C:\\x --report=no");
}

TEST_F(HostCommandLine, MistakesAreRejectedWithAReason) {
    const char* const apszWrong[] = {"--unattended=most setup.exe",
                                     "--unattended=all",
                                     "--report=C:\\r.txt setup.exe",
                                     "--unattended=all --report= x",
                                     "--colour=red setup.exe",
                                     "--unattended=all \"\" /S",
                                     "--timeout=30 setup.exe",
                                     "--unattended=all --timeout=0 setup.exe",
                                     "--unattended=all --timeout=9999999 setup.exe",
                                     "--unattended=all --timeout=1m setup.exe",
                                     "--quiet setup.exe",
                                     "--footprint-items=C:\\f.txt setup.exe",
                                     "--setup=answer setup.exe",
                                     "--unattended=all --setup=ask setup.exe"};
    for (const char* pszArgs : apszWrong) {
        error.clear();
        EXPECT_FALSE(Parse(pszArgs)) << pszArgs;
        EXPECT_FALSE(error.empty()) << pszArgs;
    }
}

} // namespace
