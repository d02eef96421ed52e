#pragma once
// The remote-access layer on Linux. The phone book is the pppd peers folder (etc/ppp/peers/NAME,
// read after etc/ppp/options as pppd does, with their file and call includes) and the dialer
// sections of etc/wvdial.conf; an entry's number is the dial string of the AT dial command of the
// chat script its connect option runs (or wvdial's Phone). A peer dials with "pppd call NAME", a
// wvdial dialer with "wvdial NAME"; hanging up ends every pppd and wvdial.
#include "platform/IProcessControl.h"
#include "platform/IRemoteAccess.h"
#include "platform/linux/uPppConfig.h"

#include <cstdint>
#include <map>
#include <utility>

#include <optional>
#include <set>
#include <string>

class TLinuxRemoteAccess : public IRemoteAccess {
public:
    // etcDir is the root of the configuration ("/etc"); absolute paths under /etc in the files are
    // read below it.
    TLinuxRemoteAccess(std::string etcDir, IProcessControl& processes);

    std::string GetEntryPhoneNumber(const std::string& entryName, const std::string& phonebookPath) override;
    bool GetEntryList(std::vector<std::string>& list) override;
    bool Dial(const std::string& entryName) override;

    // What tells one version of a file from another without reading it.
    struct TFileKey {
        std::uint64_t Dev = 0, Ino = 0, Size = 0;
        std::int64_t Modified = 0, Changed = 0;
        bool operator==(const TFileKey&) const = default;
    };

protected:
    bool DoHangUpAll() override;

private:
    struct TPeer {
        std::optional<std::string> Connect;
    };
    // The option files an entry has read so far, by device and inode, and the include depth.
    struct TIncludes {
        std::set<std::pair<std::uint64_t, std::uint64_t>> Applied;
        int Depth = 0;
    };
    struct TWvdialCacheEntry {
        TFileKey Key;
        qm::ppp::TWvdialConf Conf;
        bool HasDialers = false;
    };
    std::string MapPath(const std::string& path) const;
    // Applies an option file's options; a file that exists but cannot be read raises when required.
    void ApplyOptionFile(const std::string& path, TPeer& peer, TIncludes& includes, bool required,
                         const std::string& peersDir) const;
    // The parsed file, or nothing when it is missing (or unreadable and not required; required
    // raises). Read again only when the file changed.
    const qm::ppp::TWvdialConf* WvdialConf(const std::string& confFile, bool required) const;
    std::string NumberOfPeer(const std::string& peerFile, const std::string& peersDir) const;
    std::string NumberOfConnect(const std::string& connect) const;
    std::optional<std::string> NumberOfWvdial(const std::string& confFile,
                                              const std::string& entryName) const;

    std::string FEtcDir;
    IProcessControl& FProcesses;
    mutable std::map<std::string, TWvdialCacheEntry> FWvdialCache;
};
