#include "core/libQmVardel.h"
#include "fakes/FakePorts.h"
#include "util/uQmError.h"

#include <gtest/gtest.h>

namespace {

struct Context {
    TFakeProgramImage Image;
    TFakeFileSystem Fs;
    TFakeMutexFactory Mutexes;
    TQmAppPorts Ports() { return {Image, Fs, Mutexes}; }
};

const std::string kIni = "/opt/qmvardel/QmVardel.ini";

TEST(VardelApp, FirstRunFlagIsReadAndClearedAtCreation) {
    struct Row {
        const char* file; // nullptr: no settings file
        bool firstRun;
    } rows[] = {{nullptr, true},
                {"[main]\nfirst_run_flg=0\n", false},
                {"[main]\nfirst_run_flg=5\n", true},
                {"[Main]\nFIRST_RUN_FLG=1\n", true}};
    for (const Row& r : rows) {
        Context c;
        if (r.file)
            c.Fs.Put(kIni, r.file);
        {
            TVardelApp app(c.Ports());
            EXPECT_EQ(app.FirstRun, r.firstRun) << (r.file ? r.file : "(none)");
            EXPECT_EQ(app.Ini->ReadInt("first_run_flg", 7, "main"), 0);
        }
        TVardelApp second(c.Ports());
        EXPECT_FALSE(second.FirstRun);
        EXPECT_EQ(c.Mutexes.Created, (std::vector<std::string>{"QmVardel", "QmVardel"}));
    }
}

TEST(VardelApp, DerivesItsFoldersFromTheExecutable) {
    Context c;
    c.Image.Path = "/srv/Prog/QmVardel";
    TVardelApp app(c.Ports());
    EXPECT_EQ(app.AppDir, "/srv/Prog/");
    EXPECT_EQ(app.DBDir, "/srv/Prog/DB/");
    EXPECT_EQ(app.IniFile, "/srv/Prog/QmVardel.ini");
    EXPECT_EQ(app.QuarantineDir(), "/srv/Prog/back/");
    EXPECT_EQ(app.AppVersion, "1.0.0.28");
    EXPECT_EQ(app.RegPath, "\\SOFTWARE\\Tarnwick\\QmVardel");
    EXPECT_EQ(app.RegFormsPath, "\\SOFTWARE\\Tarnwick\\QmVardel\\Forms\\");

    app.IniFile = "/elsewhere.ini";
    app.SetAppCode("QmVardel"); // the same code changes nothing
    EXPECT_EQ(app.IniFile, "/elsewhere.ini");
    app.SetAppCode("Other");
    EXPECT_EQ(app.IniFile, "/srv/Prog/Other.ini");
    EXPECT_EQ(app.RegGridsPath, "\\SOFTWARE\\Tarnwick\\Other\\Grids\\");
    EXPECT_EQ(app.AppName, "QmVardel");
}

TEST(VardelApp, DumpInfoListsTheSettingsFileAndTheIdentity) {
    Context c;
    c.Fs.Put(kIni, "[main]\r\nskin=1\r\nfirst_run_flg=0\r\n");
    TVardelApp app(c.Ports());
    std::vector<std::string> lines{"before"};
    app.DumpInfo(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"before", ">>>> Ini File <<<<", "IniFile: " + kIni,
                                               "Content: ", "[main]", "skin=1", "first_run_flg=0", " ",
                                               ">>>> App Info <<<<", "AppCode: QmVardel",
                                               "AppDir: /opt/qmvardel/", "DBDir: /opt/qmvardel/DB/",
                                               "AppName: QmVardel", "Version: 1.0.0.28", "DBVersion: 1.0"}));
}

TEST(VardelApp, UnreadableVersionStopsTheStart) {
    Context c;
    c.Image.VersionReadable = false;
    EXPECT_THROW(TVardelApp app(c.Ports()), EQmError);
}

} // namespace
