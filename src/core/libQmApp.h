#pragma once
// TQmApp: the application context's base: identity, folders, settings file and the first-run flag.
#include "core/uAppIni.h"
#include "platform/IFileSystem.h"
#include "platform/INamedMutex.h"
#include "platform/IProgramImage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the context needs of the system, given at creation.
struct TQmAppPorts {
    IProgramImage& ProgramImage;
    IFileSystem& FileSystem;
    INamedMutexFactory& MutexFactory;
    // Where the user's written files go when the program's folder is not writable.
    TUserFolders UserFolders = {};
};

class TQmApp {
public:
    TQmApp(const std::string& code, const TQmAppPorts& ports);
    virtual ~TQmApp();
    TQmApp(const TQmApp&) = delete;
    TQmApp& operator=(const TQmApp&) = delete;

    virtual void DumpInfo(std::vector<std::string>& lines);
    void SetAppCode(const std::string& code);
    // The signature database to load: an updated one in DataDir wins over the shipped one.
    std::string SygnatureFile() const;
    // The folder the update receives its files in.
    std::string UpdatesDir() const;

    // Fields, in declaration order of the original context.
    std::unique_ptr<INamedMutex> Mutex;
    std::string AppCode;
    // The program's own files (shipped signatures, skins, help, sound, hook companions); only read.
    std::string AppDir; // ends with the path delimiter
    // Where the program writes: the settings file's folder, and the folder of everything else
    // (quarantine, received updates, an updated signature database). Both are AppDir when the user
    // may write there (a build folder, a portable copy); else the user's XDG folders. Both end with
    // the path delimiter.
    std::string ConfigDir;
    std::string DataDir;
    std::string DBDir;
    std::string AppName;
    std::string AppVersion;
    std::string DBVersion;
    std::uint32_t RegRoot = 0;
    std::string RegPath;
    std::string RegFormsPath;
    std::string RegGridsPath;
    std::string IniFile;
    std::unique_ptr<TAppIni> Ini;
    bool FirstRun = false;
    std::string DBProblemKey;
    std::string FirstRunKey;
    std::string LastDBClosedKey;
    std::string DBClosedProperlyKey;

protected:
    IFileSystem& FFileSystem;

private:
    void ChooseDataFolders(const std::string& code, const TUserFolders& user);
};
