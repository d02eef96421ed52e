#pragma once
// A recording fake of the remote-access port: entries by name, optional per-phone-book entries,
// and a switch that makes the phone book unreadable.
#include "platform/IRemoteAccess.h"
#include "util/uQmError.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class TFakeRemoteAccess : public IRemoteAccess {
public:
    std::map<std::string, std::string> Numbers;                      // default phone book
    std::map<std::string, std::map<std::string, std::string>> Books; // other phone books by path
    bool Unreadable = false;
    bool HangUpResult = true;
    std::vector<std::string> NumberQueries; // "entry|path"
    std::vector<std::string> Dialed;
    int HangUps = 0;

    std::string GetEntryPhoneNumber(const std::string& entryName, const std::string& phonebookPath) override {
        NumberQueries.push_back(entryName + "|" + phonebookPath);
        if (Unreadable)
            throw EQmError("Nie można odczytać książki telefonicznej");
        const auto book = Books.find(phonebookPath);
        const auto& entries = book != Books.end() ? book->second : Numbers;
        const auto it = entries.find(entryName);
        return it == entries.end() ? std::string() : it->second;
    }
    bool GetEntryList(std::vector<std::string>& list) override {
        list.clear();
        if (Unreadable)
            return false;
        for (const auto& [name, number] : Numbers)
            list.push_back(name);
        return true;
    }
    std::string EntryListError() const override {
        return Unreadable ? "Nie można odczytać książki telefonicznej" : "";
    }
    bool Dial(const std::string& entryName) override {
        Dialed.push_back(entryName);
        return true;
    }

protected:
    bool DoHangUpAll() override {
        ++HangUps;
        return HangUpResult;
    }
};
