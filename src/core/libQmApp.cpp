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
    ChooseDataFolders(code, ports.UserFolders);
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

void TQmApp::ChooseDataFolders(const std::string& code, const TUserFolders& user) {
    ConfigDir = DataDir = AppDir;
    // An installed copy lies in a folder only root writes to; without known user folders the
    // settings write fails later with its own message rather than landing somewhere unexpected.
    if (FFileSystem.IsWritableDirectory(AppDir) || user.ConfigHome.empty() || user.DataHome.empty())
        return;
    const std::string config = qm::IncludeTrailingPathDelimiter(user.ConfigHome) + code;
    const std::string data = qm::IncludeTrailingPathDelimiter(user.DataHome) + code;
    FFileSystem.CreatePrivateDirectories(config);
    FFileSystem.CreatePrivateDirectories(data);
    ConfigDir = config + qm::PathDelim;
    DataDir = data + qm::PathDelim;
}

std::string TQmApp::SygnatureFile() const {
    const std::string updated = DataDir + "Sygn.ini";
    return DataDir != AppDir && FFileSystem.FileExists(updated) ? updated : AppDir + "Sygn.ini";
}

std::string TQmApp::UpdatesDir() const {
    return DataDir + "Updates" + qm::PathDelim;
}

void TQmApp::SetAppCode(const std::string& code) {
    if (code == AppCode)
        return;
    AppCode = code;
    RegPath = "\\SOFTWARE\\Tarnwick\\" + AppCode;
    RegFormsPath = RegPath + "\\Forms\\";
    RegGridsPath = RegPath + "\\Grids\\";
    IniFile = ConfigDir + AppCode + ".ini";
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
    lines.push_back("ConfigDir: " + ConfigDir);
    lines.push_back("DataDir: " + DataDir);
    lines.push_back("DBDir: " + DBDir);
    lines.push_back("AppName: " + AppName);
    lines.push_back("Version: " + AppVersion);
    lines.push_back("DBVersion: " + DBVersion);
}
