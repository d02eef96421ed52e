// Crash safety of the settings file, measured: a child process makes 2,000 writes while the test
// kills it (SIGKILL) at random moments, then checks that the file parses and holds the state
// before or after the write in progress, whole, with the user's own lines intact.
#include "core/uAppIni.h"
#include "platform/linux/uLinuxPlatform.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kWrites = 2000;
constexpr int kKeys = 8;

std::string KeyOf(int k) {
    std::string key = "time_";
    key += std::to_string(k);
    return key;
}

// The value of key k after writes 0..n (write i sets key i % kKeys to i); -1 when never written.
int ValueAfter(int n, int k) {
    if (n < k)
        return -1;
    return n - ((n - k) % kKeys);
}

// Writes from index first on, announcing each index on the pipe before writing it.
[[noreturn]] void Writer(const std::string& path, int first, int announce) {
    TLinuxFileSystem fs;
    TAppIni ini(path, fs);
    for (int i = first; i < kWrites; ++i) {
        if (::write(announce, &i, sizeof i) != sizeof i)
            ::_exit(3);
        ini.WriteInt(KeyOf(i % kKeys), i, "day_statistics");
    }
    ::_exit(0);
}

} // namespace

TEST(AppIniCrash, KilledAtRandomMomentsTheFileHoldsTheOldOrTheNewStateWhole) {
    // tmpfs when there is one: a killed process loses no written page, and fsync costs nothing, so
    // two thousand replacements take a second, not a minute.
    std::string root = std::filesystem::temp_directory_path().string();
    if (::access("/dev/shm", W_OK) == 0)
        root = "/dev/shm";
    std::string dir = root + "/qm-crash-XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    struct TRemove {
        std::string Dir;
        ~TRemove() {
            std::error_code ec;
            std::filesystem::remove_all(Dir, ec);
        }
    } remove{dir};
    const std::string path = dir + "/QmVardel.ini";
    const std::string userLines = "; moje ustawienia, ręcznie\n[main]\nskin=2\n";
    std::ofstream(path, std::ios::binary) << userLines;

    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<int> lifeUs(0, 3000);
    int announced = -1, kills = 0;
    while (announced < kWrites - 1) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            Writer(path, announced < 0 ? 0 : announced, pipeFds[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(lifeUs(rng)));
        kills += ::kill(child, SIGKILL) == 0;
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        for (int index = 0; ::read(pipeFds[0], &index, sizeof index) == sizeof index;)
            announced = index;
        if (announced < 0)
            continue;

        TLinuxFileSystem fs;
        TAppIni ini(path, fs);
        bool before = true, after = true; // the state without and with the announced write
        for (int k = 0; k < kKeys; ++k) {
            const int value = ini.ReadInt(KeyOf(k), -1, "day_statistics");
            before = before && value == ValueAfter(announced - 1, k);
            after = after && value == ValueAfter(announced, k);
        }
        ASSERT_TRUE(before || after) << "after write " << announced << ":\n" << ReadWholeFile(path);
        ASSERT_EQ(ReadWholeFile(path).substr(0, userLines.size()), userLines);
        ASSERT_EQ(ini.ReadInt("skin", 0, "main"), 2);
    }
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    EXPECT_GT(kills, 10) << "the writer was hardly ever interrupted";
}
