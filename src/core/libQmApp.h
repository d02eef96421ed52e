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
};

class TQmApp {
public:
    TQmApp(const std::string& code, const TQmAppPorts& ports);
    virtual ~TQmApp();
    TQmApp(const TQmApp&) = delete;
    TQmApp& operator=(const TQmApp&) = delete;

    virtual void DumpInfo(std::vector<std::string>& lines);
    void SetAppCode(const std::string& code);

    // Fields, in declaration order of the original context.
    std::unique_ptr<INamedMutex> Mutex;
    std::string AppCode;
    std::string AppDir; // ends with the path delimiter
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
};
