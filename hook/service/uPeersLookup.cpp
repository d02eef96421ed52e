#include "uPeersLookup.h"

#include "platform/uNoProcessControl.h"

#include "platform/linux/uAtScanner.h"
#include "platform/linux/uLinuxRemoteAccess.h"
#include "platform/linux/uPppConfig.h"
#include "util/uQmError.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void TrimSlashes(std::string& dir) {
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// An entry's number as the modem would read it after ATD, so that "0 202-122" matches "0202122".
std::string DialedNumber(const std::string& entryNumber) {
    const TAtLine line = ScanAtLine("ATD" + entryNumber);
    return !line.Dials.empty() && line.Dials.front().Known ? line.Dials.front().Number : std::string();
}

} // namespace

std::optional<TPeersEntry> FindPeersEntry(std::string etcDir, const std::string& number) {
    if (number.empty())
        return std::nullopt;
    TrimSlashes(etcDir);
    TNoProcessControl processes;
    TLinuxRemoteAccess remoteAccess(etcDir, processes);
    std::vector<std::string> names;
    if (!remoteAccess.GetEntryList(names))
        return std::nullopt;
    const std::string peersDir = etcDir + "/ppp/peers";
    std::optional<TPeersEntry> found;
    int matches = 0;
    for (const std::string& name : names) {
        // A peer hides a wvdial dialer of its name, as in the guard's list.
        const std::string phoneBook =
            IsRegularFile(peersDir + "/" + name) ? peersDir : etcDir + "/wvdial.conf";
        try {
            if (DialedNumber(remoteAccess.GetEntryPhoneNumber(name, phoneBook)) != number)
                continue;
        } catch (const EQmError&) {
            return std::nullopt; // an entry we cannot read might dial it too: unclear
        }
        ++matches;
        found = TPeersEntry{name, phoneBook};
    }
    return matches == 1 ? found : std::nullopt;
}

std::optional<TPeersEntry> EntryOfDialingProgram(std::string etcDir, const std::vector<std::string>& args,
                                                 const TFileReader& readFile) {
    TrimSlashes(etcDir);
    const std::string peersDir = etcDir + "/ppp/peers";
    for (std::size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "call" && args[i + 1].find('/') == std::string::npos && args[i + 1] != ".." &&
            IsRegularFile(peersDir + "/" + args[i + 1]))
            return TPeersEntry{args[i + 1], peersDir};
    if (args.empty() || std::filesystem::path(args[0]).filename() != "wvdial")
        return std::nullopt;
    std::string confFile = etcDir + "/wvdial.conf";
    std::vector<std::string> names;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if ((args[i] == "--config" || args[i] == "-C") && i + 1 < args.size())
            confFile = args[++i];
        else if (args[i].starts_with("--config="))
            confFile = args[i].substr(9);
        else if (!args[i].starts_with("-"))
            names.push_back(args[i]);
    }
    const std::optional<std::string> text = readFile(confFile);
    if (!text)
        return std::nullopt;
    const qm::ppp::TWvdialConf conf = qm::ppp::ParseWvdialConf(*text);
    for (const std::string& name : names)
        if (qm::ppp::HasWvdialDialer(conf, name))
            return TPeersEntry{name, confFile}; // the file names the dialer's own section
    return std::nullopt;
}

std::optional<TCredentials> ProcessCredentials(pid_t pid, const std::string& procDir) {
    std::ifstream in(procDir + "/" + std::to_string(pid) + "/status");
    TCredentials who;
    bool uid = false, gid = false;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "Uid:")
            uid = static_cast<bool>(fields >> who.Uid); // the real one: the user who started it
        else if (key == "Gid:")
            gid = static_cast<bool>(fields >> who.Gid);
        else if (key == "Groups:")
            for (gid_t g; fields >> g;)
                who.Groups.push_back(g);
    }
    if (!uid || !gid)
        return std::nullopt;
    return who;
}

std::optional<std::string> ReadFileAs(const std::string& path, const TCredentials& who, std::size_t maxBytes,
                                      int timeoutMs) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return std::nullopt;
    }
    if (child == 0) {
        // Only system calls from here: the service has other threads.
        ::close(pipeFds[0]);
        if (::setgroups(who.Groups.size(), who.Groups.data()) != 0 ||
            ::setresgid(who.Gid, who.Gid, who.Gid) != 0 || ::setresuid(who.Uid, who.Uid, who.Uid) != 0)
            ::_exit(1);
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<unsigned long long>(st.st_size) > maxBytes)
            ::_exit(1);
        char buf[16384];
        std::size_t total = 0;
        for (ssize_t n; (n = ::read(fd, buf, sizeof(buf))) > 0;) {
            total += static_cast<std::size_t>(n);
            if (total > maxBytes || ::write(pipeFds[1], buf, static_cast<std::size_t>(n)) != n)
                ::_exit(1);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string text;
    bool complete = false, tooBig = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        pollfd p{pipeFds[0], POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buf[16384];
        const ssize_t n = ::read(pipeFds[0], buf, sizeof(buf));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            complete = n == 0;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > maxBytes) {
            tooBig = true;
            break;
        }
    }
    ::close(pipeFds[0]);
    ::kill(child, SIGKILL); // a child stalled in a filesystem goes; one that finished is only reaped
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || tooBig || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return text;
}
