#pragma once
// Finds the phone book entry that dials a given number, so that a dial request can name the entry and
// its phone book. The entries are read by the guard's own remote-access layer (pppd peers and wvdial
// dialers), so the service and the guard agree on what an entry dials. Only an exact match of exactly
// one entry counts; anything unclear names no entry.
#include <optional>
#include <string>
#include <vector>

struct TPeersEntry {
    std::string Name;
    std::string PhoneBook; // <etc>/ppp/peers for a pppd peer, <etc>/wvdial.conf for a wvdial dialer
};

// number is a dialled number as the AT scanner gives it (TAtDial::Number).
std::optional<TPeersEntry> FindPeersEntry(std::string etcDir, const std::string& number);

// The entry a dialing program was started for, from its argv: "call NAME" of pppd (a peer that
// exists), or the dialer names of wvdial (the first one its configuration has, "--config FILE" or
// "-C FILE" honoured). For dials that name no number of their own (ATDL).
std::optional<TPeersEntry> EntryOfDialingProgram(std::string etcDir, const std::vector<std::string>& args);
