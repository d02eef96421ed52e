#pragma once
// The remote-access layer on Linux. The phone book is the pppd peers folder (etc/ppp/peers/NAME,
// read after etc/ppp/options as pppd does, with their file and call includes) and the dialer
// sections of etc/wvdial.conf; an entry's number is the dial string of the AT dial command of the
// chat script its connect option runs (or wvdial's Phone). A peer dials with "pppd call NAME", a
// wvdial dialer with "wvdial NAME"; hanging up ends every pppd and wvdial.
#include "platform/IProcessControl.h"
#include "platform/IRemoteAccess.h"

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
    std::string EntryListError() const override { return FEntryListError; }
    bool Dial(const std::string& entryName) override;

protected:
    bool DoHangUpAll() override;

private:
    struct TPeer {
        std::optional<std::string> Connect;
    };
    std::string MapPath(const std::string& path) const;
    // Applies an option file's options; a file that exists but cannot be read raises when required.
    void ApplyOptionFile(const std::string& path, TPeer& peer, std::set<std::string>& open, bool required,
                         const std::string& peersDir) const;
    std::string NumberOfPeer(const std::string& peerFile, const std::string& peersDir) const;
    std::string NumberOfConnect(const std::string& connect) const;
    std::optional<std::string> NumberOfWvdial(const std::string& confFile,
                                              const std::string& entryName) const;

    std::string FEtcDir;
    std::string FEntryListError;
    IProcessControl& FProcesses;
};
