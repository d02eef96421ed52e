// Round trip of a dial request for a listed number through the hook socket: the client's frame,
// the server's read, the dispatch, the dial decision (rule 1, no prompt) and the answer. The
// server runs on its own Qt event loop in a second thread, as the guard's UI thread would.
#include "core/uHookDispatch.h"
#include "core/uHookRecords.h"
#include "guard/uDialGuard.h"
#include "platform/linux/uLinuxHookEndpoint.h"
#include "uHookSender.h"
#include "ui/uHookSocketServer.h"

#include "fakes/FakeRemoteAccess.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QThread>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

class TSilentView : public IDialGuardView {
public:
    bool ChildMode() const override { return false; }
    void SetAlarmTray() override {}
    void ResetTray() override {}
    int ShowConnectionPrompt(const std::string&, bool) override { return caReject; }
    void ShowError(const std::string&) override {}
};

class TGuardHandler : public IHookHandler {
public:
    explicit TGuardHandler(TDialGuard& guard) : FGuard(guard) {}
    std::int32_t HandleDialRequest(const qm::TDialRequest& r) override { return FGuard.HandleDialRequest(r); }
    std::int32_t HandleProgramStart(const qm::TProgramStart&) override { return 0; }

private:
    TDialGuard& FGuard;
};

class TServerThread : public QThread {
public:
    explicit TServerThread(std::string path) : FPath(std::move(path)) {}
    std::atomic<int> State{0}; // 1 listening, -1 failed

protected:
    void run() override {
        TAllowedList list;
        list.Assign({"0202122", "0700 12 34", "48 22 123 45 67"});
        TFakeRemoteAccess remote;
        TSilentView view;
        TDialGuard guard(list, remote, view);
        TGuardHandler handler(guard);
        THookDispatcher dispatcher(handler);
        TLinuxHookEndpoint endpoint;
        THookSocketServer server(FPath, dispatcher, endpoint);
        State = server.Listen() ? 1 : -1;
        if (State == 1)
            exec();
    }

private:
    std::string FPath;
};

void BM_ListedDialRoundTrip(benchmark::State& state) {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);

    const TTempDir dir;
    const std::string path = dir / "QmVardel/hook.sock";
    TServerThread server(path);
    server.start();
    while (server.State == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (server.State < 0) {
        state.SkipWithError("the server could not listen");
        return;
    }
    const auto record = qm::EncodeDialRequest({7, "+48 22 123 45 67", "", ""});
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        std::string error;
        const auto result = qm::SendHookFrame(path, qm::kHookDialRequest, record, 5000, &error);
        const auto took = std::chrono::steady_clock::now() - started;
        if (!result || *result != 0) {
            state.SkipWithError(("round trip failed: " + error).c_str());
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(took).count());
        state.SetIterationTime(std::chrono::duration<double>(took).count());
    }
    server.quit();
    server.wait();
    if (micros.empty())
        return;
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

} // namespace

BENCHMARK(BM_ListedDialRoundTrip)->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
