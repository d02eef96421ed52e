// The removal on real files in temporary trees: the Linux quarantine, autostart entries of several
// users and systemd units, real processes, the restore tool.
#include "detection/uDialerRemoval.h"
#include "detection/uQuarantineRecord.h"
#include "platform/linux/uLinuxAutoStartEntries.h"
#include "platform/linux/uLinuxPlatform.h"
#include "platform/linux/uLinuxProcessControl.h"
#include "platform/linux/uLinuxQuarantineFiles.h"
#include "platform/uNoProcessControl.h"

#include "MachineRoots.h"
#include "fakes/FakePorts.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A machine in a folder: two users with homes, the system autostart and unit folders, the
// quarantine; the removal over the real Linux ports.
struct TMachine {
    TTempDir Root;
    std::string Quarantine = Root / "app/back/";
    TLinuxQuarantineFiles Files;
    TLinuxAutoStartEntries Entries{MachineRoots(Root)};
    TLinuxFileSystem FileSystem;
    TFakeClock Clock;
    TNoProcessControl NoProcesses;
    TDialerRemoval Removal{{.Processes = NoProcesses,
                            .Quarantine = Files,
                            .AutoStartEntries = Entries,
                            .FileSystem = FileSystem,
                            .Clock = Clock,
                            .QuarantineDir = [this] { return Quarantine; },
                            .ShortDate =
                                [](qm::TDateTime) {
                                    return std::string("09.12.2026");
                                }}};

    TMachine() {
        Root.Write("etc/passwd", "root:x:0:0:root:" + (Root / "root") +
                                     ":/bin/sh\nala:x:1000:1000::" + (Root / "home/ala") +
                                     ":/bin/sh\nola:x:1001:1001::" + (Root / "home/ola") +
                                     ":/bin/sh\nnobody:x:65534:65534::/nonexistent:/usr/sbin/nologin\n");
        fs::create_directories(Root / "app");
    }
    std::string Desktop(const std::string& rel, const std::string& exec) {
        return Root.Write(rel, "[Desktop Entry]\nType=Application\nName=X\nExec=" + exec + "\n");
    }
    std::string Log() const { return ReadWholeFile(Quarantine + "log.txt"); }
};

// Everything under a folder: path -> type, bytes (or link text), mode and modification time.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        // A folder's time changes with its entries and a link's is never read: files only.
        std::string v = std::to_string(st.st_mode) + " ";
        if (S_ISREG(st.st_mode))
            v += std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " ";
        if (S_ISLNK(st.st_mode))
            v += fs::read_symlink(it->path()).string();
        else if (S_ISREG(st.st_mode))
            v += ReadWholeFile(it->path());
        out[it->path().string()] = v;
    }
    return out;
}

void SetTime(const std::string& path, long sec, long nsec) {
    const timespec t[2] = {{sec, nsec}, {sec, nsec}};
    ::utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(DialerRemoval, TwoDialersWithOneNameBothSurviveWithTheirRecords) {
    TMachine m;
    const std::string first = m.Root.Write("a/d.exe", "first dialer");
    const std::string second = m.Root.Write("b/d.exe", "second dialer");
    ::chmod(first.c_str(), 0755);
    SetTime(first, 1700000000, 123456789);
    TRemovalReport report = TDialerRemoval::NewReport();
    EXPECT_TRUE(m.Removal.RemoveDialer(first, &report));
    EXPECT_TRUE(m.Removal.RemoveDialer(second, &report));

    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(ReadWholeFile(m.Quarantine + "d.exe"), "first dialer");
    EXPECT_EQ(ReadWholeFile(m.Quarantine + "d-2.exe"), "second dialer");
    struct stat st {};
    ::stat((m.Quarantine + "d.exe").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0400u);
    ::stat(m.Quarantine.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0700u);

    const auto record = qm::ParseQuarantineRecord(ReadWholeFile(m.Quarantine + "d.exe.qmrecord"));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->OriginalPath, first);
    EXPECT_EQ(record->Facts.Mode, 0755u);
    EXPECT_EQ(record->Facts.ModifiedSec, 1700000000);
    EXPECT_EQ(record->Facts.ModifiedNsec, 123456789);
    EXPECT_EQ(record->Fingerprint.substr(0, 3), "12-");
    ASSERT_TRUE(qm::ParseQuarantineRecord(ReadWholeFile(m.Quarantine + "d-2.exe.qmrecord")));

    const std::string dir = m.Quarantine;
    const std::string hyphens(49, '-');
    EXPECT_EQ(report, (TRemovalReport{"Raport usuwania dialerów", std::string(34, '='), " ",
                                      "Wykryto dialer: " + first, "Plik ten przeniesiono do folderu: " + dir,
                                      hyphens, "Wykryto dialer: " + second,
                                      "Plik ten przeniesiono do folderu: " + dir, hyphens}));
    EXPECT_EQ(m.Log(),
              "09.12.2026 Wykryto dialer: " + first + "\n09.12.2026 Plik ten przeniesiono do folderu: " +
                  dir + "\n09.12.2026 " + hyphens + "\n09.12.2026 Wykryto dialer: " + second +
                  "\n09.12.2026 Plik ten przeniesiono do folderu: " + dir + "\n09.12.2026 " + hyphens + "\n");
}

TEST(DialerRemoval, EntriesThatNameTheFileAreBackedUpAndDeletedOthersStay) {
    TMachine m;
    const std::string dialer = m.Root.Write("opt/x y/d.exe", "dialer");
    // Each entry's command, and whether it names the dialer.
    const struct {
        const char* Name;
        std::string Exec;
        bool Named;
    } rows[] = {
        {"quoted", "\"" + dialer + "\" --silent", true},
        {"escaped blank", (m.Root / "opt/x\\sy/d.exe") + " -s", true},
        {"after another program", "sh -c '" + dialer + " --x'", true},
        {"longer name", "\"" + dialer + "2\"", false},
        {"other letter case", std::string("\"") + (m.Root / "opt/x y/D.exe") + "\"", false},
        {"another program", "/usr/bin/true", false},
    };
    for (const auto& r : rows)
        m.Desktop(std::string("etc/xdg/autostart/") + r.Name + ".desktop", r.Exec);
    m.Root.Write("home/ola/.config/autostart/try.desktop",
                 "[Desktop Entry]\nExec=/usr/bin/true\nTryExec=" + dialer + "\n");
    // A unit with its wants link, and one that runs something else.
    m.Root.Write("etc/systemd/system/d.service",
                 "[Service]\nExecStartPre=/bin/true\nExecStart=-\"" + dialer + "\" \\\n  --daemon\n");
    m.Root.Write("etc/systemd/system/other.service", "[Service]\nExecStart=/bin/sleep 1\n");
    fs::create_directories(m.Root / "etc/systemd/system/multi-user.target.wants");
    fs::create_directory_symlink("../d.service",
                                 m.Root / "etc/systemd/system/multi-user.target.wants/d.service");

    TRemovalReport report;
    ASSERT_TRUE(m.Removal.RemoveDialer(dialer, &report));
    for (const auto& r : rows)
        EXPECT_EQ(fs::exists(m.Root / (std::string("etc/xdg/autostart/") + r.Name + ".desktop")), !r.Named)
            << r.Name;
    EXPECT_FALSE(fs::exists(m.Root / "home/ola/.config/autostart/try.desktop"));
    EXPECT_FALSE(fs::exists(m.Root / "etc/systemd/system/d.service"));
    EXPECT_FALSE(fs::is_symlink(m.Root / "etc/systemd/system/multi-user.target.wants/d.service"));
    EXPECT_TRUE(fs::exists(m.Root / "etc/systemd/system/other.service"));

    // Five entries: each backed up under its own name, logged with the backup's path.
    const auto record = qm::ParseQuarantineRecord(ReadWholeFile(m.Quarantine + "d.exe.qmrecord"));
    ASSERT_TRUE(record);
    ASSERT_EQ(record->Entries.size(), 5u);
    int backups = 0, deleted = 0;
    for (const std::string& line : report) {
        backups += line.starts_with("Został utworzony plik " + m.Quarantine + "d.exe.") &&
                   line.ends_with(" dla odtworzenia wartości rejestru.");
        deleted += line == "Dialer " + dialer + " został usunięty z rejestru.";
    }
    EXPECT_EQ(backups, 5);
    EXPECT_EQ(deleted, 5);
    EXPECT_EQ(ReadWholeFile(m.Quarantine + "d.exe.quoted.desktop"),
              "[Desktop Entry]\nType=Application\nName=X\nExec=\"" + dialer + "\" --silent\n");
    EXPECT_EQ(record->Entries.back().Entry.Links.size(), 1u);
}

TEST(DialerRemoval, VanishedFileStillLosesItsAutostartEntries) {
    TMachine m;
    const std::string gone = m.Root / "tmp/gone.exe";
    const std::string entry = m.Desktop("home/ala/.config/autostart/gone.desktop", gone);
    ::chmod(entry.c_str(), 0640);
    SetTime(entry, 1500000000, 7);
    const auto before = Snapshot(m.Root / "home");
    TRemovalReport report;
    EXPECT_TRUE(m.Removal.RemoveDialer(gone, &report));
    EXPECT_FALSE(fs::exists(m.Root / "home/ala/.config/autostart/gone.desktop"));
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0], "Został utworzony plik " + m.Quarantine + "gone.exe.gone.desktop" +
                             " dla odtworzenia wartości rejestru.");
    EXPECT_EQ(report[1], "Dialer " + gone + " został usunięty z rejestru.");
    EXPECT_EQ(report[2], std::string(49, '-'));
    EXPECT_TRUE(fs::exists(m.Quarantine + "gone.exe.gone.desktop"));

    // The entries have a record of their own, under a name no file or record has; one more
    // vanished file of that name gets the next.
    const auto record = qm::ParseQuarantineRecord(ReadWholeFile(m.Quarantine + "gone.exe.qmrecord"));
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->Vanished);
    EXPECT_EQ(record->OriginalPath, gone);
    ASSERT_EQ(record->Entries.size(), 1u);
    EXPECT_EQ(record->Entries[0].BackupName, "gone.exe.gone.desktop");
    const std::string other = m.Root / "var/gone.exe";
    m.Desktop("etc/xdg/autostart/other.desktop", other);
    EXPECT_TRUE(m.Removal.RemoveDialer(other, nullptr));
    EXPECT_TRUE(fs::exists(m.Quarantine + "gone-2.exe.qmrecord"));

    // Listed as such, and restored: the entry comes back as it was, and no file appears.
    const std::string tool =
        std::string(QM_TEST_BIN_DIR) + "/qmvardel-quarantine --dir '" + m.Quarantine + "' ";
    const std::string out = m.Root / "out.txt";
    EXPECT_EQ(RunShell(tool + "list > '" + out + "'"), 0);
    EXPECT_EQ(ReadWholeFile(out), "gone-2.exe\t" + record->Date + "\t" + other +
                                      "\tplik zniknął\ngone.exe\t" + record->Date + "\t" + gone +
                                      "\tplik zniknął\n");
    EXPECT_EQ(RunShell(tool + "restore gone.exe --to '" + (m.Root / "x") + "' 2> /dev/null"), 2);
    EXPECT_EQ(RunShell(tool + "restore gone.exe > /dev/null"), 0);
    EXPECT_EQ(Snapshot(m.Root / "home"), before);
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_FALSE(fs::exists(m.Quarantine + "gone.exe.qmrecord"));
    EXPECT_FALSE(fs::exists(m.Quarantine + "gone.exe.gone.desktop"));
    EXPECT_NE(m.Log().find("Przywrócono wpis autostartu: " + entry), std::string::npos);
    EXPECT_EQ(m.Log().find("Plik przywrócono z kwarantanny"), std::string::npos);
}

TEST(DialerRemoval, FileThatCannotBeMovedKeepsItsEntriesAndIsReported) {
    TMachine m;
    const std::string dialer = m.Root.Write("a/d.exe", "dialer");
    m.Desktop("etc/xdg/autostart/d.desktop", dialer);
    // The quarantine's place is taken by a file: no folder can be made there.
    m.Root.Write("app/back", "in the way");
    TRemovalReport report;
    EXPECT_FALSE(m.Removal.RemoveDialer(dialer, &report));
    EXPECT_EQ(ReadWholeFile(dialer), "dialer");
    EXPECT_TRUE(fs::exists(m.Root / "etc/xdg/autostart/d.desktop"));
    ASSERT_GE(report.size(), 2u);
    EXPECT_EQ(report[0], "Wykryto dialer: " + dialer);
    EXPECT_EQ(report[1], "Próba usunięcia pliku nie powiodła się. Spróbuj usunąć plik samodzielnie.");
}

TEST(DialerRemoval, SymbolicLinkIsNeverFollowed) {
    TMachine m;
    const std::string target = m.Root.Write("precious/file", "keep me");
    const std::string link = m.Root / "a/d.exe";
    fs::create_directories(m.Root / "a");
    fs::create_symlink(target, link);
    EXPECT_FALSE(m.Removal.RemoveDialer(link, nullptr));
    EXPECT_EQ(ReadWholeFile(target), "keep me");
    EXPECT_TRUE(fs::is_symlink(link));
}

TEST(DialerRemoval, RestoreRoundTripPutsBackTheTreeByteForByte) {
    TMachine m;
    const std::string dialer = m.Root.Write("home/ala/bin/d.exe", std::string("\x7f"
                                                                              "ELF\0\1dialer",
                                                                              11));
    ::chmod(dialer.c_str(), 0751);
    SetTime(dialer, 1600000000, 5);
    const std::string e1 = m.Desktop("home/ala/.config/autostart/d.desktop", "\"" + dialer + "\" -s");
    const std::string e2 = m.Desktop("etc/xdg/autostart/d.desktop", dialer);
    ::chmod(e2.c_str(), 0640);
    SetTime(e1, 1500000000, 7);
    const std::string unit =
        m.Root.Write("home/ala/.config/systemd/user/d.service", "[Service]\nExecStart=" + dialer + "\n");
    fs::create_directories(m.Root / "home/ala/.config/systemd/user/default.target.wants");
    fs::create_symlink(unit, m.Root / "home/ala/.config/systemd/user/default.target.wants/d.service");
    SetTime(unit, 1400000000, 9);
    const auto before = Snapshot(m.Root / "home");
    const auto beforeEtc = Snapshot(m.Root / "etc");

    ASSERT_TRUE(m.Removal.RemoveDialer(dialer, nullptr));
    ASSERT_FALSE(fs::exists(dialer));
    ASSERT_FALSE(fs::exists(e1));
    ASSERT_FALSE(fs::exists(unit));

    const std::string tool =
        std::string(QM_TEST_BIN_DIR) + "/qmvardel-quarantine --dir '" + m.Quarantine + "' ";
    const std::string out = m.Root / "out.txt";
    EXPECT_EQ(RunShell(tool + "list > '" + out + "'"), 0);
    EXPECT_TRUE(ReadWholeFile(out).starts_with("d.exe\t")) << ReadWholeFile(out);
    EXPECT_EQ(RunShell(tool + "restore d.exe > /dev/null"), 0);
    EXPECT_EQ(Snapshot(m.Root / "home"), before);
    EXPECT_EQ(Snapshot(m.Root / "etc"), beforeEtc);
    EXPECT_NE(m.Log().find("Plik przywrócono z kwarantanny: " + dialer), std::string::npos);
    // Nothing left to restore; the quarantine keeps only its log.
    EXPECT_EQ(RunShell(tool + "restore d.exe 2> /dev/null"), 1);
    EXPECT_EQ(fs::directory_iterator(m.Quarantine)->path().filename(), "log.txt");

    // A second removal and a restore that would overwrite the file put back meanwhile is refused
    // whole; --to puts it elsewhere.
    ASSERT_TRUE(m.Removal.RemoveDialer(dialer, nullptr));
    m.Root.Write("home/ala/bin/d.exe", "new file");
    EXPECT_EQ(RunShell(tool + "restore d.exe 2> /dev/null"), 1);
    EXPECT_EQ(ReadWholeFile(dialer), "new file");
    EXPECT_FALSE(fs::exists(e1));
    fs::remove(dialer);
    EXPECT_EQ(RunShell(tool + "restore d.exe --to '" + (m.Root / "elsewhere/d.exe") + "' > /dev/null"), 0);
    EXPECT_EQ(ReadWholeFile(m.Root / "elsewhere/d.exe"), std::string("\x7f"
                                                                     "ELF\0\1dialer",
                                                                     11));
    EXPECT_EQ(RunShell(tool + "bogus 2> /dev/null"), 2);

    // An entry whose backup went missing is not put back, the file and the rest are; the record
    // keeps that entry alone, so that a later restore puts back only it.
    const std::string again = m.Root.Write("home/ala/bin/d.exe", "dialer again");
    ASSERT_TRUE(m.Removal.RemoveDialer(again, nullptr));
    const std::string recordPath = m.Quarantine + "d.exe.qmrecord";
    const auto record = qm::ParseQuarantineRecord(ReadWholeFile(recordPath));
    ASSERT_TRUE(record && !record->Entries.empty());
    const std::string backup = m.Quarantine + record->Entries[0].BackupName;
    fs::rename(backup, m.Root / "aside");
    EXPECT_EQ(RunShell(tool + "restore d.exe > /dev/null 2>&1"), 1);
    EXPECT_EQ(ReadWholeFile(again), "dialer again");
    EXPECT_EQ(RunShell(tool + "list > '" + out + "'"), 0);
    EXPECT_TRUE(ReadWholeFile(out).ends_with("\tplik przywrócony\n")) << ReadWholeFile(out);
    fs::rename(m.Root / "aside", backup);
    EXPECT_EQ(RunShell(tool + "restore d.exe > /dev/null"), 0);
    EXPECT_TRUE(fs::exists(record->Entries[0].Entry.Path()));
    EXPECT_EQ(ReadWholeFile(again), "dialer again");
    EXPECT_FALSE(fs::exists(recordPath));
}

TEST(DialerRemoval, CopyAcrossFilesystemsThatFailsHalfWayLeavesTheOriginal) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root";
    TMachine m;
    fs::create_directories(m.Root / "app/back");
    if (::mount("tmpfs", m.Quarantine.c_str(), "tmpfs", 0, "size=64k,mode=0700") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    struct TUnmount {
        std::string Path;
        ~TUnmount() { ::umount2(Path.c_str(), MNT_DETACH); }
    } unmount{m.Quarantine};

    std::string big(300 * 1024, '\0');
    std::mt19937 rng(5);
    for (char& c : big)
        c = static_cast<char>(rng());
    const std::string dialer = m.Root.Write("a/big.exe", big);
    m.Desktop("etc/xdg/autostart/big.desktop", dialer);
    EXPECT_FALSE(m.Removal.RemoveDialer(dialer, nullptr));
    EXPECT_EQ(ReadWholeFile(dialer), big);
    EXPECT_FALSE(fs::exists(m.Quarantine + "big.exe"));
    EXPECT_TRUE(fs::exists(m.Root / "etc/xdg/autostart/big.desktop"));
    EXPECT_NE(m.Log().find("Próba usunięcia pliku nie powiodła się."), std::string::npos);

    // A file that fits is copied, checked, and only then removed, keeping its time.
    const std::string small = m.Root.Write("a/small.exe", "small dialer");
    SetTime(small, 1234567890, 0);
    EXPECT_TRUE(m.Removal.RemoveDialer(small, nullptr));
    EXPECT_FALSE(fs::exists(small));
    struct stat st {};
    ASSERT_EQ(::stat((m.Quarantine + "small.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mode & 07777, 0400u);
    EXPECT_EQ(ReadWholeFile(m.Quarantine + "small.exe"), "small dialer");
}

TEST(DialerRemoval, EndsEveryProcessRunningTheFileEvenOneThatIgnoresTheRequest) {
    TMachine m;
    const std::string dialer = m.Root / "a/d.exe";
    fs::create_directories(m.Root / "a");
    fs::copy_file("/bin/sleep", dialer);
    const auto start = [&](bool ignoreTerm) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (ignoreTerm)
                ::signal(SIGTERM, SIG_IGN); // kept across exec
            ::execl(dialer.c_str(), dialer.c_str(), "30", nullptr);
            ::_exit(127);
        }
        return pid;
    };
    const pid_t polite = start(false);
    const pid_t stubborn = start(true);
    TLinuxProcessControl processes("/proc", 300);
    // Both run the file before the removal looks.
    ASSERT_TRUE([&] {
        for (int i = 0; i < 200; ++i) {
            int found = 0;
            for (const auto& p : processes.ListExecutables().value_or(std::vector<TProcessExecutable>{}))
                found += p.Path == dialer && (p.Pid == polite || p.Pid == stubborn);
            if (found == 2)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }());
    const auto listed = processes.ListExecutables().value_or(std::vector<TProcessExecutable>{});
    for (const auto& p : listed)
        EXPECT_NE(p.Pid, ::getpid());
    TDialerRemoval removal{{.Processes = processes,
                            .Quarantine = m.Files,
                            .AutoStartEntries = m.Entries,
                            .FileSystem = m.FileSystem,
                            .Clock = m.Clock,
                            .QuarantineDir = [&] {
                                return m.Quarantine;
                            }}};
    EXPECT_TRUE(removal.RemoveDialer(dialer, nullptr));
    int status = 0;
    EXPECT_EQ(::waitpid(polite, &status, 0), polite);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(::waitpid(stubborn, &status, 0), stubborn);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_TRUE(fs::exists(m.Quarantine + "d.exe"));
}

TEST(DialerRemoval, ListedExecutableOfADeletedFileKeepsItsPath) {
    TTempDir dir;
    const std::string exe = dir / "gone";
    fs::copy_file("/bin/sleep", exe);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(exe.c_str(), exe.c_str(), "30", nullptr);
        ::_exit(127);
    }
    TLinuxProcessControl processes;
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        for (const auto& p : processes.ListExecutables().value_or(std::vector<TProcessExecutable>{}))
            seen |= p.Pid == pid && p.Path == exe;
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
    fs::remove(exe);
    bool stripped = false;
    const auto after = processes.ListExecutables().value_or(std::vector<TProcessExecutable>{});
    for (const auto& p : after)
        stripped |= p.Pid == pid && p.Path == exe;
    EXPECT_TRUE(stripped);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

TEST(QuarantineRecord, AnyBytesInPathsSurviveAndGarbageIsRefused) {
    std::mt19937 rng(12);
    const auto randomText = [&](std::size_t maxLen) {
        std::string s(rng() % maxLen + 1, '\0');
        for (char& c : s)
            c = static_cast<char>(rng());
        return s;
    };
    for (int i = 0; i < 500; ++i) {
        TQuarantineRecord r;
        r.OriginalPath = std::string("/") + randomText(40);
        r.StoredName = std::string("n") + randomText(10);
        std::replace(r.StoredName.begin(), r.StoredName.end(), '/', '_');
        r.Vanished = rng() & 1;
        r.FileRestored = r.Vanished && (rng() & 1);
        if (!r.Vanished) {
            r.Facts.Mode = static_cast<std::uint32_t>(rng() & 07777);
            r.Facts.Uid = static_cast<std::uint32_t>(rng());
            r.Facts.Gid = static_cast<std::uint32_t>(rng());
            r.Facts.ModifiedSec = static_cast<std::int64_t>(rng());
            r.Facts.ModifiedNsec = static_cast<std::int64_t>(rng() % 1000000000);
            r.Facts.Size = rng();
            r.Fingerprint = randomText(20);
        }
        r.Date = randomText(20);
        TQuarantinedEntry e;
        e.Entry.Kind = (rng() & 1) ? akSystemdUnit : akDesktopEntry;
        e.Entry.Location = std::string("/") + randomText(30);
        e.Entry.Name = std::string("e") + randomText(8);
        std::replace(e.Entry.Name.begin(), e.Entry.Name.end(), '/', '_');
        e.BackupName = std::string("b") + randomText(8);
        std::replace(e.BackupName.begin(), e.BackupName.end(), '/', '_');
        e.Entry.Links.push_back({std::string("/") + randomText(20), randomText(20)});
        r.Entries.push_back(e);

        const auto parsed = qm::ParseQuarantineRecord(qm::FormatQuarantineRecord(r));
        ASSERT_TRUE(parsed) << i;
        EXPECT_EQ(parsed->OriginalPath, r.OriginalPath);
        EXPECT_EQ(parsed->StoredName, r.StoredName);
        EXPECT_EQ(parsed->Facts, r.Facts);
        EXPECT_EQ(parsed->Fingerprint, r.Fingerprint);
        EXPECT_EQ(parsed->Date, r.Date);
        EXPECT_EQ(parsed->Vanished, r.Vanished);
        EXPECT_EQ(parsed->FileRestored, r.FileRestored);
        ASSERT_EQ(parsed->Entries.size(), 1u);
        EXPECT_EQ(parsed->Entries[0].Entry.Location, e.Entry.Location);
        EXPECT_EQ(parsed->Entries[0].Entry.Name, e.Entry.Name);
        EXPECT_EQ(parsed->Entries[0].BackupName, e.BackupName);
        EXPECT_EQ(parsed->Entries[0].Entry.Links, e.Entry.Links);
        EXPECT_EQ(parsed->Entries[0].Entry.Facts, e.Entry.Facts);

        // Random text after a valid header never parses into a name that leaves the folder.
        const auto garbage =
            qm::ParseQuarantineRecord(std::string(kQuarantineRecordHeader) + "\n" + randomText(200));
        if (garbage) {
            EXPECT_EQ(garbage->StoredName.find('/'), std::string::npos);
        }
    }
    EXPECT_FALSE(qm::ParseQuarantineRecord(std::string(kQuarantineRecordHeader) + "\npath=/x\nname=../x\n"));
    EXPECT_FALSE(qm::ParseQuarantineRecord("path=/x\nname=x\n"));
}
