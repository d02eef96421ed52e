#pragma once
// A fake Hayes modem on a pseudo-terminal for the proxy tests: the slave side is "the device". It
// echoes, answers AT lines with OK, and answers dials by number from its table (CONNECT, BUSY, ...).
// It notes every line it executed and whether DTR was dropped (speed 0 on the device).
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class TFakeHayesModem {
public:
    // replies: dialled number -> result text; numbers not in it get "NO ANSWER".
    explicit TFakeHayesModem(std::map<std::string, std::string> replies);
    ~TFakeHayesModem();
    TFakeHayesModem(const TFakeHayesModem&) = delete;
    TFakeHayesModem& operator=(const TFakeHayesModem&) = delete;

    const std::string& DevicePath() const { return FSlavePath; }
    std::vector<std::string> Lines() const;
    bool SawDial() const;
    bool DtrDropped() const { return FDtrDropped; }

private:
    void Run();
    void Execute(const std::string& line);
    void Write(const std::string& text);

    std::map<std::string, std::string> FReplies;
    int FMaster = -1, FSlave = -1, FWake[2] = {-1, -1};
    std::string FSlavePath;
    std::thread FThread;
    mutable std::mutex FMutex;
    std::vector<std::string> FLines;
    std::atomic<bool> FDtrDropped{false};
    bool FOnline = false;
};

// A Hayes modem as plain software, for tests that must know every dial a modem would carry out. It
// reads as liberally as real modems do: 7 bits in command mode, any number of "A"s before "T" or "/",
// control characters between "A" and "T" ignored, S2/S3/S5/S12, echo, verbose, numeric and quiet
// results, ';' dials, information text (I, Sn?), Hayes escapes with guard time and "+++AT..."
// without. Time is given with every call; a dial's outcome comes when time passes.
class THayesModel {
public:
    THayesModel() { Reset(); }
    // The outcome of a dial: "CONNECT", "BUSY", "NO CARRIER", "NO ANSWER".
    std::function<std::string(const std::string& dialString)> Outcome;

    void Receive(std::string_view bytes, std::int64_t nowMs);
    void Advance(std::int64_t nowMs);
    std::string TakeOutput();
    // Every dial the modem carried out: the dial string in upper case without blanks.
    const std::vector<std::string>& Dials() const { return FDials; }
    bool Online() const { return FState == sOnline; }

private:
    enum TState { sCommand, sDialing, sOnline, sOnlineCommand };
    void CommandByte(char c);
    void Execute(const std::string& body);
    void Result(int code, const char* text);
    void Text(const std::string& text);
    void Reset();
    void CheckEscape(std::int64_t nowMs);

    TState FState = sCommand;
    bool FEcho = true, FVerbose = true, FQuiet = false;
    int FReg[13] = {};
    int FPrefix = 0; // 0 idle, 1 after A, 2 in a line
    std::string FLine, FLastLine, FOut, FPendingDial;
    std::vector<std::string> FDials;
    bool FCallUp = false;
    std::int64_t FLastByteMs = -1000000;
    int FEscapeCount = 0;            // escape characters in a row, each within the guard time
    std::int64_t FEscapeStartMs = 0; // silence before the first one
    bool FEscapeQuietBefore = false;
    int FTies = 0; // after three escape characters: 1 saw "A", 2 reading "+++AT..." line
};
