#pragma once
// Port: the HTTP/1.0 client of the database update. The blocking transfer runs off the UI thread
// while the UI thread keeps pumping events; Abort stops it at once.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct THttpFormField {
    std::string Name;
    std::string Value;
    std::string FileName; // non-empty: sent as a file part with Value as its content
};

struct THttpResult {
    bool Ok = false;   // a reply arrived (any status)
    int Status = 0;    // the HTTP status code
    std::string Error; // why no reply arrived (time-out, refused, aborted)
    std::string Body;
};

class IHttpTransport {
public:
    virtual ~IHttpTransport() = default;
    // Called on the UI thread while a transfer runs: bytes done and expected (0 = unknown).
    std::function<void(std::int64_t done, std::int64_t total)> OnProgress;
    virtual THttpResult PostForm(const std::string& url, const std::vector<THttpFormField>& fields,
                                 int readTimeoutMs) = 0;
    // Streams the body into sink; returns without Body filled.
    virtual THttpResult Get(const std::string& url, const std::function<bool(const char*, std::size_t)>& sink,
                            int readTimeoutMs) = 0;
    virtual void Abort() = 0;
};
