#include "uServiceConfig.h"

#include "util/uQmError.h"

#include <charconv>
#include <fstream>
#include <set>
#include <sstream>

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> Words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
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
            if (!devices.insert(words[0]).second || !links.insert(words[1]).second || words[0] == words[1])
                fail("modem device or link given twice: " + value);
            c.Modems.push_back({words[0], words[1]});
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
            for (const std::string& w : words)
                if (!IsAbsolute(w))
                    fail("exec_mounts takes absolute paths");
            c.ExecMounts = words;
        } else if (key == "run_dir" || key == "lock_dir" || key == "etc_dir") {
            if (words.size() != 1 || !IsAbsolute(value))
                fail(key + " must be one absolute path");
            (key == "run_dir" ? c.RunDir : key == "lock_dir" ? c.LockDir : c.EtcDir) = value;
        } else {
            fail("unknown key \"" + key + "\"");
        }
    }
    return c;
}

TServiceConfig LoadServiceConfig(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw EQmError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return ParseServiceConfig(text.str(), path);
}
