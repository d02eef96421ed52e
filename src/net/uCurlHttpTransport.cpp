#include "net/uCurlHttpTransport.h"

#include "util/uFormat.h"
#include "util/uQmError.h"

#include <chrono>
#include <condition_variable>
#include <curl/curl.h>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

void GlobalInit() {
    static const bool done = [] {
        return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    }();
    if (!done)
        throw EQmError("Nie można uruchomić biblioteki HTTP");
}

} // namespace

// What the transfer thread and the waiting thread share.
struct TCurlHttpTransport::TTransfer {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Done = false;
    std::string Error; // empty: success
    // Progress, as the transfer thread last saw it.
    std::int64_t SendTotal = 0, SendNow = 0, RecvTotal = 0, RecvNow = 0;
    bool SendSeen = false, RecvSeen = false;

    // Owned by the transfer thread while it runs.
    const THttpSink* Sink = nullptr;
    std::string Body;
    std::uint64_t BodyBytes = 0;
    std::uint64_t MaxBodyBytes = 0;
    long Status = 0;
    bool StatusChecked = false;
    std::string Failure; // why a callback stopped the transfer
    TClock::time_point LastActivity;
    std::int64_t LastSeenBytes = 0;
    const std::atomic<bool>* Abort = nullptr;
    CURL* Easy = nullptr;
};

namespace {

bool IsSuccess(long status) {
    return status >= 200 && status < 300;
}

std::string StatusError(long status) {
    return qm::Format("Serwer odpowiedział błędem HTTP %d", static_cast<std::int64_t>(status));
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<TCurlHttpTransport::TTransfer*>(user);
    const size_t bytes = size * count;
    if (!t.StatusChecked) {
        t.StatusChecked = true;
        curl_easy_getinfo(t.Easy, CURLINFO_RESPONSE_CODE, &t.Status);
        // The body of an error reply is never handed on (it is not a script, nor a file).
        if (!IsSuccess(t.Status)) {
            t.Failure = StatusError(t.Status);
            return 0;
        }
    }
    t.BodyBytes += bytes;
    t.LastActivity = TClock::now();
    if (t.BodyBytes > t.MaxBodyBytes) {
        t.Failure = qm::Format("Odpowiedź serwera jest większa niż %u MB", t.MaxBodyBytes / (1024 * 1024));
        return 0;
    }
    if (t.Sink) {
        if (!(*t.Sink)(std::string_view(data, bytes))) {
            t.Failure = "Błąd zapisu pobieranych danych";
            return 0;
        }
    } else {
        t.Body.append(data, bytes);
    }
    return bytes;
}

int Progress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow) {
    auto& t = *static_cast<TCurlHttpTransport::TTransfer*>(user);
    if (t.Abort->load())
        return 1;
    {
        const std::lock_guard<std::mutex> guard(t.Lock);
        if (ulTotal > 0 || ulNow > 0) {
            t.SendSeen = true;
            t.SendTotal = ulTotal;
            t.SendNow = ulNow;
        }
        if (dlTotal > 0 || dlNow > 0) {
            t.RecvSeen = true;
            t.RecvTotal = dlTotal;
            t.RecvNow = dlNow;
        }
    }
    if (dlNow + ulNow != t.LastSeenBytes) {
        t.LastSeenBytes = dlNow + ulNow;
        t.LastActivity = TClock::now();
    }
    return 0;
}

// Raises the progress callbacks for what the transfer thread reported since the last call.
class TProgressForwarder {
public:
    explicit TProgressForwarder(IHttpTransport& http) : FHttp(http) {}
    void Forward(bool seen, std::int64_t total, std::int64_t now, THttpDirection direction) {
        auto& s = FState[direction];
        if (!seen)
            return;
        if (!s.Begun) {
            s.Begun = true;
            if (FHttp.OnWorkBegin)
                FHttp.OnWorkBegin(direction, total);
        }
        if (now != s.Last) {
            s.Last = now;
            if (FHttp.OnWork)
                FHttp.OnWork(direction, now);
        }
    }
    void End() {
        for (int d : {hdSend, hdRecv})
            if (FState[d].Begun && FHttp.OnWorkEnd)
                FHttp.OnWorkEnd(static_cast<THttpDirection>(d));
    }

private:
    struct TState {
        bool Begun = false;
        std::int64_t Last = -1;
    };
    IHttpTransport& FHttp;
    TState FState[2];
};

} // namespace

TCurlHttpTransport::TCurlHttpTransport(IEventPump* pump) : FPump(pump) {
    GlobalInit();
}

TCurlHttpTransport::~TCurlHttpTransport() {
    Abort();
}

std::string TCurlHttpTransport::LastUrl() const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FLastUrl;
}

void TCurlHttpTransport::Abort() {
    FAbort = true;
    const std::lock_guard<std::mutex> guard(FLock);
    if (FMulti)
        curl_multi_wakeup(static_cast<CURLM*>(FMulti));
}

std::string TCurlHttpTransport::PostForm(const std::string& url, const std::vector<THttpFormPart>& parts) {
    CURL* easy = curl_easy_init();
    if (!easy)
        throw EQmError("Nie można utworzyć połączenia HTTP");
    curl_mime* mime = curl_mime_init(easy);
    TTransfer transfer;
    try {
        for (const THttpFormPart& p : parts) {
            curl_mimepart* part = curl_mime_addpart(mime);
            curl_mime_name(part, p.Name.c_str());
            if (p.IsFile()) {
                if (curl_mime_filedata(part, p.FilePath.c_str()) != CURLE_OK)
                    throw EQmError(qm::Format("Nie można otworzyć pliku %s", p.FilePath));
                curl_mime_filename(part, p.FilePath.c_str());
                curl_mime_type(part, p.ContentType.c_str());
            } else {
                curl_mime_data(part, p.Value.data(), p.Value.size());
            }
        }
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_MIMEPOST, mime);
        Perform(easy, transfer, url);
    } catch (...) {
        curl_mime_free(mime);
        curl_easy_cleanup(easy);
        throw;
    }
    curl_mime_free(mime);
    curl_easy_cleanup(easy);
    return std::move(transfer.Body);
}

void TCurlHttpTransport::Get(const std::string& url, const std::vector<std::string>& headers,
                             const THttpSink& sink) {
    CURL* easy = curl_easy_init();
    if (!easy)
        throw EQmError("Nie można utworzyć połączenia HTTP");
    curl_slist* list = nullptr;
    for (const std::string& h : headers)
        list = curl_slist_append(list, h.c_str());
    TTransfer transfer;
    transfer.Sink = &sink;
    try {
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
        Perform(easy, transfer, url);
    } catch (...) {
        curl_slist_free_all(list);
        curl_easy_cleanup(easy);
        throw;
    }
    curl_slist_free_all(list);
    curl_easy_cleanup(easy);
}

void TCurlHttpTransport::Perform(void* easyHandle, TTransfer& t, const std::string& url) {
    CURL* easy = static_cast<CURL*>(easyHandle);
    if (FBusy)
        throw EQmError("Poprzednie połączenie HTTP jeszcze trwa");
    FBusy = true;
    struct TBusyReset {
        bool& Busy;
        ~TBusyReset() { Busy = false; }
    } busyReset{FBusy};

    FAbort = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    t.Easy = easy;
    t.Abort = &FAbort;
    t.MaxBodyBytes = FMaxBodyBytes;
    t.LastActivity = TClock::now();
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
    if (FReadTimeoutMs > 0)
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FReadTimeoutMs));

    CURLM* multi = curl_multi_init();
    curl_multi_add_handle(multi, easy);
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FMulti = multi;
        FLastUrl = url;
    }
    const int readTimeoutMs = FReadTimeoutMs;
    IEventPump* pump = FKeepResponsive ? FPump : nullptr;

    std::thread worker([&t, multi, readTimeoutMs, pump, &errorBuffer] {
        std::string error;
        for (;;) {
            if (t.Abort->load()) {
                error = "Połączenie przerwane";
                break;
            }
            int running = 0;
            curl_multi_perform(multi, &running);
            if (!running) {
                int left = 0;
                CURLcode code = CURLE_OK;
                while (CURLMsg* msg = curl_multi_info_read(multi, &left))
                    if (msg->msg == CURLMSG_DONE)
                        code = msg->data.result;
                if (t.Abort->load())
                    error = "Połączenie przerwane";
                else if (!t.Failure.empty())
                    error = t.Failure;
                else if (code != CURLE_OK)
                    error = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
                else {
                    curl_easy_getinfo(t.Easy, CURLINFO_RESPONSE_CODE, &t.Status);
                    if (!IsSuccess(t.Status))
                        error = StatusError(t.Status);
                }
                break;
            }
            if (readTimeoutMs > 0 &&
                TClock::now() - t.LastActivity > std::chrono::milliseconds(readTimeoutMs)) {
                error = qm::Format("Przekroczono czas oczekiwania na dane (%d ms)", readTimeoutMs);
                break;
            }
            curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
            if (pump)
                pump->Wake();
        }
        {
            const std::lock_guard<std::mutex> guard(t.Lock);
            t.Error = error;
            t.Done = true;
        }
        t.Changed.notify_all();
        if (pump)
            pump->Wake();
    });

    TProgressForwarder forwarder(*this);
    auto forward = [&] {
        bool sendSeen, recvSeen;
        std::int64_t sendTotal, sendNow, recvTotal, recvNow;
        {
            const std::lock_guard<std::mutex> guard(t.Lock);
            sendSeen = t.SendSeen;
            recvSeen = t.RecvSeen;
            sendTotal = t.SendTotal;
            sendNow = t.SendNow;
            recvTotal = t.RecvTotal;
            recvNow = t.RecvNow;
        }
        forwarder.Forward(sendSeen, sendTotal, sendNow, hdSend);
        forwarder.Forward(recvSeen, recvTotal, recvNow, hdRecv);
    };
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(t.Lock);
            if (t.Done)
                break;
            if (!pump)
                t.Changed.wait_for(lock, std::chrono::milliseconds(kPollMs));
        }
        if (pump)
            pump->ProcessEvents(kPollMs);
        forward();
    }
    worker.join();
    {
        const std::lock_guard<std::mutex> guard(FLock);
        FMulti = nullptr;
    }
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    forward();
    forwarder.End();
    if (!t.Error.empty())
        throw EQmError(t.Error);
}
