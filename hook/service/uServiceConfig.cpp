#include "uServiceConfig.h"

#include "util/uQmError.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Blanks and control characters of every kind count as white space (a vertical tab or a form
// feed left by an editor must not end up in a path).
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
}

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::vector<std::string> Words(const std::string& s) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.size();) {
        while (i < s.size() && IsBlank(s[i]))
            ++i;
        std::size_t start = i;
        while (i < s.size() && !IsBlank(s[i]))
            ++i;
        if (i > start)
            out.push_back(s.substr(start, i - start));
    }
    return out;
}

// One spelling per path, so that "/dev//ttyS0" and "/dev/ttyS0" are seen to be the same.
std::string Normal(const std::string& path) {
    std::string n = std::filesystem::path(path).lexically_normal().string();
    while (n.size() > 1 && n.back() == '/')
        n.pop_back();
    return n;
}

bool IsAbsolute(const std::string& p) {
    return !p.empty() && p[0] == '/';
}

} // namespace

TServiceConfig ParseServiceConfig(const std::string& text, const std::string& fileName) {
    TServiceConfig c;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    std::set<std::string> devices, links;
    auto fail = [&](const std::string& why) {
        throw EQmError(fileName + ":" + std::to_string(lineNo) + ": " + why);
    };
    while (std::getline(in, raw)) {
        ++lineNo;
        std::string line = Trim(raw.substr(0, raw.find('#')));
        if (line.empty())
            continue;
        std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            fail("expected \"key = value\"");
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        std::vector<std::string> words = Words(value);
        if (key == "modem") {
            if (words.size() != 2 || !IsAbsolute(words[0]) || !IsAbsolute(words[1]))
                fail("modem needs an absolute device path and an absolute link path");
            const std::string device = Normal(words[0]), link = Normal(words[1]);
            // The service replaces the link path: it must never be a modem's device.
            if (device == link || devices.count(link) || links.count(device))
                fail("a modem's link may not be a modem's device: " + value);
            if (!devices.insert(device).second || !links.insert(link).second)
                fail("modem device or link given twice: " + value);
            c.Modems.push_back({device, link});
        } else if (key == "answer_bound") {
            int v = 0;
            auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
            if (ec != std::errc() || p != value.data() + value.size() || v < 1 || v > 24 * 3600)
                fail("answer_bound must be a number of seconds from 1 to 86400");
            c.AnswerBoundSeconds = v;
        } else if (key == "no_guard") {
            if (value != "refuse" && value != "allow")
                fail("no_guard must be refuse or allow");
            c.NoGuardAllowsDial = value == "allow";
        } else if (key == "exec_guard") {
            if (value != "yes" && value != "no")
                fail("exec_guard must be yes or no");
            c.ExecGuard = value == "yes";
        } else if (key == "exec_mounts") {
            c.ExecMounts.clear();
            for (const std::string& w : words) {
                if (!IsAbsolute(w))
                    fail("exec_mounts takes absolute paths");
                c.ExecMounts.push_back(Normal(w));
            }
        } else if (key == "run_dir" || key == "lock_dir" || key == "etc_dir") {
            if (words.size() != 1 || !IsAbsolute(value))
                fail(key + " must be one absolute path");
            (key == "run_dir" ? c.RunDir : key == "lock_dir" ? c.LockDir : c.EtcDir) = Normal(value);
        } else {
            fail("unknown key \"" + key + "\"");
        }
    }
    return c;
}

TServiceConfig LoadServiceConfig(const std::string& path) {
    // Only a regular file of sensible size: a FIFO or a device named by mistake must neither hang
    // the service nor fill its memory.
    constexpr off_t kMaxConfig = 1024 * 1024;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw EQmError(path + ": cannot be read (" + std::strerror(errno) + ")");
    struct stat st {};
    std::string text;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && st.st_size <= kMaxConfig) {
        char buf[65536];
        for (ssize_t n; (n = ::read(fd, buf, sizeof(buf))) > 0 && text.size() <= kMaxConfig;)
            text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!regular)
        throw EQmError(path + ": not a regular file");
    if (st.st_size > kMaxConfig || text.size() > kMaxConfig)
        throw EQmError(path + ": larger than 1 MiB");
    return ParseServiceConfig(text, path);
}
