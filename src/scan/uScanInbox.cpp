#include "scan/uScanInbox.h"

bool TScanInbox::Push(const TSearchInfo& info) {
    std::unique_lock lock(FLock);
    FRoom.wait(lock, [this] { return FCancelled || FItems.size() < FLimit; });
    if (FCancelled)
        return false;
    FItems.push_back(info);
    return true;
}

void TScanInbox::Finish(std::string error) {
    const std::lock_guard lock(FLock);
    FFinished = true;
    FError = std::move(error);
}

bool TScanInbox::Take(std::vector<TSearchInfo>& out, std::string& error) {
    out.clear();
    const std::lock_guard lock(FLock);
    out.swap(FItems);
    FRoom.notify_all();
    error = FError;
    return FFinished;
}

void TScanInbox::Cancel() {
    const std::lock_guard lock(FLock);
    FCancelled = true;
    FRoom.notify_all();
}
