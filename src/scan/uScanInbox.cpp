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
    // The worker runs at a lower priority: waiting for it while it holds the lock could keep the
    // window waiting as long as the scheduler keeps the worker off the processor.
    std::unique_lock lock(FLock, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
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
