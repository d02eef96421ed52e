#pragma once
// A fake Hayes modem on a pseudo-terminal for the proxy tests: the slave side is "the device". It
// echoes, answers AT lines with OK, and answers dials by number from its table (CONNECT, BUSY, ...).
// It notes every line it executed and whether DTR was dropped (speed 0 on the device).
#include <atomic>
#include <map>
#include <mutex>
#include <string>
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
