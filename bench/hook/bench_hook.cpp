// Costs of the hook service, measured against the real vardeld with a stand-in guard answering at
// once. Program starts: a small program on tmpfs folders that only this benchmark marks (root only),
// with no service, a service with no guard, a service with a guard asked every time and one whose
// answer is remembered, in one alternating run. Dials: from
// the host writing an ATD line on the guarded port to the result the proxy gives back after the guard's
// answer (the guard refuses, so each number is asked once and the modem is never dialled).
#include "FakeHayesModem.h"
#include "ServiceRig.h"
#include "StandInGuard.h"
#include "support/TempDir.h"
#include "uPollLoop.h"
#include "uServiceSockets.h"

#include "core/uHookFrame.h"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

double MedianMicros(std::vector<double>& samples) {
    if (samples.empty())
        return 0;
    std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
    return samples[samples.size() / 2];
}

// A guard as the real one serves its socket: one thread, one event loop, answers at once. (The tests'
// stand-in starts a thread per connection, which would be measured instead of the service.)
class TLoopGuard {
public:
    explicit TLoopGuard(const std::string& path) : FPath(path) {
        std::string why;
        FListen = ListenUnix(path, 0600, &why);
        FWake = ::eventfd(0, EFD_CLOEXEC);
        FThread = std::thread([this] { Run(); });
    }
    ~TLoopGuard() {
        std::uint64_t one = 1;
        (void)!::write(FWake, &one, sizeof(one));
        FThread.join();
        ::close(FWake);
        ::close(FListen);
    }
    std::size_t Frames() const { return FFrames; }

private:
    void Run() {
        TPollLoop loop;
        loop.Watch(FWake, POLLIN, [&](short) { loop.Quit(); });
        loop.Watch(FListen, POLLIN, [&](short) {
            int fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            auto buffer = std::make_shared<std::vector<std::uint8_t>>();
            loop.Watch(fd, POLLIN, [&, fd, buffer](short) {
                std::uint8_t buf[4096];
                ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
                if (n <= 0) {
                    loop.Unwatch(fd);
                    ::close(fd);
                    return;
                }
                buffer->insert(buffer->end(), buf, buf + n);
                while (buffer->size() >= qm::kHookHeaderSize) {
                    std::uint8_t header[qm::kHookHeaderSize];
                    std::copy(buffer->begin(), buffer->begin() + qm::kHookHeaderSize, header);
                    std::size_t whole = qm::kHookHeaderSize + qm::DecodeHookFrameHeader(header).CbData;
                    if (buffer->size() < whole)
                        break;
                    buffer->erase(buffer->begin(), buffer->begin() + static_cast<long>(whole));
                    ++FFrames;
                    auto answer = qm::EncodeHookResult(0);
                    (void)!::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
                }
            });
        });
        loop.Run();
    }

    std::string FPath;
    int FListen = -1, FWake = -1;
    std::thread FThread;
    std::atomic<std::size_t> FFrames{0};
};

double Percentile(std::vector<double> samples, double q) {
    if (samples.empty())
        return 0;
    const auto at = samples.begin() + static_cast<long>(q * static_cast<double>(samples.size() - 1));
    std::nth_element(samples.begin(), at, samples.end());
    return *at;
}

// Nanoseconds on a CPU of every thread of a process so far.
double ProcessCpuNs(pid_t pid) {
    double total = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        double ns = 0;
        if (in >> ns)
            total += ns;
    }
    return total;
}

// Context switches (voluntary and not) of every thread of a process so far: each one is a wake-up
// that the service pays for in a start's path.
double ProcessSwitches(pid_t pid) {
    double total = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "status");
        for (std::string line; std::getline(in, line);)
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::stod(line.substr(line.find(':') + 1));
    }
    return total;
}

// A tmpfs with a copy of /bin/true, unmounted at the end.
struct TProgramMount {
    std::string Dir;
    bool Mounted = false;
    explicit TProgramMount(const std::string& dir) : Dir(dir) {
        std::filesystem::create_directories(Dir);
        Mounted = ::mount("tmpfs", Dir.c_str(), "tmpfs", 0, "size=16m,mode=0755") == 0;
        if (Mounted)
            std::filesystem::copy_file("/bin/true", Dir + "/prog");
    }
    ~TProgramMount() {
        if (Mounted)
            ::umount2(Dir.c_str(), MNT_DETACH);
    }
    std::string Program() const { return Dir + "/prog"; }
};

// A service watching one tmpfs of its own, optionally with a guard registered that answers 0.
struct TExecRig {
    TTempDir Dir;
    TProgramMount Mount{Dir.Path() + "/mnt"};
    std::unique_ptr<TLoopGuard> Guard;
    std::unique_ptr<TVardeld> Service;
    pid_t Registrant = -1;
    bool Ready = false;

    explicit TExecRig(bool withGuard) {
        if (!Mount.Mounted)
            return;
        std::string run = Dir.Path() + "/run";
        Service = std::make_unique<TVardeld>(Dir.Path(), run,
                                             "exec_mounts = " + Mount.Dir + "\nrun_dir = " + run +
                                                 "\nlock_dir = " + Dir.Path() + "\n");
        if (!Service->Started())
            return;
        if (!withGuard) {
            Ready = true;
            return;
        }
        // The guard's own children are never asked about, so the registration comes from a process of
        // its own (forked before any thread exists) and the programs are started by this one.
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        Registrant = ::fork();
        if (Registrant == 0) {
            int fd = RegisterGuard(run + "/control.sock", Dir.Path() + "/hook.sock");
            (void)!::write(ready[1], fd >= 0 ? "y" : "n", 1);
            ::pause();
            ::_exit(0);
        }
        char c = 'n';
        (void)!::read(ready[0], &c, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        Ready = c == 'y';
        Guard = std::make_unique<TLoopGuard>(Dir.Path() + "/hook.sock");
    }
    ~TExecRig() {
        if (Registrant > 0) {
            ::kill(Registrant, SIGKILL);
            ::waitpid(Registrant, nullptr, 0);
        }
        Service.reset();
        Guard.reset();
    }
};

double TimeExec(const std::string& prog) {
    char* argv[] = {const_cast<char*>(prog.c_str()), nullptr};
    auto start = TClock::now();
    pid_t pid;
    if (posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv, environ) == 0)
        ::waitpid(pid, nullptr, 0);
    return std::chrono::duration<double, std::micro>(TClock::now() - start).count();
}

// One alternating run over four copies of the same program: on a tmpfs nobody watches; on one a
// service watches with no guard registered; on one with a guard that answers 0 and is asked every
// time (the file's change time is renewed before each start, so no answer is remembered); and on
// one with a guard whose first answer is remembered (the file is older than the settle time). Each
// iteration starts all four in a rotating order, so the machine's drift touches them alike.
// Reported: median and 99th percentile of each, the added time of each iteration against the
// unwatched start, and the service's CPU time and context switches per start (every thread).
void BM_ExecAddedAlternating(benchmark::State& state) {
    if (::geteuid() != 0) {
        state.SkipWithError("program-start interception needs root");
        return;
    }
    TTempDir dir;
    TProgramMount plain(dir.Path() + "/plain");
    TExecRig noGuard(false), asked(true), remembered(true);
    if (!plain.Mounted || !noGuard.Ready || !asked.Ready || !remembered.Ready) {
        state.SkipWithError("cannot set up the tmpfs or the services");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // the copies settle
    constexpr std::size_t kKinds = 4;
    const std::string progs[kKinds] = {plain.Program(), noGuard.Mount.Program(), asked.Mount.Program(),
                                       remembered.Mount.Program()};
    const TExecRig* rigs[kKinds] = {nullptr, &noGuard, &asked, &remembered};
    auto renew = [&] {
        ::chmod(progs[2].c_str(), 0755);
    }; // a new change time: nothing to remember
    for (const std::string& p : progs)
        TimeExec(p); // warm: page cache, the remembered guard's first answer
    std::vector<double> times[kKinds], added[kKinds];
    double cpu0[kKinds] = {}, switches0[kKinds] = {};
    for (std::size_t k = 1; k < kKinds; ++k) {
        cpu0[k] = ProcessCpuNs(rigs[k]->Service->Pid());
        switches0[k] = ProcessSwitches(rigs[k]->Service->Pid());
    }
    std::size_t round = 0;
    for (auto _ : state) {
        double t[kKinds];
        for (std::size_t k = 0; k < kKinds; ++k) {
            const std::size_t which = (round + k) % kKinds;
            if (which == 2)
                renew();
            t[which] = TimeExec(progs[which]);
        }
        ++round;
        for (std::size_t k = 0; k < kKinds; ++k) {
            times[k].push_back(t[k]);
            added[k].push_back(t[k] - t[0]);
        }
    }
    const double n = static_cast<double>(round);
    const char* names[kKinds] = {"none", "no_guard", "asked", "remembered"};
    for (std::size_t k = 0; k < kKinds; ++k) {
        state.counters[std::string("med_us_") + names[k]] = Percentile(times[k], 0.5);
        state.counters[std::string("p99_us_") + names[k]] = Percentile(times[k], 0.99);
        if (k == 0)
            continue;
        state.counters[std::string("added_med_us_") + names[k]] = Percentile(added[k], 0.5);
        state.counters[std::string("added_p99_us_") + names[k]] = Percentile(added[k], 0.99);
        state.counters[std::string("cpu_us_") + names[k]] =
            (ProcessCpuNs(rigs[k]->Service->Pid()) - cpu0[k]) / n / 1000;
        state.counters[std::string("switches_") + names[k]] =
            (ProcessSwitches(rigs[k]->Service->Pid()) - switches0[k]) / n;
    }
    state.counters["asked_frames"] = static_cast<double>(asked.Guard->Frames());
    state.counters["remembered_frames"] = static_cast<double>(remembered.Guard->Frames());
}
BENCHMARK(BM_ExecAddedAlternating)->Iterations(2000)->Unit(benchmark::kMicrosecond);

void BM_DialToGuardAnswer(benchmark::State& state) {
    TTempDir dir;
    TFakeHayesModem modem({});
    TStandInGuard guard(dir.Path() + "/hook.sock", [](const TStandInFrame&) { return 1; });
    std::string run = dir.Path() + "/run", link = dir.Path() + "/ttyGuard0";
    TVardeld service(dir.Path(), run,
                     "modem = " + modem.DevicePath() + " " + link + "\nexec_guard = no\nrun_dir = " + run +
                         "\nlock_dir = " + dir.Path() + "\netc_dir = " + dir.Path() + "\n");
    int registration = service.Started() ? RegisterGuard(run + "/control.sock", guard.Path()) : -1;
    int tty = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (registration < 0 || tty < 0) {
        state.SkipWithError("cannot start the service");
        return;
    }
    // No echo, so each answer is exactly one result line.
    const std::string quiet = "ATE0\r";
    (void)!::write(tty, quiet.data(), quiet.size());
    // Reads until the text ends with `end` beyond its leading line break.
    auto readUntil = [&](const std::string& end) {
        std::string in;
        pollfd p{tty, POLLIN, 0};
        while ((in.size() < end.size() + 2 || in.compare(in.size() - end.size(), end.size(), end) != 0) &&
               ::poll(&p, 1, 5000) > 0) {
            char buf[256];
            ssize_t n = ::read(tty, buf, sizeof(buf));
            if (n <= 0)
                break;
            in.append(buf, static_cast<std::size_t>(n));
        }
        return in;
    };
    readUntil("OK\r\n");
    std::vector<double> samples;
    long number = 100000;
    for (auto _ : state) {
        std::string line = "ATDT" + std::to_string(number++) + "\r";
        auto start = TClock::now();
        (void)!::write(tty, line.data(), line.size());
        readUntil("\r\n"); // "\r\nNO CARRIER\r\n" first, "\r\nERROR\r\n" for the repeats of the session
        samples.push_back(std::chrono::duration<double, std::micro>(TClock::now() - start).count());
    }
    state.counters["asked"] = static_cast<double>(guard.FrameCount());
    state.counters["median_us"] = MedianMicros(samples);
    ::close(tty);
    ::close(registration);
}
BENCHMARK(BM_DialToGuardAnswer)->Iterations(1000)->Unit(benchmark::kMicrosecond);

} // namespace
