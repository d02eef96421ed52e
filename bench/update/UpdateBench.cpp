// The update run as the window runs it (Qt event loop, libcurl on loopback, real files), timed by
// hand: the benchmark's time is the figure itself, the counters add the longest event-loop gap.
#include "fakes/FakePorts.h"
#include "fakes/FakeUpdateView.h"
#include "net/uCurlHttpTransport.h"
#include "net/uEd25519Signature.h"
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxUpdateFiles.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"
#include "ui/uQtEventPump.h"
#include "update/uDatabaseUpdate.h"

#include <QCoreApplication>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <memory>

namespace {

using TClock = std::chrono::steady_clock;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "bench_update";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

std::string MillionLineDatabase() {
    std::string text = "[2.0]\r\n";
    text.reserve(46'000'000);
    char line[64];
    for (int i = 0; i < 1'000'000; ++i) {
        std::snprintf(line, sizeof line, "%d-4D5A9000030000000400%08X0000B8\r\n", 100000 + i,
                      static_cast<unsigned>(i));
        text += line;
    }
    return text;
}

// Measures the longest time between two ticks of a 1 ms timer on the UI thread.
class TGapMeter {
public:
    TGapMeter() {
        FTimer.setInterval(1);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            const auto now = TClock::now();
            MaxGap = std::max(MaxGap, now - FLast);
            FLast = now;
        });
        FTimer.start();
        FLast = TClock::now();
    }
    TClock::duration MaxGap{};

private:
    QTimer FTimer;
    TClock::time_point FLast;
};

struct TRig {
    TTempDir Temp;
    TTestHttpServer Server;
    TQtEventPump Pump;
    TCurlHttpTransport Http{&Pump};
    TLinuxUpdateFiles Files;
    TLinuxFileSystem FileSystem;
    TFakeProgramImage Image;
    TFakeClock Clock;
    TEd25519Signature Signature;
    TQmHttpUpdate Client{{.Http = Http, .Files = Files, .Image = Image, .SystemInfo = nullptr}};
    std::unique_ptr<TAppIni> Ini;
    std::unique_ptr<TSygnatureManager> Db;
    TFakeUpdateView View;
    std::unique_ptr<TDatabaseUpdate> Update;

    explicit TRig(TTestHttpServer::THandler handler) : Server(std::move(handler)) {
        App();
        Temp.Write("app/Sygn.ini", "[1.0]\r\n2000-4D5A90000300000004000000FFFF0000B8\r\n");
        Ini = std::make_unique<TAppIni>(Temp / "app/QmVardel.ini", FileSystem);
        Ini->WriteString("update_url", Server.Url("/cgi-bin/vardel-update.pl"), "main");
        Db = std::make_unique<TSygnatureManager>(Temp / "app/Sygn.ini", FileSystem, std::string());
        Update = std::make_unique<TDatabaseUpdate>(TDatabaseUpdateContext{.HttpUpdate = Client,
                                                                          .Database = *Db,
                                                                          .FileSystem = FileSystem,
                                                                          .Files = Files,
                                                                          .Clock = Clock,
                                                                          .Ini = *Ini,
                                                                          .Pump = Pump,
                                                                          .Signature = Signature,
                                                                          .AppDir = Temp / "app/",
                                                                          .DataDir = Temp / "app/",
                                                                          .SetTrayState = {},
                                                                          .CheckRunningDialers = {},
                                                                          .Loading = {},
                                                                          .FormatShortDate = {}},
                                                   View);
    }
};

void BM_UpdateMillionLineDatabase(benchmark::State& state) {
    const std::string database = MillionLineDatabase();
    TRig rig([&database](const TTestRequest& r) {
        if (r.Method == "POST")
            return TTestReply{200, "msg Nowa baza\r\nfile Sygn.ini\r\n", "text/plain", {}};
        return TTestReply{200, database, "application/octet-stream", {}};
    });
    TClock::duration worstGap{};
    for (auto _ : state) {
        rig.Temp.Write("app/Sygn.ini", "[1.0]\r\n2000-4D5A90000300000004000000FFFF0000B8\r\n");
        rig.Db->Load();
        TGapMeter meter;
        QCoreApplication::processEvents();
        const auto start = TClock::now();
        rig.Update->btnUpdateClick();
        const auto end = TClock::now();
        if (rig.Db->Lines().size() != 1'000'000)
            state.SkipWithError("the database was not installed");
        worstGap = std::max(worstGap, meter.MaxGap);
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["max_ui_gap_ms"] = std::chrono::duration<double, std::milli>(worstGap).count();
}
BENCHMARK(BM_UpdateMillionLineDatabase)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_AbortLatency(benchmark::State& state) {
    TRig rig([](const TTestRequest& r) {
        if (r.Method == "POST")
            return TTestReply{200, "file Sygn.ini\r\n", "text/plain", {}};
        return TTestReply{200, "", "text/plain", [](int fd, const std::atomic<bool>& stopping) {
                              while (!stopping && TTestHttpServer::SendAll(fd, "2000-"))
                                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
                          }};
    });
    for (auto _ : state) {
        TClock::time_point pressed;
        QTimer::singleShot(100, [&] {
            pressed = TClock::now();
            rig.Update->btnUpdateClick(); // the button reads " Przerwij" now
        });
        rig.Update->btnUpdateClick();
        const auto end = TClock::now();
        if (rig.View.Log.empty() || rig.View.Log.back() != "Aktualizacja przerwana przez użytkownika")
            state.SkipWithError("the run was not aborted");
        state.SetIterationTime(std::chrono::duration<double>(end - pressed).count());
    }
}
BENCHMARK(BM_AbortLatency)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace
