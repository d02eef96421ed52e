#include "update/uBackgroundWork.h"

#include <atomic>
#include <exception>
#include <thread>

void RunWhilePumping(IEventPump& pump, const std::function<void()>& work) {
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        pump.Wake();
    });
    while (!done)
        pump.ProcessEvents(20);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}
