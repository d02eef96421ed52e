// Time from starting the program to its main window being shown (mapped on the X display), over
// a later run (not the first) of a copy in a temporary folder with the shipped resources and the
// stand-in hook companions of the end-to-end tests (the creation sequence would otherwise stop at
// the missing-hook-file box before the window shows). Without a display it starts its own Xvfb.
// Two cases: an empty program, and a loaded one (a 100,000-line signature database, 1,000 allowed
// numbers, 50 phone-book entries, all allowed, so the entry check reads them all but warns of none).
// The loaded case's phone book is the bench's own, read below QMVARDEL_ETC_DIR instead of /etc.
// The figure is the median of 10 starts.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

// True when a viewable top-level window titled as the main window exists.
bool MainWindowShown(xcb_connection_t* c, xcb_window_t root) {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree)
        return false;
    bool found = false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
        xcb_get_window_attributes_reply_t* attr =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        const bool viewable = attr && attr->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(attr);
        if (!viewable)
            continue;
        xcb_get_property_reply_t* name = xcb_get_property_reply(
            c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
            nullptr);
        if (name) {
            const std::string title(static_cast<const char*>(xcb_get_property_value(name)),
                                    xcb_get_property_value_length(name));
            found = title == "Qm Vardel" || title == "Qm Vardel "; // with its hooks, or without
            std::free(name);
        }
    }
    std::free(tree);
    return found;
}

// The display for all repetitions: the caller's, or an Xvfb of our own for the program's life.
struct TDisplay {
    QProcess Xvfb;
    xcb_connection_t* Connection = nullptr;
    TDisplay() {
        if (!std::getenv("DISPLAY")) {
            Xvfb.start("Xvfb", {":94", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
            Xvfb.waitForStarted(5000);
            setenv("DISPLAY", ":94", 1);
        }
        // A display of our own takes a moment to accept connections.
        for (int i = 0; i < 100; ++i) {
            Connection = xcb_connect(nullptr, nullptr);
            if (!xcb_connection_has_error(Connection))
                return;
            xcb_disconnect(Connection);
            Connection = nullptr;
            QThread::msleep(50);
        }
    }
    ~TDisplay() {
        if (Connection)
            xcb_disconnect(Connection);
        if (Xvfb.state() == QProcess::Running) {
            Xvfb.terminate();
            Xvfb.waitForFinished(5000);
        }
    }
};

constexpr int kDatabaseLines = 100000;
constexpr int kAllowedNumbers = 1000;
constexpr int kEntries = 50;

// Built with append: GCC 12 warns falsely about the operator+ of a literal and a temporary.
std::string Joined(const char* head, int n) {
    std::string text = head;
    text += std::to_string(n);
    return text;
}

std::string EntryNumber(int i) {
    return Joined("02255510", 10 + i);
}

// The loaded case's files: the database beside the program, the allowed numbers in the settings,
// the phone book in peers/ and chatscripts/ of dir.
std::string MakeLoadedFolder(const fs::path& app, const fs::path& dir) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<unsigned> size(3000, 9999999), byte(0, 255);
    static const char hex[] = "0123456789ABCDEF";
    std::ofstream db(app / "Sygn.ini", std::ios::binary);
    db << "[2026.12]\r\n";
    for (int i = 0; i < kDatabaseLines; ++i) {
        std::string line = std::to_string(size(rng));
        line += '-';
        for (int k = 0; k < 17; ++k) {
            const unsigned b = byte(rng);
            line += hex[b >> 4];
            line += hex[b & 15];
        }
        db << line << "\r\n";
    }
    fs::create_directories(dir / "ppp/peers");
    fs::create_directories(dir / "chatscripts");
    std::string ini = "[main]\nfirst_run_flg=0\n[allowed_connections]\n";
    // The entries' numbers last: every lookup walks the whole list.
    for (int i = 0; i < kAllowedNumbers; ++i) {
        const int k = i - (kAllowedNumbers - kEntries);
        ini += std::to_string(i);
        ini += '=';
        ini += k >= 0 ? EntryNumber(k) : Joined("0700", 100000 + i);
        ini += '\n';
    }
    for (int i = 0; i < kEntries; ++i) {
        const std::string name = Joined("isp", 100 + i);
        std::ofstream(dir / "ppp/peers" / name)
            << "# provider " << i << "\n/dev/ttyS0\n115200\nnoipdefault\n"
            << "connect \"/usr/sbin/chat -v -f /etc/chatscripts/" << name << "\"\n";
        std::ofstream(dir / "chatscripts" / name)
            << "ABORT BUSY\nABORT 'NO CARRIER'\n'' ATZ\nOK AT&D2\nOK ATDT" << EntryNumber(i)
            << "\nCONNECT ''\n";
    }
    return ini;
}

void StartUntilMainWindowShown(benchmark::State& state, bool loaded) {
    static TDisplay display;
    xcb_connection_t* c = display.Connection;
    if (!c) {
        state.SkipWithError("no X display");
        return;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

    QTemporaryDir dir;
    const fs::path app = dir.path().toStdString();
    fs::copy_file(QM_BIN_DIR "/QmVardel", app / "QmVardel");
    fs::copy(fs::path(QM_SOURCE_DIR) / "resources", app, fs::copy_options::recursive);
    fs::copy_file(QM_STUB_HOOKLIB, app / "libVardelHk.so");
    std::ofstream(app / "vardeld") << "#!/bin/sh\nexit 0\n";
    fs::permissions(app / "vardeld", fs::perms::owner_exec, fs::perm_options::add);
    // The empty program checks no entry: the machine's own phone book would raise its alarm before
    // the window shows.
    std::string ini = "[main]\nfirst_run_flg=0\ncheck_entries=0\n";
    const fs::path phoneBook = app / "phonebook";
    if (loaded)
        ini = MakeLoadedFolder(app, phoneBook);
    QDir().mkpath(dir.filePath("run"));
    fs::permissions(dir.filePath("run").toStdString(), fs::perms::owner_all);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("xdg"));
    env.insert("QT_QPA_PLATFORM", "xcb");
    if (loaded)
        env.insert("QMVARDEL_ETC_DIR", QString::fromStdString(phoneBook.string()));

    for (auto _ : state) {
        QFile::remove(dir.filePath("QmVardel.ini"));
        std::ofstream(app / "QmVardel.ini", std::ios::binary) << ini;
        QProcess program;
        program.setProcessEnvironment(env);
        const auto start = std::chrono::steady_clock::now();
        program.start(dir.filePath("QmVardel"), {});
        const auto deadline = start + std::chrono::seconds(20);
        bool shown = false;
        while (!shown && std::chrono::steady_clock::now() < deadline &&
               program.state() != QProcess::NotRunning) {
            shown = MainWindowShown(c, root);
            if (!shown)
                QThread::usleep(500);
        }
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        program.terminate();
        program.waitForFinished(10000);
        if (!shown) {
            state.SkipWithError("the main window was not shown within 20 s");
            break;
        }
    }
}

void BM_StartUntilMainWindowShown(benchmark::State& state) {
    StartUntilMainWindowShown(state, false);
}

void BM_StartLoadedUntilMainWindowShown(benchmark::State& state) {
    StartUntilMainWindowShown(state, true);
}

BENCHMARK(BM_StartUntilMainWindowShown)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

BENCHMARK(BM_StartLoadedUntilMainWindowShown)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

} // namespace
