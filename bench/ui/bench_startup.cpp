// Time from starting the program to its main window being shown (mapped on the X display), over
// a later run (not the first) of a copy in a temporary folder with the shipped resources. Without
// a display it starts its own Xvfb. The figure is the median of 10 starts.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// True when a viewable top-level window titled "Qm Vardel " exists.
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
            found = title == "Qm Vardel ";
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

void BM_StartUntilMainWindowShown(benchmark::State& state) {
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
    QDir().mkpath(dir.filePath("run"));
    fs::permissions(dir.filePath("run").toStdString(), fs::perms::owner_all);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
    env.insert("XDG_CONFIG_DIRS", dir.filePath("xdg"));
    env.insert("QT_QPA_PLATFORM", "xcb");

    for (auto _ : state) {
        QFile::remove(dir.filePath("QmVardel.ini"));
        QFile ini(dir.filePath("QmVardel.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write("[main]\nfirst_run_flg=0\n");
        ini.close();
        QProcess program;
        program.setProcessEnvironment(env);
        const auto start = std::chrono::steady_clock::now();
        program.start(dir.filePath("QmVardel"), {});
        const auto deadline = start + std::chrono::seconds(20);
        bool shown = false;
        while (!shown && std::chrono::steady_clock::now() < deadline) {
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

BENCHMARK(BM_StartUntilMainWindowShown)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

} // namespace
