// vardel-hook: the command-line hook client. It sends one dial request or program-start notice to
// the guard's hook socket exactly as the hook library does, waits for the guard's decision (a
// prompt may stay open for minutes) and prints the Result.
//
// Exit codes: 0 a Result was printed; 1 bad usage or any other failure; 2 no guard listens.
#include "core/uHookFrame.h"
#include "core/uHookRecords.h"
#include "platform/linux/uLinuxPlatform.h"
#include "uHookSender.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage:\n"
    "  vardel-hook [--socket PATH] dial [--tag N] [--phonebook PATH] [--entry NAME] [NUMBER]\n"
    "  vardel-hook [--socket PATH] start [--cmdline TEXT] [--cwd DIR] APPLICATION\n"
    "  vardel-hook [--socket PATH] raw --dwdata N FILE\n"
    "  vardel-hook --help\n"
    "\n"
    "Sends one message to the running guard's hook socket and prints its Result:\n"
    "for a dial request 0 lets the dial proceed and 1 stops it; for a program start 0 lets the\n"
    "program start and 1 stops it. raw sends the bytes of FILE as one frame of kind N.\n"
    "The socket is $XDG_RUNTIME_DIR/QmVardel/hook.sock (/tmp/QmVardel-<uid>/hook.sock when\n"
    "XDG_RUNTIME_DIR is unset) unless --socket names another one.\n"
    "\n"
    "Exit status: 0 the Result was printed, 1 usage or other error, 2 no guard is listening.\n";

struct TUsageError {
    std::string Text;
};

std::optional<std::uint32_t> ParseU32(const std::string& text) {
    if (text.empty() || text[0] == '-')
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

class TArgs {
public:
    TArgs(int argc, char** argv) : FArgs(argv + 1, argv + argc) {}
    bool Done() const { return FPos >= FArgs.size(); }
    const std::string& Peek() const { return FArgs[FPos]; }
    std::string Next() { return FArgs[FPos++]; }
    std::string ValueOf(const std::string& option) {
        if (Done())
            throw TUsageError{option + " needs a value"};
        return Next();
    }

private:
    std::vector<std::string> FArgs;
    std::size_t FPos = 0;
};

int Run(int argc, char** argv) {
    TArgs args(argc, argv);
    std::string socketPath;
    std::string command;
    std::string positional;
    bool hasPositional = false;
    qm::TDialRequest dial;
    qm::TProgramStart start;
    std::optional<std::uint32_t> rawKind;

    while (!args.Done()) {
        const std::string arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--socket") {
            socketPath = args.ValueOf(arg);
        } else if (command.empty()) {
            if (arg != "dial" && arg != "start" && arg != "raw")
                throw TUsageError{"unknown command: " + arg};
            command = arg;
        } else if (command == "dial" && arg == "--tag") {
            const auto tag = ParseU32(args.ValueOf(arg));
            if (!tag)
                throw TUsageError{"--tag needs a number from 0 to 4294967295"};
            dial.RequestTag = *tag;
        } else if (command == "dial" && arg == "--phonebook") {
            dial.PhonebookPath = args.ValueOf(arg);
        } else if (command == "dial" && arg == "--entry") {
            dial.EntryName = args.ValueOf(arg);
        } else if (command == "start" && arg == "--cmdline") {
            start.CommandLine = args.ValueOf(arg);
        } else if (command == "start" && arg == "--cwd") {
            start.CurrentDirectory = args.ValueOf(arg);
        } else if (command == "raw" && arg == "--dwdata") {
            rawKind = ParseU32(args.ValueOf(arg));
            if (!rawKind)
                throw TUsageError{"--dwdata needs a number from 0 to 4294967295"};
        } else if (arg == "--") {
            if (!args.Done() && !hasPositional) {
                positional = args.Next();
                hasPositional = true;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            // A number or name that starts with a dash goes after "--".
            throw TUsageError{"unknown option for " + command + ": " + arg};
        } else if (!hasPositional) {
            positional = arg;
            hasPositional = true;
        } else {
            throw TUsageError{"unexpected argument: " + arg};
        }
    }
    if (command.empty())
        throw TUsageError{"no command given"};

    std::vector<std::uint8_t> payload;
    std::uint32_t dwData = 0;
    if (command == "dial") {
        dial.PhoneNumber = positional;
        payload = qm::EncodeDialRequest(dial);
        dwData = qm::kHookDialRequest;
    } else if (command == "start") {
        if (!hasPositional)
            throw TUsageError{"start needs the APPLICATION"};
        start.ApplicationName = positional;
        payload = qm::EncodeProgramStart(start);
        dwData = qm::kHookProgramStart;
    } else {
        if (!rawKind)
            throw TUsageError{"raw needs --dwdata N"};
        if (!hasPositional)
            throw TUsageError{"raw needs the FILE"};
        std::ifstream in(positional, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "vardel-hook: cannot read %s\n", positional.c_str());
            return 1;
        }
        payload.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        dwData = *rawKind;
    }

    if (socketPath.empty())
        socketPath = QmRuntimeDir() + "/hook.sock";
    std::string error;
    qm::THookSendFailure failure = qm::THookSendFailure::hsfNone;
    const auto result = qm::SendHookFrame(socketPath, dwData, payload, -1, &error, &failure);
    if (!result) {
        if (failure == qm::THookSendFailure::hsfNoGuard) {
            std::fprintf(stderr, "vardel-hook: no guard is listening on %s (is QmVardel running?)\n",
                         socketPath.c_str());
            return 2;
        }
        std::fprintf(stderr, "vardel-hook: %s\n", error.c_str());
        return 1;
    }
    std::printf("%d\n", static_cast<int>(*result));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "vardel-hook: %s\n\n%s", e.Text.c_str(), kUsage);
        return 1;
    }
}
