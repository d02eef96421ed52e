#include "uPeersLookup.h"

#include "platform/linux/uAtScanner.h"
#include "platform/linux/uLinuxRemoteAccess.h"
#include "util/uQmError.h"

#include <sys/stat.h>

namespace {

// The lookup only reads the phone book; it never dials or hangs up.
class TNoProcesses : public IProcessControl {
public:
    std::optional<std::vector<TProcessInfo>> ListProcesses() override { return std::nullopt; }
    void EndProcesses(const std::vector<TProcessInfo>&) override {}
    bool StartDetached(const std::vector<std::string>&) override { return false; }
};

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
    while (etcDir.size() > 1 && etcDir.back() == '/')
        etcDir.pop_back();
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
