#include "core/libQmVardel.h"
#include "fakes/FakePorts.h"
#include "platform/linux/uLinuxPlatform.h"
#include "support/TempDir.h"
#include "util/uQmError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

struct Context {
    TFakeProgramImage Image;
    TFakeFileSystem Fs;
    TFakeMutexFactory Mutexes;
    TQmAppPorts Ports() { return {.ProgramImage = Image, .FileSystem = Fs, .MutexFactory = Mutexes}; }
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
                                               "AppDir: /opt/qmvardel/", "ConfigDir: /opt/qmvardel/",
                                               "DataDir: /opt/qmvardel/", "DBDir: /opt/qmvardel/DB/",
                                               "AppName: QmVardel", "Version: 1.0.0.28", "DBVersion: 1.0"}));
}

TEST(VardelApp, UnreadableVersionStopsTheStart) {
    Context c;
    c.Image.VersionReadable = false;
    EXPECT_THROW(TVardelApp app(c.Ports()), EQmError);
}

// The program folder made read-only for real: a read-only mount as root (who may write anywhere
// else), the folder's mode otherwise. False when neither can be had.
bool MakeReadOnly(const std::string& dir) {
    if (::geteuid() == 0)
        return ::mount("tmpfs", dir.c_str(), "tmpfs", MS_RDONLY | MS_NOSUID | MS_NODEV, "size=64k") == 0;
    return ::chmod(dir.c_str(), 0555) == 0;
}

std::set<std::string> Listing(const std::filesystem::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        names.insert(std::filesystem::relative(entry.path(), dir).string());
    return names;
}

TEST(VardelApp, WrittenFilesGoBesideTheProgramOnlyWhenItsFolderIsWritable) {
    namespace fs = std::filesystem;
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only program folder" : "writable program folder");
        TTempDir tmp;
        const fs::path prog = fs::path(tmp.Path()) / "prog";
        fs::create_directories(prog);
        if (readOnly && !MakeReadOnly(prog.string()))
            GTEST_SKIP() << "the program folder cannot be made read-only here";
        struct TUnmount {
            std::string Dir;
            ~TUnmount() {
                if (!Dir.empty())
                    ::umount(Dir.c_str());
            }
        } unmount{readOnly && ::geteuid() == 0 ? prog.string() : ""};
        TFakeProgramImage image;
        image.Path = (prog / "QmVardel").string();
        TLinuxFileSystem files;
        TFakeMutexFactory mutexes;
        const std::string config = tmp.Path() + "/config", data = tmp.Path() + "/data";
        TVardelApp app({.ProgramImage = image,
                        .FileSystem = files,
                        .MutexFactory = mutexes,
                        .UserFolders = {.ConfigHome = config, .DataHome = data}});
        const std::string appDir = prog.string() + "/";
        EXPECT_EQ(app.AppDir, appDir);
        EXPECT_EQ(app.SygnatureFile(), appDir + "Sygn.ini");
        if (!readOnly) {
            // Today's layout: everything beside the program, no user folder touched.
            EXPECT_EQ(app.IniFile, appDir + "QmVardel.ini");
            EXPECT_EQ(app.QuarantineDir(), appDir + "back/");
            EXPECT_EQ(app.UpdatesDir(), appDir + "Updates/");
            EXPECT_EQ(ReadWholeFile(app.IniFile), "[main]\nfirst_run_flg=0\n");
            EXPECT_EQ(Listing(prog), (std::set<std::string>{"QmVardel.ini"}));
            EXPECT_FALSE(fs::exists(config));
            EXPECT_FALSE(fs::exists(data));
            continue;
        }
        EXPECT_EQ(app.IniFile, config + "/QmVardel/QmVardel.ini");
        EXPECT_EQ(app.QuarantineDir(), data + "/QmVardel/back/");
        EXPECT_EQ(app.UpdatesDir(), data + "/QmVardel/Updates/");
        EXPECT_TRUE(app.FirstRun);
        EXPECT_EQ(ReadWholeFile(app.IniFile), "[main]\nfirst_run_flg=0\n");
        EXPECT_TRUE(Listing(prog).empty()) << "nothing is written beside the program";
        for (const std::string& dir : {config + "/QmVardel", data + "/QmVardel"})
            EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all) << dir;
        // An updated signature database in the data folder wins over the shipped one.
        std::ofstream(data + "/QmVardel/Sygn.ini") << "[x]\n";
        EXPECT_EQ(app.SygnatureFile(), data + "/QmVardel/Sygn.ini");
        std::vector<std::string> lines;
        app.DumpInfo(lines);
        EXPECT_NE(std::find(lines.begin(), lines.end(), "DataDir: " + data + "/QmVardel/"), lines.end());
        EXPECT_NE(std::find(lines.begin(), lines.end(), "AppDir: " + appDir), lines.end());
    }
}

} // namespace
