#pragma once
// The commands of qmvardel-sig, the signature authors' tool: fingerprint, check and info over a
// signature database, and its signatures (keygen, sign, verify). Qt-free; files are read through
// the file-system port, folders given to check are walked with the standard library (no symbolic
// links followed).
//
// Exit codes: 0 success (check: no known dialer), 1 check found a known dialer (verify: a signature
// that does not hold), 2 a usage or read
// error. An error outranks a found dialer, so a script never takes a half-done check for a clean one.
#include "platform/IFileSystem.h"

#include <ostream>
#include <string>
#include <vector>

enum TSigToolExit { sigExit_Ok = 0, sigExit_Dialer = 1, sigExit_Error = 2 };

struct TSigToolEnv {
    const IFileSystem& FileSystem;
    // The database used without --db: Sygn.ini beside the program.
    std::string DefaultDatabase;
    std::ostream& Out;
    std::ostream& Err;
};

// args are the command-line arguments after the program name.
int RunSigTool(const std::vector<std::string>& args, const TSigToolEnv& env);
