#pragma once
// Finds the phone book entry that dials a given number, so that a dial request can name the entry and
// its phone book. The entries are read by the guard's own remote-access layer (pppd peers and wvdial
// dialers), so the service and the guard agree on what an entry dials. Only an exact match of exactly
// one entry counts; anything unclear names no entry.
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct TPeersEntry {
    std::string Name;
    std::string PhoneBook; // <etc>/ppp/peers for a pppd peer, <etc>/wvdial.conf for a wvdial dialer
};

// number is a dialled number as the AT scanner gives it (TAtDial::Number).
std::optional<TPeersEntry> FindPeersEntry(std::string etcDir, const std::string& number);

// The real identity of a process: whose files its arguments may name.
struct TCredentials {
    uid_t Uid = 0;
    gid_t Gid = 0;
    std::vector<gid_t> Groups;
};
std::optional<TCredentials> ProcessCredentials(pid_t pid, const std::string& procDir = "/proc");

// Reads a file as the given user could, in a child process that takes that user's identity: only a
// regular file of at most maxBytes, read within timeoutMs (a FIFO, a device, a stalled filesystem
// give nothing). nullopt when it cannot be read so.
std::optional<std::string> ReadFileAs(const std::string& path, const TCredentials& who, std::size_t maxBytes,
                                      int timeoutMs);

using TFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// The entry a dialing program was started for, from its argv: "call NAME" of pppd (a peer that
// exists), or the dialer names of wvdial (the first one its configuration has, "--config FILE" or
// "-C FILE" honoured; the configuration is read through readFile, as the program's user). For
// dials that name no number of their own (ATDL).
std::optional<TPeersEntry> EntryOfDialingProgram(std::string etcDir, const std::vector<std::string>& args,
                                                 const TFileReader& readFile);
