#include "uDialPolicy.h"

TDialPolicy::TDialPolicy(std::function<std::int64_t()> nowMs, std::int64_t refusalMemoryMs)
    : FNowMs(std::move(nowMs)), FMemoryMs(refusalMemoryMs) {}

bool TDialPolicy::IsRefusalRemembered(const std::string& number) {
    std::int64_t now = FNowMs();
    for (auto it = FRefused.begin(); it != FRefused.end();)
        it = now - it->second >= FMemoryMs ? FRefused.erase(it) : std::next(it);
    return FRefused.count(number) != 0;
}

void TDialPolicy::RememberRefusal(const std::string& number) {
    FRefused[number] = FNowMs();
}

std::string TDialPolicy::NextRefusalReply() {
    bool first = !FRefusedInSession;
    FRefusedInSession = true;
    return first ? "NO CARRIER" : "ERROR";
}

void TDialPolicy::SessionEnded() {
    FRefusedInSession = false;
}
