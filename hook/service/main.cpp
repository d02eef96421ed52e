// vardeld: the hook service. Runs in the foreground (systemd starts it as a notify service with a
// watchdog); SIGHUP reloads the configuration, SIGTERM and SIGINT stop it cleanly. Started by a
// guard's SetHooks (--started-by-guard) it ends once no guard has been registered for a minute.
#include "uSdNotify.h"
#include "uService.h"

#include "util/uQmError.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void Log(const std::string& text) {
    std::fprintf(stderr, "vardeld: %s\n", text.c_str());
}

void Usage() {
    std::printf("Usage: vardeld [--config FILE] [--started-by-guard [--grace-ms MS]]\n"
                "The hook service of QmVardel: guards the modems of its configuration and the program\n"
                "starts of this machine, and asks the registered guards. Default configuration: %s\n"
                "--started-by-guard: started by a guard, not by the system: ends once no guard has\n"
                "been registered for a minute (--grace-ms sets that time).\n",
                kDefaultServiceConfig);
}

} // namespace

int main(int argc, char** argv) {
    std::string configPath = kDefaultServiceConfig;
    bool explicitConfig = false;
    bool startedByGuard = false;
    int graceMs = 60000;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if ((a == "--config" || a == "-c") && i + 1 < argc) {
            configPath = argv[++i];
            explicitConfig = true;
        } else if (a == "--started-by-guard") {
            startedByGuard = true;
        } else if (a == "--grace-ms" && i + 1 < argc) {
            char* end = nullptr;
            const long ms = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || ms <= 0 || ms > 86400000L) {
                std::fprintf(stderr, "vardeld: bad --grace-ms %s\n", argv[i]);
                return 2;
            }
            graceMs = static_cast<int>(ms);
        } else if (a == "--help" || a == "-h") {
            Usage();
            return 0;
        } else {
            std::fprintf(stderr, "vardeld: unknown argument %s\n", a.c_str());
            Usage();
            return 2;
        }
    }
    if (::geteuid() != 0)
        Log("not running as root: the modems and program starts can only be guarded by root");

    // Started by SetHooks on a machine without a configuration file, the service guards program
    // starts and no modem; a file named on the command line must exist.
    TServiceConfig config;
    try {
        if (!explicitConfig && ::access(configPath.c_str(), F_OK) != 0)
            Log(configPath + " does not exist: no modem is guarded, program starts are");
        else
            config = LoadServiceConfig(configPath);
    } catch (const EQmError& e) {
        Log(e.what());
        return 1;
    }
    // Every pending program start holds a descriptor: let the queue grow as far as the system allows.
    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0) {
        rl.rlim_cur = rl.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &rl);
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr); // before the interception thread exists
    int sigFd = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);

    TService service(Log);
    std::string why;
    if (!service.Start(config, &why)) {
        Log(why);
        return 1;
    }
    Log("running");
    if (startedByGuard)
        service.EndWhenUnused(graceMs);
    SdNotify("READY=1");
    if (const int pingMs = SdWatchdogPingMs(); pingMs > 0)
        service.StartWatchdog(pingMs);
    service.Loop().Watch(sigFd, POLLIN, [&](short) {
        signalfd_siginfo si{};
        while (::read(sigFd, &si, sizeof(si)) == sizeof(si)) {
            if (si.ssi_signo == SIGHUP) {
                try {
                    service.Reload(!explicitConfig && ::access(configPath.c_str(), F_OK) != 0
                                       ? TServiceConfig()
                                       : LoadServiceConfig(configPath));
                    Log("configuration reloaded");
                } catch (const EQmError& e) {
                    Log(std::string(e.what()) + "; the previous configuration stays");
                }
            } else if (si.ssi_signo == SIGTERM || si.ssi_signo == SIGINT) {
                service.Loop().Quit();
            }
        }
    });
    service.Loop().Run();
    SdNotify("STOPPING=1");
    Log("stopping");
    return 0;
}
