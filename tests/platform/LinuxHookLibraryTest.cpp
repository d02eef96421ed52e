#include "platform/linux/uLinuxHookLibrary.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

TEST(LinuxHookLibrary, LoadsByPathAndPassesTheCompanionToSetHooks) {
    const std::string log = (std::filesystem::temp_directory_path() / "qm-sethooks-test.log").string();
    std::filesystem::remove(log);
    ::setenv("QM_STUB_SETHOOKS_LOG", log.c_str(), 1);
    ::setenv("QM_STUB_SETHOOKS_RESULT", "256", 1); // a true int whose low byte is 0

    TLinuxHookLibrary library;
    EXPECT_EQ(library.CallSetHooks("/x"), std::nullopt); // nothing loaded yet
    ASSERT_TRUE(library.Load(QM_STUB_HOOKLIB)) << library.LastError();
    EXPECT_EQ(library.CallSetHooks("/opt/qm/vardeld"), 256u);
    std::ifstream in(log);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "/opt/qm/vardeld");
    ::unsetenv("QM_STUB_SETHOOKS_LOG");
    ::unsetenv("QM_STUB_SETHOOKS_RESULT");
    std::filesystem::remove(log);

    TLinuxHookLibrary missing;
    EXPECT_FALSE(missing.Load("/nonexistent/libVardelHk.so"));
    EXPECT_FALSE(missing.LastError().empty());
    // A library without the export: loading works, the call does not.
    TLinuxHookLibrary noExport;
    ASSERT_TRUE(noExport.Load("libm.so.6"));
    EXPECT_EQ(noExport.CallSetHooks("/x"), std::nullopt);
}
