// The Linux walk over real temporary trees: what it reports, in which order, and where it must
// not go (symbolic links, other filesystems, folders it cannot read).
#include "platform/linux/uLinuxFileSearch.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct TEvent {
    bool IsFolder;
    std::string Path;
    std::uint64_t Value;
};

std::vector<TEvent> WalkAll(const std::string& root) {
    std::vector<TEvent> events;
    TLinuxFileSearch().Walk(
        root, {"*exe", "*.scr"},
        [&](const std::string& p, std::uint64_t n) {
            events.push_back({true, p, n});
            return true;
        },
        [&](const std::string& p, std::uint64_t n) {
            events.push_back({false, p, n});
            return true;
        });
    return events;
}

std::set<std::string> Files(const std::vector<TEvent>& events, const std::string& root) {
    std::set<std::string> out;
    for (const TEvent& e : events)
        if (!e.IsFolder)
            out.insert(e.Path.substr(root.size() + 1));
    return out;
}

void MakeExecutable(const std::string& path, bool executable) {
    fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    executable ? fs::perm_options::add : fs::perm_options::remove);
}

} // namespace

TEST(LinuxWalk, FindsMaskMatchesAndProgramsInPreOrderWithoutFollowingLinks) {
    TTempDir t;
    const std::string r = t.Path();
    t.Write("b.EXE", "12345");
    t.Write("a.scr", "1");
    t.Write("fooexe", "12");
    t.Write("note.txt", "x");
    MakeExecutable(t.Write("tool", "abc"), true);
    t.Write(".wine/drive_c/dialer.exe", "d");
    MakeExecutable(t.Write(".local/bin/run", "r"), true);
    t.Write("sub/deeper/x.exe", "x");
    t.Write("sub/y.txt", "y");
    fs::create_directory_symlink("..", r + "/sub/loop");
    fs::create_directory_symlink("/proc", r + "/proc-link");
    fs::create_symlink(r + "/b.EXE", r + "/link.exe");
    ::mkfifo((r + "/pipe.exe").c_str(), 0644);

    const std::vector<TEvent> events = WalkAll(r);
    EXPECT_EQ(Files(events, r),
              (std::set<std::string>{"b.EXE", "a.scr", "fooexe", "tool", ".wine/drive_c/dialer.exe",
                                     ".local/bin/run", "sub/deeper/x.exe"}));
    for (const TEvent& e : events)
        if (!e.IsFolder && e.Path == r + "/b.EXE") {
            EXPECT_EQ(e.Value, 5u);
        }

    // The root's files come grouped by mask ("*exe", then "*.scr", then programs), then the root.
    std::vector<std::string> head;
    for (const TEvent& e : events) {
        head.push_back(e.Path.substr(std::min(e.Path.size(), r.size() + 1)));
        if (e.IsFolder)
            break;
    }
    ASSERT_EQ(head.size(), 5u);
    EXPECT_EQ(std::set<std::string>(head.begin(), head.begin() + 2),
              (std::set<std::string>{"b.EXE", "fooexe"}));
    EXPECT_EQ(head[2], "a.scr");
    EXPECT_EQ(head[3], "tool");
    EXPECT_EQ(events[4].Path, r);
    EXPECT_EQ(events[4].Value, 11u); // every name but "." and "..", links and the pipe included

    // Pre-order: every folder's parent was reported before it, and a finished subtree never
    // comes back; each file comes right before its own folder's report.
    std::vector<std::string> open;
    std::string pendingFolder;
    for (const TEvent& e : events) {
        if (!e.IsFolder) {
            if (pendingFolder.empty())
                pendingFolder = fs::path(e.Path).parent_path().string();
            EXPECT_EQ(fs::path(e.Path).parent_path().string(), pendingFolder) << e.Path;
            continue;
        }
        if (!pendingFolder.empty()) {
            EXPECT_EQ(e.Path, pendingFolder);
        }
        pendingFolder.clear();
        const std::string parent = fs::path(e.Path).parent_path().string();
        while (!open.empty() && open.back() != parent)
            open.pop_back();
        if (e.Path != r) {
            EXPECT_FALSE(open.empty()) << e.Path << " reported out of pre-order";
        }
        open.push_back(e.Path);
    }
    std::set<std::string> folders;
    for (const TEvent& e : events)
        if (e.IsFolder) {
            EXPECT_TRUE(folders.insert(e.Path).second) << e.Path << " walked twice";
        }
    EXPECT_EQ(folders.size(), 7u); // root, .wine, drive_c, .local, bin, sub, deeper: nothing behind links
    EXPECT_EQ(folders.count(r + "/sub/loop"), 0u);
}

TEST(LinuxWalk, ReachesTheBottomOfATreeDeeperThanItsOpenHandles) {
    TTempDir t;
    std::string rel;
    for (int i = 0; i < 100; ++i)
        rel += "d/";
    t.Write(rel + "deep.exe", "1");
    t.Write("d/d/side/s.scr", "1"); // visited after climbing back past closed handles
    const std::set<std::string> files = Files(WalkAll(t.Path()), t.Path());
    EXPECT_EQ(files, (std::set<std::string>{rel + "deep.exe", "d/d/side/s.scr"}));
}

TEST(LinuxWalk, ARootThatIsAFileIsLookedAtItself) {
    TTempDir t;
    const std::string file = t.Write("readme.txt", "abc");
    const std::vector<TEvent> events = WalkAll(file);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Path, file);
    EXPECT_EQ(events[0].Value, 3u);
    EXPECT_TRUE(WalkAll(t / "missing").empty());
}

TEST(LinuxWalk, PassesOverAFolderItCannotRead) {
    TTempDir t;
    t.Write("a/locked/hidden.exe", "1");
    t.Write("a/open/seen.exe", "1");
    t.Write("b/after.exe", "1");
    fs::permissions(t.Path(), fs::perms::all, fs::perm_options::replace);
    for (const char* d : {"a", "a/open", "b"})
        fs::permissions(t / d, fs::perms::all, fs::perm_options::replace);
    fs::permissions(t / "a/locked", fs::perms::none, fs::perm_options::replace);

    // Root reads every folder; the walk is then run as nobody in a child process.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        std::string out;
        for (const std::string& f : Files(WalkAll(t.Path()), t.Path()))
            out += f + "\n";
        const ssize_t n = ::write(fds[1], out.data(), out.size());
        ::_exit(n == static_cast<ssize_t>(out.size()) ? 0 : 4);
    }
    ::close(fds[1]);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
        got.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(got, "a/open/seen.exe\nb/after.exe\n");
}

TEST(LinuxWalk, StaysOnTheFilesystemItStartedOn) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    TTempDir t;
    t.Write("mnt/under.exe", "1"); // hidden by the mount, not on the walked filesystem either way
    t.Write("here.exe", "1");
    if (::mount("qmtest", (t / "mnt").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    std::ofstream(t / "mnt/other.exe") << "1";
    const std::set<std::string> files = Files(WalkAll(t.Path()), t.Path());
    ::umount2((t / "mnt").c_str(), MNT_DETACH);
    EXPECT_EQ(files, (std::set<std::string>{"here.exe"}));
}
