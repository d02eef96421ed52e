#pragma once
// The HTTP transport over libcurl (HTTP/1.0, multipart through curl_mime). A transfer runs on its
// own thread under curl's multi interface; the calling thread waits for it while it handles its
// user interface's events through IEventPump, and raises the progress callbacks there. Abort wakes
// the transfer thread at once (curl_multi_wakeup), so it ends within one poll. Only http and https
// URLs are followed, never a redirect.
#include "platform/IEventPump.h"
#include "platform/IHttpTransport.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

class TCurlHttpTransport : public IHttpTransport {
public:
    // pump: how the calling thread handles its events while it waits; nullptr = it just waits.
    explicit TCurlHttpTransport(IEventPump* pump);
    ~TCurlHttpTransport() override;

    void SetReadTimeout(int milliseconds) override { FReadTimeoutMs = milliseconds; }
    int ReadTimeout() const override { return FReadTimeoutMs; }
    void SetKeepResponsive(bool on) override { FKeepResponsive = on; }
    void SetEventPump(IEventPump* pump) override { FPump = pump; }
    void SetMaxBodyBytes(std::uint64_t bytes) override { FMaxBodyBytes = bytes; }
    std::string PostForm(const std::string& url, const std::vector<THttpFormPart>& parts) override;
    void Get(const std::string& url, const std::vector<std::string>& headers, const THttpSink& sink) override;
    void Abort() override;
    std::string LastUrl() const override;

    // How often the waiting thread looks at the transfer when nothing wakes it.
    static constexpr int kPollMs = 20;

    struct TTransfer;

private:
    void Perform(void* easy, TTransfer& transfer, const std::string& url);

    IEventPump* FPump;
    int FReadTimeoutMs = 0;
    bool FKeepResponsive = true;
    std::uint64_t FMaxBodyBytes = 64ull * 1024 * 1024;
    std::atomic<bool> FAbort{false};
    bool FBusy = false;
    mutable std::mutex FLock; // guards FMulti (woken from other threads) and FLastUrl
    void* FMulti = nullptr;
    std::string FLastUrl;
};
