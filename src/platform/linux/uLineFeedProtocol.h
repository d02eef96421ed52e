#pragma once
// The hook service's line feed: a Unix stream socket on which the service publishes its modem lines
// and their call states to every subscriber. Text lines ending in '\n':
//   LINES <count>                        once, on connecting
//   LINE <device> <media modes> <name>   count times, devices numbered from 0
//   CALLSTATE <device> <call> <state>    each call-state change; state is a telephony state value
// Subscribers send nothing. Lines that do not parse are skipped, so the feed can grow.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

inline constexpr const char* kDefaultLineFeedSocket = "/run/vardeld/line.sock";

struct TFeedLine {
    std::uint32_t Device = 0;
    std::uint32_t MediaModes = 0;
    std::string Name;
};

struct TFeedCallState {
    std::uint32_t Device = 0;
    std::uint32_t Call = 0;
    std::uint32_t State = 0;
};

struct TFeedMessage {
    enum TKind { fmInvalid, fmLines, fmLine, fmCallState } Kind = fmInvalid;
    std::uint32_t Count = 0;  // fmLines
    TFeedLine Line;           // fmLine
    TFeedCallState CallState; // fmCallState
};

std::string FormatFeedHeader(const std::vector<TFeedLine>& lines);
std::string FormatFeedCallState(const TFeedCallState& state);
// One line without its '\n'.
TFeedMessage ParseFeedMessage(std::string_view text);

} // namespace qm
