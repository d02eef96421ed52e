#pragma once
// Recording fakes of the shell's ports: the autostart store and the sound player.
#include "platform/IAutoStart.h"
#include "platform/ISoundPlayer.h"

#include <map>
#include <string>
#include <vector>

class TFakeAutoStart : public IAutoStart {
public:
    std::map<std::string, std::string> Entries;
    bool Changeable = true;
    bool WritesFail = false;
    int Writes = 0;
    int Deletes = 0;

    std::string FormatCommand(const std::string& program, const std::string& argument) const override {
        return "\"" + program + "\" " + argument;
    }
    std::optional<std::string> ReadCommand(const std::string& name) const override {
        auto it = Entries.find(name);
        if (it == Entries.end())
            return std::nullopt;
        return it->second;
    }
    bool CanChange() override { return Changeable; }
    bool WriteCommand(const std::string& name, const std::string& command) override {
        ++Writes;
        if (!Changeable || WritesFail)
            return false;
        Entries[name] = command;
        return true;
    }
    bool DeleteCommand(const std::string& name) override {
        ++Deletes;
        if (!Changeable || WritesFail)
            return false;
        Entries.erase(name);
        return true;
    }
};

class TFakeSoundPlayer : public ISoundPlayer {
public:
    std::vector<std::string> Played;
    int Stops = 0;
    bool Playing = false;
    void PlayOnce(const std::string& path) override {
        Played.push_back(path);
        Playing = true;
    }
    void Stop() override {
        ++Stops;
        Playing = false;
    }
};
