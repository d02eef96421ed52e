#include "uModemProxy.h"

#include "core/uHookRecords.h"
#include "uPeersLookup.h"
#include "uProcInfo.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTickMs = 200;
constexpr std::size_t kMaxPhoneBook = 1024 * 1024;
constexpr int kReadBoundMs = 2000;
constexpr std::size_t kQueueLimit = 64 * 1024;
constexpr tcflag_t kCopiedCflags = CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS;

std::uint32_t Fnv1a(const std::string& text) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : text)
        h = (h ^ c) * 16777619u;
    return h;
}

} // namespace

TModemProxy::TModemProxy(TContext context, TGuardedModem modem, TProxySettings settings)
    : FContext(std::move(context)), FModem(std::move(modem)), FSettings(std::move(settings)),
      FLock(FSettings.LockDir, FModem.Device), FPolicy(FContext.NowMs),
      FLine(TModemLine::TActions{
                [this](std::string_view b) { ToDevice(b); },
                [this](std::string_view b) { ToHost(b); },
                [this](std::uint32_t call, std::uint32_t state) { FContext.CallState(call, state); },
                [this] { return FContext.NewCall(); },
                [this](const TDialAttempt& a) { AskGuard(a); },
                [this](const std::string& t) { Log(t); },
                [this](int ms) { StartLineTimer(ms); },
                [this] { return FContext.NowMs(); },
            },
            FPolicy) {}

TModemProxy::~TModemProxy() {
    EndSession();
    CloseTerminal();
    char target[PATH_MAX];
    ssize_t n = ::readlink(FModem.Link.c_str(), target, sizeof(target) - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == FSlavePath)
        ::unlink(FModem.Link.c_str());
}

void TModemProxy::Log(const std::string& text) const {
    FContext.Log(FModem.Link + ": " + text);
}

bool TModemProxy::Start(std::string* why) {
    struct stat st {};
    if (::stat(FModem.Device.c_str(), &st) != 0) {
        *why = FModem.Device + ": " + std::strerror(errno);
        return false;
    }
    // The link is replaced by renaming over it: only a symbolic link (ours from before) or nothing
    // may be there, never a device or a file of someone else's.
    struct stat link {};
    if (::lstat(FModem.Link.c_str(), &link) == 0 && !S_ISLNK(link.st_mode)) {
        *why = FModem.Link + ": exists and is not a symbolic link; it is left alone";
        return false;
    }
    if (!FLock.Acquire(why))
        return false;
    return OpenTerminal(why);
}

bool TModemProxy::OpenTerminal(std::string* why) {
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 ||
        ::ptsname_r(FMaster, name, sizeof(name)) != 0) {
        *why = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        CloseTerminal();
        return false;
    }
    FSlavePath = name;
    ++FTerminalGeneration;
    // Our own descriptor keeps the terminal alive between the host's sessions.
    FKeeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (FKeeper < 0 || ::tcgetattr(FKeeper, &t) != 0) {
        *why = FSlavePath + ": " + std::strerror(errno);
        CloseTerminal();
        return false;
    }
    // A modem port starts raw, as serial drivers leave it; the host sets what it needs.
    ::cfmakeraw(&t);
    t.c_cflag |= CREAD | CLOCAL | HUPCL;
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(FKeeper, TCSANOW, &t);
    FHaveHostSettings = false;
    struct stat dev {};
    if (::stat(FModem.Device.c_str(), &dev) == 0) {
        (void)!::chown(name, static_cast<uid_t>(-1), dev.st_gid);
        ::chmod(name, 0660);
    }
    FInotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (FInotify < 0 || ::inotify_add_watch(FInotify, name, IN_OPEN | IN_CLOSE) < 0) {
        *why = std::string("inotify: ") + std::strerror(errno);
        CloseTerminal();
        return false;
    }
    FHostOpens = 0;
    std::string tmp = FModem.Link + ".vardeld-new";
    ::unlink(tmp.c_str());
    if (::symlink(name, tmp.c_str()) != 0 || ::rename(tmp.c_str(), FModem.Link.c_str()) != 0) {
        *why = "cannot publish " + FModem.Link + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        CloseTerminal();
        return false;
    }
    FContext.Loop.Watch(FInotify, POLLIN, [this](short) { DrainInotify(); });
    FContext.Loop.Watch(FMaster, POLLIN, [this](short r) { OnMaster(r); });
    return true;
}

void TModemProxy::CloseTerminal() {
    for (int* fd : {&FMaster, &FKeeper, &FInotify}) {
        if (*fd >= 0) {
            FContext.Loop.Unwatch(*fd);
            ::close(*fd);
        }
        *fd = -1;
    }
    FHostOpens = 0;
}

void TModemProxy::DrainInotify() {
    const std::uint64_t generation = FTerminalGeneration;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = ::read(FInotify, buf, sizeof(buf));
        if (n <= 0)
            break;
        for (char* p = buf; p < buf + n;) {
            auto* e = reinterpret_cast<inotify_event*>(p);
            if (e->mask & IN_OPEN)
                ++FHostOpens;
            if (e->mask & IN_CLOSE)
                FHostOpens = FHostOpens > 0 ? FHostOpens - 1 : 0;
            p += sizeof(inotify_event) + e->len;
            // A dialer that closes and reopens at once starts a new session: each event counts.
            if (FHostOpens == 0 && FSession)
                EndSession();
            else if (FHostOpens > 0 && !FSession && FKeeper >= 0)
                StartSession();
            if (FTerminalGeneration != generation)
                return; // the session could not start and the terminal was replaced
        }
    }
}

void TModemProxy::StartSession() {
    FDevice = ::open(FModem.Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (FDevice < 0) {
        Log("cannot open " + FModem.Device + ": " + std::strerror(errno));
        HangUpHost("the modem cannot be opened");
        return;
    }
    FSession = true;
    FSessionTag = 0;
    FDtrDown = false;
    FCarrierSeen = false;
    FHaveHostSettings = false;
    SyncLineSettings();
    FContext.Loop.Watch(FDevice, POLLIN, [this](short r) { OnDevice(r); });
    FTick = FContext.Loop.After(kTickMs, [this] { OnTick(); });
    UpdateEvents();
}

void TModemProxy::StartLineTimer(int ms) {
    if (FLineTimer)
        FContext.Loop.Cancel(FLineTimer);
    FLineTimer = FContext.Loop.After(ms, [this] {
        FLineTimer = 0;
        FLine.TimerExpired();
        UpdateEvents();
    });
}

void TModemProxy::EndSession() {
    if (!FSession)
        return;
    FSession = false;
    FQuery.reset();
    FLine.SessionEnded();
    for (std::uint64_t* timer : {&FTick, &FLineTimer}) {
        if (*timer)
            FContext.Loop.Cancel(*timer);
        *timer = 0;
    }
    if (FDevice >= 0) {
        SetDtr(false);
        FContext.Loop.Unwatch(FDevice);
        ::close(FDevice);
        FDevice = -1;
    }
    // The queues' memory goes back with the session, not only their bytes.
    std::string().swap(FToHost);
    std::string().swap(FToDevice);
    FHostOutputDropped = false;
    if (FKeeper >= 0)
        ::tcflush(FKeeper, TCIFLUSH); // what the modem said to the last host
    UpdateEvents();
}

void TModemProxy::HangUpHost(const char* why) {
    Log(std::string("hanging up the host: ") + why);
    EndSession();
    CloseTerminal();
    std::string error;
    if (!OpenTerminal(&error))
        Log(error);
}

void TModemProxy::OnMaster(short revents) {
    DrainInotify();
    if (FMaster < 0)
        return;
    if (revents & POLLOUT)
        Flush();
    if (!(revents & POLLIN) || FLine.Holding())
        return;
    char buf[4096];
    ssize_t n = ::read(FMaster, buf, sizeof(buf));
    if (n <= 0)
        return;
    if (!FSession)
        return; // left by a host that is already gone
    SyncLineSettings();
    FLine.HostBytes(std::string_view(buf, static_cast<std::size_t>(n)));
    UpdateEvents();
}

void TModemProxy::OnDevice(short revents) {
    if (revents & POLLOUT)
        Flush();
    if (revents & POLLIN) {
        char buf[4096];
        ssize_t n = ::read(FDevice, buf, sizeof(buf));
        if (n > 0) {
            FLine.ModemBytes(std::string_view(buf, static_cast<std::size_t>(n)));
            UpdateEvents();
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
    }
    if (revents & (POLLHUP | POLLERR)) {
        FLine.CallEnded("the modem went away");
        HangUpHost("the modem went away");
    }
}

void TModemProxy::OnTick() {
    FTick = FContext.Loop.After(kTickMs, [this] { OnTick(); });
    SyncLineSettings();
    if (!FLine.InDataMode() || FDevice < 0) {
        FCarrierSeen = false;
        return;
    }
    int bits = 0;
    if (::ioctl(FDevice, TIOCMGET, &bits) != 0)
        return; // no modem-control lines (not a serial port): the replies tell the carrier's end
    if (bits & TIOCM_CAR) {
        FCarrierSeen = true;
    } else if (FCarrierSeen) {
        FCarrierSeen = false;
        FLine.CallEnded("the carrier dropped");
        if (FHaveHostSettings && !(FHostSettings.c_cflag & CLOCAL))
            HangUpHost("the carrier dropped"); // as the serial driver hangs up a modem-controlled port
    }
}

void TModemProxy::SyncLineSettings() {
    if (FKeeper < 0 || FDevice < 0)
        return;
    termios t{};
    if (::tcgetattr(FKeeper, &t) != 0)
        return;
    bool changed =
        !FHaveHostSettings || ::cfgetospeed(&t) != ::cfgetospeed(&FHostSettings) ||
        (t.c_cflag & (kCopiedCflags | CLOCAL)) != (FHostSettings.c_cflag & (kCopiedCflags | CLOCAL)) ||
        (t.c_iflag & (IXON | IXOFF)) != (FHostSettings.c_iflag & (IXON | IXOFF));
    if (!changed)
        return;
    FHostSettings = t;
    FHaveHostSettings = true;
    if (::cfgetospeed(&t) == B0) {
        if (!FDtrDown) {
            FDtrDown = true;
            FLine.CallEnded("the host dropped DTR");
            SetDtr(false);
        }
        return;
    }
    ApplyDeviceSettings(t);
    if (FDtrDown) {
        FDtrDown = false;
        SetDtr(true);
    }
}

void TModemProxy::ApplyDeviceSettings(const termios& host) {
    termios d{};
    if (::tcgetattr(FDevice, &d) != 0)
        return;
    ::cfmakeraw(&d);
    d.c_cflag = (d.c_cflag & ~kCopiedCflags) | (host.c_cflag & kCopiedCflags) | CREAD | CLOCAL;
    d.c_iflag = (d.c_iflag & ~(IXON | IXOFF)) | (host.c_iflag & (IXON | IXOFF));
    d.c_cc[VMIN] = 1;
    d.c_cc[VTIME] = 0;
    ::cfsetispeed(&d, ::cfgetospeed(&host));
    ::cfsetospeed(&d, ::cfgetospeed(&host));
    ::tcsetattr(FDevice, TCSANOW, &d);
}

void TModemProxy::SetDtr(bool on) {
    if (FDevice < 0)
        return;
    int dtr = TIOCM_DTR;
    ::ioctl(FDevice, on ? TIOCMBIS : TIOCMBIC, &dtr);
    if (!on) {
        // Speed 0 is how a serial driver is told to drop DTR where the ioctl is not served.
        termios d{};
        if (::tcgetattr(FDevice, &d) == 0) {
            ::cfsetospeed(&d, B0);
            ::tcsetattr(FDevice, TCSANOW, &d);
        }
    } else if (FHaveHostSettings) {
        ApplyDeviceSettings(FHostSettings);
    }
}

void TModemProxy::ToHost(std::string_view bytes) {
    if (!FSession)
        return;
    // A host that reads nothing must not make the service grow: beyond the bound its output is lost.
    std::size_t room = kQueueLimit - std::min(kQueueLimit, FToHost.size());
    if (bytes.size() > room) {
        if (!FHostOutputDropped)
            Log("the host reads nothing; what it is sent beyond " + std::to_string(kQueueLimit / 1024) +
                " KiB is dropped");
        FHostOutputDropped = true;
        bytes = bytes.substr(0, room);
    }
    FToHost.append(bytes);
    Flush();
}

void TModemProxy::ToDevice(std::string_view bytes) {
    if (FDevice < 0)
        return;
    FToDevice.append(bytes);
    Flush();
}

void TModemProxy::Flush() {
    auto drain = [](int fd, std::string& queue) {
        while (fd >= 0 && !queue.empty()) {
            ssize_t n = ::write(fd, queue.data(), queue.size());
            if (n <= 0)
                break;
            queue.erase(0, static_cast<std::size_t>(n));
        }
    };
    drain(FMaster, FToHost);
    drain(FDevice, FToDevice);
    UpdateEvents();
}

void TModemProxy::UpdateEvents() {
    if (FMaster >= 0) {
        short e = 0;
        if (!FLine.Holding() && FToDevice.size() < kQueueLimit)
            e |= POLLIN;
        if (!FToHost.empty())
            e |= POLLOUT;
        FContext.Loop.SetEvents(FMaster, e);
    }
    if (FDevice >= 0) {
        // The modem is always read, so that its replies keep the line's state true even when
        // the host reads nothing (ToHost drops what does not fit).
        short e = POLLIN;
        if (!FToDevice.empty())
            e |= POLLOUT;
        FContext.Loop.SetEvents(FDevice, e);
    }
}

std::uint32_t TModemProxy::CurrentRequestTag() {
    // One session is one program's: the tag is worked out at its first dial.
    if (FSessionTag != 0)
        return FSessionTag;
    pid_t oldest = 0;
    unsigned long long oldestStart = 0;
    FSessionHolders = ProcessesHolding(FSlavePath);
    for (pid_t pid : FSessionHolders) {
        unsigned long long start = ProcessStartTime(pid);
        if (oldest == 0 || start < oldestStart || (start == oldestStart && pid < oldest))
            oldest = pid, oldestStart = start;
    }
    std::string program = oldest ? ProcessExe(oldest) : std::string();
    std::uint32_t tag = Fnv1a(FModem.Link + '\0' + program);
    FSessionTag = tag == 0 ? 1 : tag; // 0 is the guard's "no previous request"
    return FSessionTag;
}

void TModemProxy::AskGuard(const TDialAttempt& attempt) {
    std::string shown = attempt.Number.empty() ? "(" + attempt.DialString + ")" : attempt.Number;
    auto noGuard = [this, shown](const std::string& detail) {
        bool allow = FSettings.NoGuardAllowsDial;
        Log("no guard answered the dial of " + shown + (detail.empty() ? "" : " (" + detail + ")") +
            "; the default applies: " + (allow ? "allowed" : "refused"));
        FLine.Decide(allow ? TDialDecision::ddNoGuardAllow : TDialDecision::ddNoGuardRefuse);
        UpdateEvents();
    };
    std::vector<TGuardEntry> guards = FContext.Guards.Snapshot();
    if (guards.empty()) {
        noGuard("none registered");
        return;
    }
    qm::TDialRequest request;
    request.RequestTag = CurrentRequestTag();
    request.PhoneNumber = attempt.Number;
    if (auto entry = FindPeersEntry(FSettings.EtcDir, attempt.Number)) {
        request.EntryName = entry->Name;
        request.PhonebookPath = entry->PhoneBook;
    } else if (attempt.Number.empty()) {
        // A dial of a number the modem keeps (ATDL): the entry pppd or wvdial was started for lets the guard
        // read the number from the phone book.
        for (pid_t pid : FSessionHolders) {
            // The program's own arguments name the file: it is read as the program's user could.
            const std::optional<TCredentials> who = ProcessCredentials(pid);
            if (!who)
                continue;
            const TFileReader read = [&who](const std::string& path) {
                return ReadFileAs(path, *who, kMaxPhoneBook, kReadBoundMs);
            };
            if (auto entry = EntryOfDialingProgram(FSettings.EtcDir, ProcessArgs(pid), read)) {
                request.EntryName = entry->Name;
                request.PhonebookPath = entry->PhoneBook;
            }
        }
    }
    FQuery = std::make_unique<TGuardQuery>(
        FContext.Loop, guards, qm::kHookDialRequest, qm::EncodeDialRequest(request), FSettings.AnswerBoundMs,
        [this, shown, noGuard](const TGuardVerdict& v) {
            FQuery.reset();
            if (v.Answered == 0) {
                noGuard(v.TimedOut ? "no answer in time" : v.Detail);
                return;
            }
            Log("dial of " + shown + (v.Refused ? " refused" : " allowed") + " by the guard");
            FLine.Decide(v.Refused ? TDialDecision::ddRefuse : TDialDecision::ddAllow);
            UpdateEvents();
        });
    UpdateEvents();
}
