#include "platform/linux/uLinuxHookEndpoint.h"
#include "ui/uHookSocketServer.h"

#include "core/uHookFrame.h"

#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <gmock/gmock.h>

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

using namespace qm;

namespace {

// Pumps the event loop until done() holds; false after the deadline.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A sender that never blocks the test's thread: the server runs on that same thread.
class TClient {
public:
    explicit TClient(const std::string& path) {
        FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
        Connected = ::connect(FFd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    }
    ~TClient() { Close(); }
    void Close() {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }
    void Send(const std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::send(FFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5); // let the server drain it
        }
    }
    void SendDial(const std::string& number, std::uint32_t tag = 0) {
        Send(EncodeHookFrame(kHookDialRequest, EncodeDialRequest({tag, number, "", ""})));
    }
    // Takes whatever answers have arrived.
    void Poll() {
        std::uint8_t buf[64];
        ssize_t n;
        while ((n = ::recv(FFd, buf, sizeof(buf), MSG_DONTWAIT)) > 0)
            FIn.insert(FIn.end(), buf, buf + n);
        while (FIn.size() >= 4) {
            std::uint8_t r[4] = {FIn[0], FIn[1], FIn[2], FIn[3]};
            Results.push_back(DecodeHookResult(r));
            FIn.erase(FIn.begin(), FIn.begin() + 4);
        }
    }
    bool WaitResults(std::size_t count) {
        return PumpUntil([&] {
            Poll();
            return Results.size() >= count;
        });
    }
    bool Connected = false;
    std::vector<std::int32_t> Results;

private:
    int FFd = -1;
    std::vector<std::uint8_t> FIn;
};

// Answers a dial request by its number: "N:<result>" gives that result; "hold" opens a nested
// loop (as a modal prompt does) until Release is set; "throw" raises.
class TScriptedHandler : public IHookHandler {
public:
    std::vector<std::string> Order; // numbers as their handling ended
    bool Release = false;
    std::function<void()> WhileHolding; // runs inside the open "prompt"
    int Depth = 0;
    int MaxDepth = 0;
    std::int32_t HandleDialRequest(const TDialRequest& r) override {
        ++Depth;
        MaxDepth = std::max(MaxDepth, Depth);
        std::int32_t result = 0;
        if (r.PhoneNumber == "hold") {
            QEventLoop loop;
            if (WhileHolding)
                std::exchange(WhileHolding, nullptr)();
            while (!Release)
                loop.processEvents(QEventLoop::AllEvents, 10);
            result = 1;
        } else if (r.PhoneNumber == "throw") {
            --Depth;
            throw std::runtime_error("prompt failed");
        } else if (r.PhoneNumber.starts_with("N:")) {
            result = std::stoi(r.PhoneNumber.substr(2));
        }
        Order.push_back(r.PhoneNumber);
        --Depth;
        return result;
    }
    std::int32_t HandleProgramStart(const TProgramStart&) override { return 0; }
};

struct TServerFixture {
    TTempDir Temp;
    std::string Dir = Temp.Path() + "/QmVardel";
    std::string Path = Dir + "/hook.sock";
    TScriptedHandler Handler;
    THookDispatcher Dispatcher{Handler};
    std::vector<std::string> Problems;
    TLinuxHookEndpoint Endpoint;
    THookSocketServer Server{Path, Dispatcher, Endpoint};
    TServerFixture() {
        Dispatcher.OnProblem = [this](const std::string& p) {
            Problems.push_back(p);
        };
    }
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(HookSocketServer, CreatesAPrivateFolderAndSocket) {
    TServerFixture f;
    ASSERT_TRUE(f.Server.Listen()) << f.Server.ErrorText();
    EXPECT_EQ(ModeOf(f.Dir), 0700u);
    EXPECT_EQ(ModeOf(f.Path), 0600u);

    // A folder that others may enter is tightened; a stale socket of ours is replaced.
    TServerFixture g;
    ::mkdir(g.Dir.c_str(), 0755);
    {
        // A socket file left by a guard that ended without removing it.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, g.Path.c_str(), sizeof(addr.sun_path) - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
        ::close(fd);
    }
    EXPECT_TRUE(g.Server.Listen()) << g.Server.ErrorText();
    EXPECT_EQ(ModeOf(g.Dir), 0700u);
    TClient client(g.Path);
    EXPECT_TRUE(client.Connected);
}

TEST(HookSocketServer, RefusesWhatItMustNotTrust) {
    {
        TServerFixture f;
        ASSERT_TRUE(f.Server.Listen());
        THookSocketServer second(f.Path, f.Dispatcher, f.Endpoint);
        EXPECT_FALSE(second.Listen());
        EXPECT_THAT(second.ErrorText(), testing::HasSubstr("another guard"));
    }
    {
        TServerFixture f;
        ::mkdir(f.Dir.c_str(), 0700);
        ::close(::open(f.Path.c_str(), O_CREAT | O_WRONLY, 0600));
        EXPECT_FALSE(f.Server.Listen());
        EXPECT_THAT(f.Server.ErrorText(), testing::HasSubstr("not a socket"));
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "files of another user can only be made as root";
    {
        TServerFixture f;
        ::mkdir(f.Dir.c_str(), 0700);
        ::close(::open(f.Path.c_str(), O_CREAT | O_WRONLY, 0600));
        ASSERT_EQ(::chown(f.Path.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(f.Server.Listen());
        EXPECT_THAT(f.Server.ErrorText(), testing::HasSubstr("another user"));
        EXPECT_TRUE(std::filesystem::exists(f.Path)); // never removed
    }
    {
        TServerFixture f;
        ::mkdir(f.Dir.c_str(), 0700);
        ASSERT_EQ(::chown(f.Dir.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(f.Server.Listen());
        EXPECT_THAT(f.Server.ErrorText(), testing::HasSubstr("another user"));
    }
}

TEST(HookSocketServer, AnswersManySendersAndEachConnectionInOrder) {
    TServerFixture f;
    ASSERT_TRUE(f.Server.Listen());
    std::vector<std::unique_ptr<TClient>> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(std::make_unique<TClient>(f.Path));
        ASSERT_TRUE(clients.back()->Connected);
    }
    for (int i = 0; i < 6; ++i) {
        // Three frames in one write: each is answered, in the order sent.
        std::vector<std::uint8_t> bytes;
        for (int k = 0; k < 3; ++k) {
            const auto frame = EncodeHookFrame(
                kHookDialRequest, EncodeDialRequest({0, "N:" + std::to_string(10 * i + k), "", ""}));
            bytes.insert(bytes.end(), frame.begin(), frame.end());
        }
        clients[i]->Send(bytes);
    }
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(clients[i]->WaitResults(3)) << i;
        EXPECT_EQ(clients[i]->Results, (std::vector<std::int32_t>{10 * i, 10 * i + 1, 10 * i + 2})) << i;
    }
}

TEST(HookSocketServer, BadFramesAreAnsweredZeroAndTheConnectionGoesOn) {
    TServerFixture f;
    ASSERT_TRUE(f.Server.Listen());
    TClient client(f.Path);
    const auto dial = EncodeDialRequest({0, "N:7", "", ""});
    std::vector<std::uint8_t> stream;
    auto add = [&](const std::vector<std::uint8_t>& bytes) {
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    };
    add(EncodeHookFrame(kHookDialRequest,
                        std::vector<std::uint8_t>(dial.begin(), dial.begin() + 100))); // short
    add(EncodeHookFrame(9, dial));                                                     // unknown
    // Oversized: the header announces more than a frame may hold; the bytes that follow are skipped.
    std::vector<std::uint8_t> big(kMaxHookFrame + 1, 0xEE);
    add(EncodeHookFrame(kHookDialRequest, big));
    add(EncodeHookFrame(kHookDialRequest, dial));
    client.Send(stream);
    ASSERT_TRUE(client.WaitResults(4));
    EXPECT_EQ(client.Results, (std::vector<std::int32_t>{0, 0, 0, 7}));
    EXPECT_EQ(f.Problems.size(), 2u); // the oversized frame is the server's own report
    EXPECT_EQ(f.Handler.Order, std::vector<std::string>{"N:7"});
}

TEST(HookSocketServer, RequestDuringAnOpenPromptIsAnsweredFirst) {
    TServerFixture f;
    ASSERT_TRUE(f.Server.Listen());
    TClient first(f.Path), second(f.Path);
    f.Handler.WhileHolding = [&] {
        second.SendDial("N:1");
        first.SendDial("N:5"); // the same connection waits for its earlier frame
        EXPECT_TRUE(second.WaitResults(1));
        first.Poll();
        EXPECT_TRUE(first.Results.empty());
        f.Handler.Release = true;
    };
    first.SendDial("hold");
    ASSERT_TRUE(first.WaitResults(2));
    EXPECT_EQ(second.Results, std::vector<std::int32_t>{1});
    EXPECT_EQ(first.Results, (std::vector<std::int32_t>{1, 5}));
    EXPECT_EQ(f.Handler.Order, (std::vector<std::string>{"N:1", "hold", "N:5"}));
    EXPECT_EQ(f.Handler.MaxDepth, 2);
}

TEST(HookSocketServer, SenderLeavingEarlyDisturbsNobody) {
    TServerFixture f;
    ASSERT_TRUE(f.Server.Listen());
    auto leaver = std::make_unique<TClient>(f.Path);
    TClient other(f.Path);
    f.Handler.WhileHolding = [&] {
        leaver->Close();
        other.SendDial("N:3");
        EXPECT_TRUE(other.WaitResults(1));
        f.Handler.Release = true;
    };
    leaver->SendDial("hold");
    ASSERT_TRUE(PumpUntil([&] { return f.Handler.Order.size() == 2; }));
    ASSERT_TRUE(PumpUntil([&] { return f.Server.ConnectionCount() == 1; }));
    other.SendDial("N:4");
    ASSERT_TRUE(other.WaitResults(2));
    EXPECT_EQ(other.Results, (std::vector<std::int32_t>{3, 4}));
    EXPECT_EQ(f.Handler.Order, (std::vector<std::string>{"N:3", "hold", "N:4"}));
}

TEST(HookSocketServer, HandlerErrorIsReportedAndAnsweredZero) {
    TServerFixture f;
    std::vector<std::string> errors;
    f.Server.OnHandlerError = [&](const std::string& e) {
        errors.push_back(e);
    };
    ASSERT_TRUE(f.Server.Listen());
    TClient client(f.Path);
    client.SendDial("throw");
    client.SendDial("N:1");
    ASSERT_TRUE(client.WaitResults(2));
    EXPECT_EQ(client.Results, (std::vector<std::int32_t>{0, 1}));
    EXPECT_EQ(errors, std::vector<std::string>{"prompt failed"});
}

TEST(HookSocketServer, CloseEndsEveryConnectionAndRemovesTheSocket) {
    TServerFixture f;
    ASSERT_TRUE(f.Server.Listen());
    TClient waiting(f.Path);
    f.Handler.WhileHolding = [&] {
        f.Server.Close(); // the end of work while a request is being decided
        f.Handler.Release = true;
    };
    waiting.SendDial("hold");
    ASSERT_TRUE(PumpUntil([&] { return f.Handler.Order.size() == 1; }));
    EXPECT_EQ(f.Server.ConnectionCount(), 0u);
    EXPECT_FALSE(f.Server.IsListening());
    EXPECT_FALSE(std::filesystem::exists(f.Path));
    waiting.Poll();
    EXPECT_TRUE(waiting.Results.empty()); // no answer after the end
}
