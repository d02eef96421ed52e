#include "core/libQmApp.h"

#include "platform/uPathDelim.h"
#include "util/libStrUtilsQmPack.h"

namespace {
constexpr std::uint32_t kHkeyCurrentUser = 0x80000001;
}

TQmApp::TQmApp(const std::string& code, const TQmAppPorts& ports) : FFileSystem(ports.FileSystem) {
    Mutex = ports.MutexFactory.Create(code);
    DBProblemKey = "DBPROBLEM";
    FirstRunKey = "first_run_flg";
    LastDBClosedKey = "LastDBClosed";
    DBClosedProperlyKey = "DBClosedProperly";
    AppDir = qm::IncludeTrailingPathDelimiter(qm::ExtractFileDir(ports.ProgramImage.ExecutablePath()));
    DBDir = AppDir + "DB" + qm::PathDelim;
    SetAppCode(code);
    AppName = code;
    AppVersion = ports.ProgramImage.FileVersion();
    DBVersion = "1.0";
    RegRoot = kHkeyCurrentUser;
    Ini = std::make_unique<TAppIni>(IniFile, FFileSystem);
    // Read and cleared before anything else of the run: a first run that ends early is not repeated.
    FirstRun = Ini->ReadBool(FirstRunKey, true, "main");
    if (FirstRun)
        Ini->WriteBool(FirstRunKey, false, "main");
}

TQmApp::~TQmApp() {
    Mutex.reset();
    Ini.reset();
}

void TQmApp::SetAppCode(const std::string& code) {
    if (code == AppCode)
        return;
    AppCode = code;
    RegPath = "\\SOFTWARE\\Tarnwick\\" + AppCode;
    RegFormsPath = RegPath + "\\Forms\\";
    RegGridsPath = RegPath + "\\Grids\\";
    IniFile = AppDir + AppCode + ".ini";
}

void TQmApp::DumpInfo(std::vector<std::string>& lines) {
    lines.push_back(">>>> Ini File <<<<");
    lines.push_back("IniFile: " + IniFile);
    lines.push_back("Content: ");
    if (FFileSystem.FileExists(IniFile)) {
        if (const auto content = FFileSystem.ReadAll(IniFile)) {
            for (std::string& line : qm::SplitLines(qm::DecodeLegacyText(*content)))
                lines.push_back(std::move(line));
        }
        lines.push_back(" ");
    }
    lines.push_back(">>>> App Info <<<<");
    lines.push_back("AppCode: " + AppCode);
    lines.push_back("AppDir: " + AppDir);
    lines.push_back("DBDir: " + DBDir);
    lines.push_back("AppName: " + AppName);
    lines.push_back("Version: " + AppVersion);
    lines.push_back("DBVersion: " + DBVersion);
}
