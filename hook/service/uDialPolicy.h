#pragma once
// What the modem proxy does with a refused dial. Dialing programs retry a failed dial at once and
// forever, so a refused number is answered from memory for a while instead of asking the guard
// again, and within one session of the port (from the host's open to its last close) only the
// first refusal reads as "NO CARRIER"; repeats get "ERROR", which dialers take as final.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

class TDialPolicy {
public:
    // nowMs: a monotonic clock in milliseconds (injected so tests need not wait a minute).
    explicit TDialPolicy(std::function<std::int64_t()> nowMs, std::int64_t refusalMemoryMs = 60000);

    // True when the guard refused this number within the memory time; the dial is refused again
    // without asking.
    bool IsRefusalRemembered(const std::string& number);
    void RememberRefusal(const std::string& number);
    // The result code for a refusal in this session: "NO CARRIER" first, "ERROR" after that.
    std::string NextRefusalReply();
    void SessionEnded();

private:
    std::function<std::int64_t()> FNowMs;
    std::int64_t FMemoryMs;
    std::map<std::string, std::int64_t> FRefused; // number -> time of the guard's refusal
    bool FRefusedInSession = false;
};
