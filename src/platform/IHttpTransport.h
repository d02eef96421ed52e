#pragma once
// Port: the HTTP/1.0 client of the database update. A transfer blocks the caller until it is over,
// while the caller's user interface keeps handling its events (see SetKeepResponsive); Abort, called
// from such an event, ends the transfer at once. Every failure raises EQmError with a readable text:
// no connection, a time-out, a broken transfer, a reply whose status is not success (its body is
// never handed on), a body above the size limit, an abort.
#include "platform/IEventPump.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

enum THttpDirection { hdSend, hdRecv };

// One part of a multipart/form-data body: a field (Name, Value), or a file (Name, the file's path in
// FilePath, sent as the part's filename attribute, with ContentType).
struct THttpFormPart {
    std::string Name;
    std::string Value;
    std::string FilePath;
    std::string ContentType;
    bool IsFile() const { return !FilePath.empty(); }
};

// Receives a body piece by piece, on the transfer's own thread: it must touch only its target.
// Returns false when the piece cannot be stored (the transfer then fails).
using THttpSink = std::function<bool(std::string_view data)>;

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;

    // Progress, raised on the caller's thread while it waits: begin (expected bytes, 0 = unknown),
    // work (bytes so far), end. Unset callbacks are skipped.
    std::function<void(THttpDirection, std::int64_t)> OnWorkBegin;
    std::function<void(THttpDirection, std::int64_t)> OnWork;
    std::function<void(THttpDirection)> OnWorkEnd;

    // No bytes for this long fails the transfer; 0 = no limit.
    virtual void SetReadTimeout(int milliseconds) = 0;
    virtual int ReadTimeout() const = 0;
    // True: the caller's user interface keeps handling events while a transfer waits.
    virtual void SetKeepResponsive(bool on) = 0;
    // How the caller's user interface handles its events while a transfer waits; nullptr = it does not.
    virtual void SetEventPump(IEventPump* pump) = 0;
    // A reply body above this many bytes fails the transfer.
    virtual void SetMaxBodyBytes(std::uint64_t bytes) = 0;

    // POSTs the parts as multipart/form-data; returns the body of a success reply.
    virtual std::string PostForm(const std::string& url, const std::vector<THttpFormPart>& parts) = 0;
    // GETs the URL with the extra request header lines ("Name: value"), the body into sink.
    virtual void Get(const std::string& url, const std::vector<std::string>& headers,
                     const THttpSink& sink) = 0;
    // Ends the running transfer at once (any thread); without one, does nothing.
    virtual void Abort() = 0;
    // The full URL of the current or last request.
    virtual std::string LastUrl() const = 0;
};
