#pragma once
// Finds the pppd peers entry that dials a given number, so that a dial request can name the entry and
// its phone book. Only an exact match of exactly one entry counts; anything unclear names no entry.
#include <optional>
#include <string>
#include <vector>

struct TPeersEntry {
    std::string Name;
    std::string PhoneBook; // the folder that holds the entry: <etc>/ppp/peers
};

// The dial numbers in a chat script's text ("\T" replaced by phoneSubstitute).
std::vector<std::string> ChatScriptNumbers(const std::string& script, const std::string& phoneSubstitute);
std::optional<TPeersEntry> FindPeersEntry(const std::string& etcDir, const std::string& number);
