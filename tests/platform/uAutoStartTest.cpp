#include "core/uAutoStart.h"
#include "platform/linux/uLinuxAutoStart.h"

#include "fakes/FakeShellPorts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

TEST(AutoStartSetting, FirstSetWritesThisCopysCommandAndReadsBackSet) {
    TFakeAutoStart store;
    TAutoStartSetting setting(store, "/opt/qm vardel/QmVardel");
    EXPECT_FALSE(setting.IsAutoStartSet());
    setting.SetAutoStart(true);
    EXPECT_EQ(store.Entries.at("QmVardel"), "\"/opt/qm vardel/QmVardel\" tray");
    EXPECT_TRUE(setting.IsAutoStartSet());
    setting.SetAutoStart(false);
    EXPECT_FALSE(setting.IsAutoStartSet());
    EXPECT_EQ(store.Entries.count("QmVardel"), 0u);
}

TEST(AutoStartSetting, RefusedStoreShowsAdministratorMessageAndChangesNothing) {
    for (bool failAtOpen : {true, false}) {
        TFakeAutoStart store;
        store.Entries["QmVardel"] = "\"/other/QmVardel\" tray";
        store.Changeable = !failAtOpen;
        store.WritesFail = !failAtOpen;
        TAutoStartSetting setting(store, "/opt/QmVardel");
        std::vector<std::string> shown;
        setting.OnNotAllowed = [&](const std::string& m) {
            shown.push_back(m);
        };
        setting.SetAutoStart(true);
        EXPECT_EQ(shown, std::vector<std::string>{kAutoStartNotAllowed});
        EXPECT_EQ(store.Entries.at("QmVardel"), "\"/other/QmVardel\" tray");
        EXPECT_EQ(store.Writes, failAtOpen ? 0 : 1);
    }
}

TEST(LinuxAutoStart, UsesFirstAbsoluteConfigDirAndDefault) {
    EXPECT_EQ(TLinuxAutoStart("/a/b/:/c").AutoStartDir(), "/a/b/autostart");
    EXPECT_EQ(TLinuxAutoStart("").AutoStartDir(), "/etc/xdg/autostart");
    EXPECT_EQ(TLinuxAutoStart("relative:/c").AutoStartDir(), "/etc/xdg/autostart");
}

TEST(LinuxAutoStart, WritesDesktopEntryAndRecognisesOnlyThisCopy) {
    TTempDir dir;
    TLinuxAutoStart store((dir / "xdg") + ":/etc/xdg");
    TAutoStartSetting setting(store, "/opt/Qm \"Vardel\"/QmVardel");
    EXPECT_FALSE(setting.IsAutoStartSet());
    setting.SetAutoStart(true);
    const std::string entry = dir / "xdg/autostart/QmVardel.desktop";
    const std::string text = ReadWholeFile(entry);
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/Qm \\\\\"Vardel\\\\\"/QmVardel\" tray\n"), std::string::npos) << text;
    EXPECT_TRUE(setting.IsAutoStartSet());

    // An entry written by another copy of the program is not this copy's autostart; setting the
    // option rewrites it with this copy's command.
    TAutoStartSetting other(store, "/usr/local/QmVardel");
    EXPECT_FALSE(other.IsAutoStartSet());
    other.SetAutoStart(true);
    EXPECT_TRUE(other.IsAutoStartSet());
    EXPECT_FALSE(setting.IsAutoStartSet());
    // Letter case counts on Linux: another spelling is another program.
    TAutoStartSetting upper(store, "/USR/LOCAL/QmVardel");
    EXPECT_FALSE(upper.IsAutoStartSet());

    other.SetAutoStart(false);
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(other.IsAutoStartSet());
}

TEST(LinuxAutoStart, HiddenEntryAndForeignGroupsDoNotCount) {
    TTempDir dir;
    TLinuxAutoStart store(dir.Path());
    fs::create_directories(dir / "autostart");
    std::ofstream(dir / "autostart/QmVardel.desktop")
        << "[Other]\nExec=nothing\n[Desktop Entry]\nExec=\"/opt/QmVardel\" tray\nHidden=true\n";
    EXPECT_FALSE(store.ReadCommand("QmVardel"));
    std::ofstream(dir / "autostart/QmVardel.desktop")
        << "[Other]\nExec=x\n[Desktop Entry]\n Exec = \"/opt/QmVardel\" tray\n";
    EXPECT_EQ(store.ReadCommand("QmVardel"), "\"/opt/QmVardel\" tray");
}

TEST(LinuxAutoStart, FolderThatCannotBeWrittenRefusesAndReportsAdministrator) {
    TTempDir dir;
    // A file where the configuration folder should be: no user, root included, can create it.
    std::ofstream(dir / "xdg") << "not a folder";
    TLinuxAutoStart store(dir / "xdg");
    TAutoStartSetting setting(store, "/opt/QmVardel");
    int shown = 0;
    setting.OnNotAllowed = [&](const std::string&) {
        ++shown;
    };
    setting.SetAutoStart(true);
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(setting.IsAutoStartSet());
}

TEST(LinuxAutoStart, ReadOnlyFolderRefusesForOrdinaryUser) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TTempDir dir;
    fs::create_directories(dir / "autostart");
    fs::permissions(dir / "autostart", fs::perms::owner_read | fs::perms::owner_exec);
    TLinuxAutoStart store(dir.Path());
    EXPECT_FALSE(store.CanChange());
}

TEST(LinuxAutoStart, ValueEscapesRoundTrip) {
    for (const std::string v : {"plain", " lead", "a\\b", "tab\there", "nl\nx", "\\s"})
        EXPECT_EQ(TLinuxAutoStart::UnescapeValue(TLinuxAutoStart::EscapeValue(v)), v) << v;
}

} // namespace
