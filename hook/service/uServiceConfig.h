#pragma once
// The hook service's configuration file (vardeld.conf): "key = value" lines, '#' comments.
//   modem = DEVICE LINK      one per guarded modem, in line order (the line feed numbers them so)
//   answer_bound = SECONDS   longest wait for a guard's answer (default 600); then the default applies
//   no_guard = refuse|allow  what a dial gets when no guard answers (default refuse)
//   exec_guard = yes|no      program-start interception (default yes)
//   exec_mounts = PATH ...   mark only these filesystems instead of every exec-capable local one
//   run_dir, lock_dir, etc_dir  the service's sockets, the UUCP lock folder, the pppd etc root
// A file that does not parse is reported with its line number and changes nothing.
#include <string>
#include <vector>

struct TGuardedModem {
    std::string Device;
    std::string Link;
    bool operator==(const TGuardedModem&) const = default;
};

struct TServiceConfig {
    std::vector<TGuardedModem> Modems;
    int AnswerBoundSeconds = 600;
    bool NoGuardAllowsDial = false;
    bool ExecGuard = true;
    std::vector<std::string> ExecMounts;
    std::string RunDir = "/run/vardeld";
    std::string LockDir = "/var/lock";
    std::string EtcDir = "/etc";

    std::string ControlSocket() const { return RunDir + "/control.sock"; }
    std::string FeedSocket() const { return RunDir + "/line.sock"; }
};

// Where the installed configuration lies (/etc/qmvardel/vardeld.conf for an install under /usr).
#ifndef QM_VARDELD_CONFIG
#define QM_VARDELD_CONFIG "/etc/qmvardel/vardeld.conf"
#endif
inline constexpr const char* kDefaultServiceConfig = QM_VARDELD_CONFIG;

// Throws EQmError ("FILE:LINE: reason") on a malformed file.
TServiceConfig ParseServiceConfig(const std::string& text, const std::string& fileName);
TServiceConfig LoadServiceConfig(const std::string& path);
