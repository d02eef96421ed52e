#include "platform/linux/uLinuxAutoStart.h"

#include "platform/linux/uFd.h"
#include "platform/linux/uLinuxPlatform.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

} // namespace

TLinuxAutoStart::TLinuxAutoStart(std::string configDirs) {
    std::string first = configDirs.substr(0, configDirs.find(':'));
    // Only absolute folders count, as the base directory rules say.
    if (first.empty() || first.front() != '/')
        first = "/etc/xdg";
    while (first.size() > 1 && first.back() == '/')
        first.pop_back();
    FDir = first + "/autostart";
}

std::string TLinuxAutoStart::EntryPath(const std::string& name) const {
    return FDir + "/" + name + ".desktop";
}

std::string TLinuxAutoStart::FormatCommand(const std::string& program, const std::string& argument) const {
    // Inside a quoted Exec argument these four characters need a backslash.
    std::string out = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
    }
    out += "\" ";
    out += argument;
    return out;
}

std::string TLinuxAutoStart::EscapeValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    if (!out.empty() && out.front() == ' ')
        out.replace(0, 1, "\\s");
    return out;
}

std::string TLinuxAutoStart::UnescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char c = value[++i];
        switch (c) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\';
            out += c;
        }
    }
    return out;
}

std::optional<std::string> TLinuxAutoStart::ReadCommand(const std::string& name) const {
    std::FILE* f = std::fopen(EntryPath(name).c_str(), "rb");
    if (!f)
        return std::nullopt;
    std::string content;
    char buf[4096];
    std::size_t n;
    // An autostart entry is a few lines; anything far larger is not one of ours.
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && content.size() < 1 << 20)
        content.append(buf, n);
    std::fclose(f);

    bool inEntry = false;
    bool hidden = false;
    std::optional<std::string> exec;
    std::size_t pos = 0;
    while (pos <= content.size()) {
        auto eol = content.find('\n', pos);
        if (eol == std::string::npos)
            eol = content.size();
        const std::string line = Trim(content.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry)
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = UnescapeValue(Trim(line.substr(eq + 1)));
        if (key == "Exec" && !exec)
            exec = value;
        else if (key == "Hidden")
            hidden = value == "true";
    }
    if (hidden)
        return std::nullopt;
    return exec;
}

bool TLinuxAutoStart::CanChange() {
    return TLinuxFileSystem().CreateDirectories(FDir) && ::access(FDir.c_str(), W_OK | X_OK) == 0;
}

bool TLinuxAutoStart::WriteCommand(const std::string& name, const std::string& command) {
    if (!TLinuxFileSystem().CreateDirectories(FDir))
        return false;
    const std::string content = "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=" +
                                EscapeValue(name) +
                                "\n"
                                "Comment=Strażnik połączeń modemowych\n"
                                "Exec=" +
                                EscapeValue(command) +
                                "\n"
                                "Terminal=false\n"
                                "X-GNOME-Autostart-enabled=true\n";
    // Written beside the entry and renamed over it, so a desktop never reads half an entry.
    const std::string path = EntryPath(name);
    const std::string temp = path + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = qm::WriteAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool TLinuxAutoStart::DeleteCommand(const std::string& name) {
    return ::unlink(EntryPath(name).c_str()) == 0 || errno == ENOENT;
}
