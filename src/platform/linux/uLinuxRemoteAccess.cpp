#include "platform/linux/uLinuxRemoteAccess.h"

#include "platform/linux/uPppConfig.h"
#include "util/libStrUtilsQmPack.h"
#include "util/uQmError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kMaxIncludeDepth = 16;
// No phone-book file comes near this; a bigger one (or a device in a file's place) is refused.
constexpr std::size_t kMaxPhoneBookFile = 1u << 20;

enum class TRead { rdOk, rdMissing, rdDenied };

// Why a file or folder could not be read: the reason's text and errno (0 when no call failed).
struct TDenied {
    std::string Reason;
    int Error = 0;
    void Set(int error) {
        Error = error;
        Reason = std::strerror(error);
    }
};

// Reads a whole file; rdMissing when there is none, rdDenied (with a reason) when it is there but
// cannot be read. Only regular files are read, and at most kMaxPhoneBookFile bytes: a FIFO, a
// device or a huge file named by a configuration must neither block nor exhaust the reader.
TRead ReadFile(const std::string& path, std::string& content, TDenied& reason) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return TRead::rdMissing;
        reason.Set(errno);
        return TRead::rdDenied;
    }
    struct TClose {
        int Fd;
        ~TClose() { ::close(Fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        reason.Set(errno);
        return TRead::rdDenied;
    }
    if (S_ISDIR(st.st_mode)) {
        reason.Set(EISDIR);
        return TRead::rdDenied;
    }
    if (!S_ISREG(st.st_mode)) {
        reason.Reason = "to nie jest zwykły plik";
        return TRead::rdDenied;
    }
    std::string bytes;
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reason.Set(errno);
            return TRead::rdDenied;
        }
        if (n == 0)
            break;
        bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxPhoneBookFile) {
            reason.Reason = "plik jest za duży";
            return TRead::rdDenied;
        }
    }
    content = qm::DecodeLegacyText(bytes);
    return TRead::rdOk;
}

std::optional<TLinuxRemoteAccess::TFileKey> KeyOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return TLinuxRemoteAccess::TFileKey{
        st.st_dev, st.st_ino, static_cast<std::uint64_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
        static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

// What an ordinary user can do about a phone book kept from him: Debian gives /etc/ppp/peers and
// /etc/chatscripts to root and group dip, so the advice names the group that may read the path.
std::string AccessAdvice(const std::string& path) {
    std::string probe = path;
    struct stat st {};
    while (!probe.empty() && ::stat(probe.c_str(), &st) != 0) {
        const std::size_t slash = probe.find_last_of('/');
        probe = slash == std::string::npos || slash == 0 ? std::string() : probe.substr(0, slash);
    }
    std::string groupName;
    if (!probe.empty() && st.st_gid != 0 && (st.st_mode & S_IRGRP)) {
        std::vector<char> buffer(16384);
        group g{};
        group* found = nullptr;
        if (::getgrgid_r(st.st_gid, &g, buffer.data(), buffer.size(), &found) == 0 && found)
            groupName = found->gr_name;
    }
    std::string user = "UŻYTKOWNIK";
    {
        std::vector<char> buffer(16384);
        passwd pw{};
        passwd* found = nullptr;
        if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found)
            user = found->pw_name;
    }
    // Lines of their own: the message box never wraps a line.
    if (groupName.empty())
        return "\nUstawienia połączeń może odczytać tylko administrator systemu.";
    return "\nUstawienia połączeń mogą odczytać tylko administrator i członkowie grupy " + groupName +
           ".\nAby QmVardel mógł je odczytać, dodaj swoje konto do tej grupy\n(jako administrator: adduser " +
           user + " " + groupName + ") i zaloguj się ponownie.";
}

std::string UnreadableText(const std::string& path, const TDenied& denied) {
    std::string text =
        "Nie można odczytać ustawień połączeń telefonicznych: " + path + " (" + denied.Reason + ")";
    if (denied.Error == EACCES || denied.Error == EPERM) {
        text += '.';
        text += AccessAdvice(path);
    }
    return text;
}

[[noreturn]] void Unreadable(const std::string& path, const TDenied& denied) {
    throw EQmError(UnreadableText(path, denied));
}

std::string ReadRequired(const std::string& path) {
    std::string content;
    TDenied reason;
    if (ReadFile(path, content, reason) == TRead::rdDenied)
        Unreadable(path, reason);
    return content;
}

// Names in the peers folder that are editor or package leftovers, not entries.
bool IsEntryFileName(const std::string& name) {
    if (name.empty() || name[0] == '.')
        return false;
    for (const char* suffix : {"~", ".bak", ".orig", ".rej", ".swp", ".dpkg-old", ".dpkg-new", ".dpkg-dist",
                               ".dpkg-bak", ".ucf-old", ".ucf-new", ".ucf-dist"})
        if (name.ends_with(suffix))
            return false;
    return true;
}

// pppd takes a peer name only as a plain file name.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool LessByName(const std::string& a, const std::string& b) {
    const std::string la = qm::LowerAscii(a), lb = qm::LowerAscii(b);
    return la != lb ? la < lb : a < b;
}

} // namespace

TLinuxRemoteAccess::TLinuxRemoteAccess(std::string etcDir, IProcessControl& processes)
    : FEtcDir(std::move(etcDir)), FProcesses(processes) {
    while (FEtcDir.size() > 1 && FEtcDir.back() == '/')
        FEtcDir.pop_back();
}

std::string TLinuxRemoteAccess::MapPath(const std::string& path) const {
    // pppd runs its connect command in "/", so a relative path starts there.
    const std::string absolute = path.starts_with("/") ? path : "/" + path;
    if (absolute == "/etc")
        return FEtcDir;
    if (absolute.starts_with("/etc/"))
        return FEtcDir + absolute.substr(4);
    return absolute;
}

void TLinuxRemoteAccess::ApplyOptionFile(const std::string& path, TPeer& peer, TIncludes& includes,
                                         bool required, const std::string& peersDir) const {
    // Each file counts once per entry, by identity: a file that includes itself (or a cycle, or
    // one file under many spellings) is read once, not once per path to it.
    if (includes.Depth >= kMaxIncludeDepth)
        return;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !includes.Applied.insert({st.st_dev, st.st_ino}).second)
        return;
    std::string content;
    TDenied reason;
    const TRead read = ReadFile(path, content, reason);
    if (read == TRead::rdDenied && required)
        Unreadable(path, reason);
    if (read != TRead::rdOk)
        return;
    ++includes.Depth;
    const std::vector<std::string> words = qm::ppp::SplitOptionWords(content);
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& option = words[i];
        if (!qm::ppp::OptionTakesValue(option) || i + 1 >= words.size())
            continue;
        const std::string& value = words[++i];
        if (option == "connect")
            peer.Connect = value;
        else if (option == "file")
            ApplyOptionFile(MapPath(value), peer, includes, false, peersDir);
        else if (option == "call" && IsPlainName(value))
            ApplyOptionFile(peersDir + "/" + value, peer, includes, false, peersDir);
    }
    --includes.Depth;
}

std::string TLinuxRemoteAccess::NumberOfConnect(const std::string& connect) const {
    const qm::ppp::TChatCall chat = qm::ppp::ParseConnectCommand(connect);
    if (!chat.IsChat)
        return {}; // some other dialer program: its number is not ours to know
    std::vector<std::string> tokens = chat.InlineScript;
    if (!chat.ScriptFile.empty())
        tokens = qm::ppp::SplitChatScript(ReadRequired(MapPath(chat.ScriptFile)));
    return qm::Trim(qm::ppp::DialedNumberOfChatScript(tokens, chat.Phone, chat.Phone2));
}

std::string TLinuxRemoteAccess::NumberOfPeer(const std::string& peerFile, const std::string& peersDir) const {
    TPeer peer;
    // The system-wide options come first, as pppd reads them; the peer's own options win.
    TIncludes system;
    ApplyOptionFile(FEtcDir + "/ppp/options", peer, system, false, peersDir);
    TIncludes own;
    ApplyOptionFile(peerFile, peer, own, true, peersDir);
    return peer.Connect ? NumberOfConnect(*peer.Connect) : std::string();
}

const qm::ppp::TWvdialConf* TLinuxRemoteAccess::WvdialConf(const std::string& confFile, bool required) const {
    // Parsed once per version of the file: a lookup over every entry asks for it per dialer.
    const std::optional<TFileKey> key = KeyOf(confFile);
    const auto cached = FWvdialCache.find(confFile);
    if (key && cached != FWvdialCache.end() && cached->second.Key == *key)
        return &cached->second.Conf;
    std::string content;
    TDenied reason;
    const TRead read = ReadFile(confFile, content, reason);
    if (read == TRead::rdDenied && required)
        Unreadable(confFile, reason);
    if (read != TRead::rdOk)
        return nullptr;
    TWvdialCacheEntry& entry = FWvdialCache[confFile];
    entry.Key = key.value_or(TFileKey{});
    entry.Conf = qm::ppp::ParseWvdialConf(content);
    entry.HasDialers = !qm::ppp::WvdialDialers(entry.Conf).empty();
    return &entry.Conf;
}

std::optional<std::string> TLinuxRemoteAccess::NumberOfWvdial(const std::string& confFile,
                                                              const std::string& entryName) const {
    const qm::ppp::TWvdialConf* conf = WvdialConf(confFile, true);
    if (!conf || !qm::ppp::HasWvdialDialer(*conf, entryName))
        return std::nullopt;
    return qm::Trim(qm::ppp::WvdialValue(*conf, entryName, "Phone").value_or(""));
}

std::string TLinuxRemoteAccess::GetEntryPhoneNumber(const std::string& entryName,
                                                    const std::string& phonebookPath) {
    std::string peersDir = FEtcDir + "/ppp/peers";
    std::string wvdialConf = FEtcDir + "/wvdial.conf";
    if (!phonebookPath.empty() && IsDirectory(phonebookPath)) {
        peersDir = phonebookPath; // a folder of peers
        wvdialConf.clear();
    } else if (!phonebookPath.empty() && IsRegularFile(phonebookPath)) {
        const qm::ppp::TWvdialConf* conf = WvdialConf(phonebookPath, true);
        if (conf && FWvdialCache.at(phonebookPath).HasDialers)
            return NumberOfWvdial(phonebookPath, entryName).value_or("");
        return NumberOfPeer(phonebookPath, peersDir); // one pppd option file: the entry itself
    }
    if (IsPlainName(entryName)) {
        const std::string peerFile = peersDir + "/" + entryName;
        struct stat st {};
        if (::stat(peerFile.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return NumberOfPeer(peerFile, peersDir);
        } else if (errno != ENOENT && errno != ENOTDIR) {
            Unreadable(peersDir, TDenied{std::strerror(errno), errno}); // a folder we may not look into
        }
    }
    if (!wvdialConf.empty())
        return NumberOfWvdial(wvdialConf, entryName).value_or("");
    return {};
}

bool TLinuxRemoteAccess::GetEntryList(std::vector<std::string>& list) {
    list.clear();
    FEntryListError.clear();
    bool anyRead = false;
    std::string deniedText; // the first source that could not be read
    const std::string peersDir = FEtcDir + "/ppp/peers";
    if (DIR* dir = ::opendir(peersDir.c_str())) {
        anyRead = true;
        while (const dirent* e = ::readdir(dir)) {
            const std::string name = e->d_name;
            if (IsEntryFileName(name) && IsRegularFile(peersDir + "/" + name))
                list.push_back(name);
        }
        ::closedir(dir);
    } else if (errno != ENOENT && errno != ENOTDIR) {
        deniedText = UnreadableText(peersDir, TDenied{std::strerror(errno), errno});
    }
    try {
        if (const qm::ppp::TWvdialConf* conf = WvdialConf(FEtcDir + "/wvdial.conf", true)) {
            anyRead = true;
            for (const std::string& dialer : qm::ppp::WvdialDialers(*conf))
                list.push_back(dialer);
        }
    } catch (const EQmError& e) {
        if (deniedText.empty())
            deniedText = e.what();
    }
    if (!deniedText.empty() && !anyRead) {
        list.clear();
        FEntryListError = deniedText;
        return false;
    }
    std::sort(list.begin(), list.end(), LessByName);
    list.erase(std::unique(list.begin(), list.end()), list.end()); // a peer hides a dialer of its name
    return true;
}

bool TLinuxRemoteAccess::Dial(const std::string& entryName) {
    if (!IsPlainName(entryName))
        return false;
    if (IsRegularFile(FEtcDir + "/ppp/peers/" + entryName))
        return FProcesses.StartDetached({"pppd", "call", entryName});
    const qm::ppp::TWvdialConf* conf = WvdialConf(FEtcDir + "/wvdial.conf", false);
    if (conf && qm::ppp::HasWvdialDialer(*conf, entryName))
        return FProcesses.StartDetached({"wvdial", entryName});
    return false;
}

bool TLinuxRemoteAccess::DoHangUpAll() {
    const auto processes = FProcesses.ListProcesses();
    if (!processes)
        return false;
    std::vector<TProcessInfo> links;
    for (const TProcessInfo& p : *processes)
        if (p.Name == "pppd" || p.Name == "wvdial")
            links.push_back(p);
    if (!links.empty())
        FProcesses.EndProcesses(links);
    return true;
}
