// Soak run of the modem proxy: the real vardeld in front of a fake Hayes modem, a host that sends
// random traffic for a given time (command lines, refused and allowed dials, settings, escapes,
// bytes with bit 7, over-long lines, floods), now and then stops reading and closes and reopens
// the port. Prints the service's resident memory at the start, each minute and at the end; a
// service that keeps nothing from closed sessions stays flat.
//   modem_soak [SECONDS]   (default 20; needs root, as the service does)
// Program starts are not guarded in this run (exec_guard = no), so nothing on the machine is marked.
#include "FakeHayesModem.h"
#include "ServiceRig.h"
#include "StandInGuard.h"

#include "core/uHookRecords.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

long StatusKb(pid_t pid, const char* key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::char_traits<char>::length(key));
    return -1;
}

std::string RandomTraffic(std::mt19937& random) {
    auto pick = [&random](int n) {
        return static_cast<int>(random() % static_cast<unsigned>(n));
    };
    static const char* lines[] = {"ATZ\r",        "ATE0V0\r",      "ATE1V1\r",  "ATDT0700999\r",
                                  "ATDT123\r",    "ATD0202122;\r", "ATS2=42\r", "ATS2=43\r",
                                  "A/",           "ATX4&C1\r",     "+++",       "***",
                                  "CONNECT\r1\r", "AT\b\bD0700\r", "ATDL\r"};
    switch (pick(10)) {
    case 0: { // bit 7 and junk
        std::string s(static_cast<std::size_t>(1 + pick(200)), '\0');
        for (char& c : s)
            c = static_cast<char>(random());
        return s;
    }
    case 1: // an over-long command line
        return "AT" + std::string(static_cast<std::size_t>(600 + pick(3000)), 'X') + "D0700111\r";
    case 2: // a flood of refused dial lines
    {
        std::string s;
        while (s.size() < 16384)
            s += "ATDT0700" + std::to_string(pick(1000)) + "\r";
        return s;
    }
    default:
        return lines[pick(sizeof(lines) / sizeof(lines[0]))];
    }
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (::geteuid() != 0) {
        std::printf("modem_soak: needs root (vardeld guards modems only as root); skipped\n");
        return 0;
    }
    char pattern[] = "/tmp/qm-soak-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string run = dir + "/run", link = dir + "/ttyGuard0";
    std::filesystem::create_directories(dir + "/lock");
    std::filesystem::create_directories(dir + "/etc/ppp/peers");
    int result = 0;
    {
        TFakeHayesModem modem({{"123", "BUSY"}, {"0202122", "NO CARRIER"}});
        TStandInGuard guard(dir + "/hook.sock", [](const TStandInFrame& f) {
            return qm::DecodeDialRequest(f.Payload).PhoneNumber.rfind("0700", 0) == 0 ? 1 : 0;
        });
        TVardeld service(dir, run,
                         "modem = " + modem.DevicePath() + " " + link +
                             "\nexec_guard = no\nrun_dir = " + run + "\nlock_dir = " + dir +
                             "/lock\netc_dir = " + dir + "/etc\nanswer_bound = 5\n");
        if (!service.Started()) {
            std::printf("modem_soak: vardeld did not start:\n%s\n", service.Log().c_str());
            return 1;
        }
        const int registration = RegisterGuard(run + "/control.sock", guard.Path());
        std::mt19937 random(20261209);
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        auto elapsed = [&start] {
            return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
                .count();
        };
        long first = -1;
        long nextReport = 0;
        std::uint64_t sent = 0, sessions = 0;
        while (std::chrono::steady_clock::now() < end) {
            const int host = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (host < 0) {
                ::usleep(20000);
                continue;
            }
            ++sessions;
            termios t{};
            ::tcgetattr(host, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(host, TCSANOW, &t);
            const bool reads = random() % 3 != 0; // a third of the sessions never read
            const auto sessionEnd =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(500 + random() % 2500);
            while (std::chrono::steady_clock::now() < std::min(sessionEnd, end)) {
                const std::string bytes = RandomTraffic(random);
                const ssize_t n = ::write(host, bytes.data(), bytes.size());
                sent += n > 0 ? static_cast<std::uint64_t>(n) : 0;
                char buf[4096];
                while (reads && ::read(host, buf, sizeof(buf)) > 0) {
                }
                ::usleep(2000);
                if (first < 0 && elapsed() >= 2) {
                    first = StatusKb(service.Pid(), "VmRSS:");
                    std::printf("start     VmRSS %ld kB\n", first);
                    nextReport = 60;
                }
                if (first >= 0 && elapsed() >= nextReport) {
                    std::printf("%4lds     VmRSS %ld kB\n", static_cast<long>(elapsed()),
                                StatusKb(service.Pid(), "VmRSS:"));
                    std::fflush(stdout);
                    nextReport += 60;
                }
            }
            ::close(host);
        }
        ::usleep(500000); // the last session's close reaches the service
        const long last = StatusKb(service.Pid(), "VmRSS:");
        std::printf(
            "end       VmRSS %ld kB (peak %ld kB) after %lds, %llu host bytes in %llu sessions, %zu dial "
            "questions\n",
            last, StatusKb(service.Pid(), "VmHWM:"), static_cast<long>(elapsed()),
            static_cast<unsigned long long>(sent), static_cast<unsigned long long>(sessions),
            guard.FrameCount());
        if (registration >= 0)
            ::close(registration);
        result = service.Stop() == 0 ? 0 : 1;
    }
    std::filesystem::remove_all(dir);
    return result;
}
