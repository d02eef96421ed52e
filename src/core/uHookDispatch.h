#pragma once
// The hook contract's message dispatch: dwData selects the record and its handler. Every frame gets
// exactly one answer; a record that is too short or of an unknown kind is answered 0 (the dial or
// start goes on, as when no guard runs) and reported through OnProblem.
#include "core/uHookRecords.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// One handler per kind of hook message, each owned by its subsystem.
class IDialRequestHandler {
public:
    virtual ~IDialRequestHandler() = default;
    // 0 lets the dial proceed, 1 stops it.
    virtual std::int32_t HandleDialRequest(const qm::TDialRequest& request) = 0;
};

class IProgramStartHandler {
public:
    virtual ~IProgramStartHandler() = default;
    // 0 lets the program start, 1 stops it.
    virtual std::int32_t HandleProgramStart(const qm::TProgramStart& start) = 0;
};

// Until the launched-program guard takes its place, every program may start.
class TProgramStartsAllowed : public IProgramStartHandler {
public:
    std::int32_t HandleProgramStart(const qm::TProgramStart&) override { return 0; }
};

// Both kinds in one object (stand-ins and benchmarks).
class IHookHandler : public IDialRequestHandler, public IProgramStartHandler {};

class THookDispatcher {
public:
    THookDispatcher(IDialRequestHandler& dialRequests, IProgramStartHandler& programStarts)
        : FDialRequests(dialRequests), FProgramStarts(programStarts) {}
    explicit THookDispatcher(IHookHandler& handler) : THookDispatcher(handler, handler) {}

    // Called with a one-line description of a message that was answered 0 without a handler.
    std::function<void(const std::string&)> OnProblem;

    // The Result of one message. Handler errors go on to the caller.
    std::int32_t Dispatch(std::uint32_t dwData, std::span<const std::uint8_t> record);

private:
    void Problem(const std::string& text);
    IDialRequestHandler& FDialRequests;
    IProgramStartHandler& FProgramStarts;
};
