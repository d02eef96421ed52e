#include "platform/linux/uLinuxHookEndpoint.h"

#include "support/TempDir.h"
#include "util/uQmError.h"

#include <gmock/gmock.h>

#include <array>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

sockaddr_un AddressOf(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    return addr;
}

// A connected client descriptor, or -1.
int ConnectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr = AddressOf(path);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A socket file with nobody behind it, as a guard that ended without removing it leaves.
void LeaveStaleSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un addr = AddressOf(path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)), 0);
    ::close(fd);
}

// The error Listen throws, or "" when it listened (the listener is then closed again).
std::string ListenError(TLinuxHookEndpoint& endpoint, const std::string& path) {
    try {
        endpoint.StopListening(endpoint.Listen(path), path);
        return "";
    } catch (const EQmError& e) {
        return e.what();
    }
}

} // namespace

TEST(LinuxHookEndpoint, ListensInAPrivateFolderAndReplacesOnlyAStaleSocket) {
    TTempDir temp;
    TLinuxHookEndpoint endpoint;
    const std::string dir = temp.Path() + "/QmVardel";
    const std::string path = dir + "/hook.sock";

    // Created 0700; a folder others may enter is tightened; a stale socket of ours gives way.
    EXPECT_EQ(ListenError(endpoint, path), "");
    EXPECT_EQ(ModeOf(dir), 0700u);
    EXPECT_FALSE(std::filesystem::exists(path)); // removed when listening stopped
    ::chmod(dir.c_str(), 0755);
    LeaveStaleSocket(path);
    const THookHandle listener = endpoint.Listen(path);
    ASSERT_NE(listener, kNoHookHandle);
    EXPECT_EQ(ModeOf(dir), 0700u);
    EXPECT_EQ(ModeOf(path), 0600u);

    // While it listens, a second guard is refused and the first keeps its socket.
    EXPECT_EQ(ListenError(endpoint, path), "another guard is listening on " + path);
    const int client = ConnectTo(path);
    ASSERT_GE(client, 0);
    endpoint.StopListening(listener, path);
    ::close(client);
}

TEST(LinuxHookEndpoint, RefusesWhatItMustNotTrust) {
    struct TCase {
        const char* Name;
        std::function<void(const std::string& dir, const std::string& path)> Prepare;
        std::function<std::string(const std::string& dir, const std::string& path)> Expected;
        bool NeedsRoot = false;
    };
    const std::vector<TCase> cases = {
        {"a plain file at the socket path",
         [](const std::string& dir, const std::string& path) {
             ::mkdir(dir.c_str(), 0700);
             ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0600));
         },
         [](const std::string&, const std::string& path) {
             return path + " exists and is not a socket";
         }},
        {"a file where the folder belongs",
         [](const std::string& dir, const std::string&) {
             ::close(::open(dir.c_str(), O_CREAT | O_WRONLY, 0600));
         },
         [](const std::string& dir, const std::string&) {
             return dir + " is not a folder";
         }},
        {"another user's socket file",
         [](const std::string& dir, const std::string& path) {
             ::mkdir(dir.c_str(), 0700);
             LeaveStaleSocket(path);
             ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
         },
         [](const std::string&, const std::string& path) {
             return path + " belongs to another user; refusing it";
         },
         true},
        {"another user's folder",
         [](const std::string& dir, const std::string&) {
             ::mkdir(dir.c_str(), 0700);
             ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
         },
         [](const std::string& dir, const std::string&) {
             return dir + " belongs to another user; refusing to listen there";
         },
         true},
    };
    TLinuxHookEndpoint endpoint;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.NeedsRoot && ::geteuid() != 0)
            continue; // files of another user can only be made as root
        TTempDir temp;
        const std::string dir = temp.Path() + "/QmVardel";
        const std::string path = dir + "/hook.sock";
        c.Prepare(dir, path);
        EXPECT_EQ(ListenError(endpoint, path), c.Expected(dir, path));
        EXPECT_TRUE(std::filesystem::exists(dir)); // nothing of what was found is removed
    }

    TTempDir temp;
    const std::string longPath = temp.Path() + "/" + std::string(120, 'x') + ".sock";
    EXPECT_EQ(ListenError(endpoint, longPath), "the socket path is too long: " + longPath);
}

TEST(LinuxHookEndpoint, MovesWhatIsAvailableWithoutBlocking) {
    TTempDir temp;
    TLinuxHookEndpoint endpoint;
    const std::string path = temp.Path() + "/QmVardel/hook.sock";
    const THookHandle listener = endpoint.Listen(path);
    EXPECT_EQ(endpoint.Accept(listener), kNoHookHandle); // nobody waits

    const int client = ConnectTo(path);
    ASSERT_GE(client, 0);
    const THookHandle connection = endpoint.Accept(listener);
    ASSERT_NE(connection, kNoHookHandle);

    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(endpoint.Read(connection, buffer).Status, THookIoStatus::hiosWouldBlock);
    ASSERT_EQ(::send(client, "abc", 3, 0), 3);
    const THookIoResult read = endpoint.Read(connection, buffer);
    EXPECT_EQ(read.Status, THookIoStatus::hiosDone);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(read.Count)), "abc");

    const std::array<std::uint8_t, 4> answer = {1, 0, 0, 0};
    const THookIoResult written = endpoint.Write(connection, answer);
    EXPECT_EQ(written.Status, THookIoStatus::hiosDone);
    EXPECT_EQ(written.Count, 4u);
    char got[4] = {};
    EXPECT_EQ(::recv(client, got, sizeof(got), 0), 4);

    // The sender leaves: reading sees the end, writing neither blocks nor raises SIGPIPE.
    ::close(client);
    EXPECT_EQ(endpoint.Read(connection, buffer).Status, THookIoStatus::hiosClosed);
    EXPECT_EQ(endpoint.Write(connection, answer).Status, THookIoStatus::hiosClosed);
    endpoint.CloseConnection(connection);
    endpoint.StopListening(listener, path);
    EXPECT_FALSE(std::filesystem::exists(path));
}
