#pragma once
// The hand-over from the scan's worker thread to the user-interface thread: the worker pushes what
// the walk reports, the user-interface thread takes everything waiting at once. This lock is the
// only one of the program's own code outside the port implementations; nothing else is shared
// between the two threads.
#include "scan/uFindFiles.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

class TScanInbox {
public:
    // A worker that runs this far ahead waits for the user-interface thread.
    explicit TScanInbox(std::size_t limit) : FLimit(limit) {}

    // Worker: false once the scan is cancelled (the walk should stop).
    bool Push(const TSearchInfo& info);
    // Worker, last: the walk has ended (error: why it ended early, or empty).
    void Finish(std::string error = {});
    // User-interface thread: swaps everything waiting into out (emptied first); true when the
    // walk has finished and out holds the last of it. Never waits: while the worker holds the
    // lock, out stays empty and the next call takes it all.
    bool Take(std::vector<TSearchInfo>& out, std::string& error);
    // Either side: the walk should stop; a waiting worker wakes up.
    void Cancel();

private:
    std::mutex FLock;
    std::condition_variable FRoom;
    std::vector<TSearchInfo> FItems;
    std::size_t FLimit;
    bool FFinished = false;
    bool FCancelled = false;
    std::string FError;
};
