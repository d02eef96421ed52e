#include "uPeersLookup.h"

#include "platform/linux/uAtScanner.h"
#include "platform/linux/uLinuxRemoteAccess.h"
#include "platform/linux/uPppConfig.h"
#include "util/uQmError.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

// The lookup only reads the phone book; it never dials or hangs up.
class TNoProcesses : public IProcessControl {
public:
    std::optional<std::vector<TProcessInfo>> ListProcesses() override { return std::nullopt; }
    void EndProcesses(const std::vector<TProcessInfo>&) override {}
    bool StartDetached(const std::vector<std::string>&) override { return false; }
};

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
    TNoProcesses processes;
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

std::optional<TPeersEntry> EntryOfDialingProgram(std::string etcDir, const std::vector<std::string>& args) {
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
    std::ifstream in(confFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const qm::ppp::TWvdialConf conf = qm::ppp::ParseWvdialConf(text.str());
    for (const std::string& name : names)
        if (qm::ppp::HasWvdialDialer(conf, name))
            return TPeersEntry{name, confFile}; // the file names the dialer's own section
    return std::nullopt;
}
