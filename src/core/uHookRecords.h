#pragma once
// The hook contract's records, byte for byte as the hook side sends them. Text fields are
// UTF-16LE, zero-terminated within their field; decoding never reads past a field or the message.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm {

inline constexpr std::uint32_t kHookDialRequest = 0;  // dwData of a TDialRequestData
inline constexpr std::uint32_t kHookProgramStart = 1; // dwData of a TProgramStartData

struct TDialRequestData {
    std::uint32_t RequestTag;
    char16_t PhoneNumber[256];
    char16_t PhonebookPath[256];
    char16_t EntryName[256];
};
static_assert(sizeof(TDialRequestData) == 1540);
static_assert(offsetof(TDialRequestData, RequestTag) == 0);
static_assert(offsetof(TDialRequestData, PhoneNumber) == 4);
static_assert(offsetof(TDialRequestData, PhonebookPath) == 516);
static_assert(offsetof(TDialRequestData, EntryName) == 1028);

struct TProgramStartData {
    char16_t ApplicationName[260];
    char16_t CommandLine[260];
    char16_t CurrentDirectory[260];
};
static_assert(sizeof(TProgramStartData) == 1560);
static_assert(offsetof(TProgramStartData, ApplicationName) == 0);
static_assert(offsetof(TProgramStartData, CommandLine) == 520);
static_assert(offsetof(TProgramStartData, CurrentDirectory) == 1040);

// A dial request as the program works with it: UTF-8 text.
struct TDialRequest {
    std::uint32_t RequestTag = 0;
    std::string PhoneNumber;
    std::string PhonebookPath;
    std::string EntryName;
};

struct TProgramStart {
    std::string ApplicationName;
    std::string CommandLine;
    std::string CurrentDirectory;
};

// Decoding takes the message's bytes as they came; a message shorter than its record reads as if the
// missing bytes were zero (fields end early), never past its end.
TDialRequest DecodeDialRequest(std::span<const std::uint8_t> message);
TProgramStart DecodeProgramStart(std::span<const std::uint8_t> message);

// Encoding for the hook side: text longer than a field is cut so that the terminator still fits.
std::vector<std::uint8_t> EncodeDialRequest(const TDialRequest& request);
std::vector<std::uint8_t> EncodeProgramStart(const TProgramStart& start);

} // namespace qm
