#include "core/uHookFrame.h"

#include <algorithm>

namespace qm {
namespace {

void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

std::vector<std::uint8_t> EncodeHookFrame(std::uint32_t dwData, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> out(kHookHeaderSize + payload.size());
    PutU32(out.data(), dwData);
    PutU32(out.data() + 4, static_cast<std::uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), out.begin() + kHookHeaderSize);
    return out;
}

THookFrameHeader DecodeHookFrameHeader(const std::uint8_t (&header)[kHookHeaderSize]) {
    return {GetU32(header), GetU32(header + 4)};
}

std::array<std::uint8_t, 4> EncodeHookResult(std::int32_t result) {
    std::array<std::uint8_t, 4> out{};
    PutU32(out.data(), static_cast<std::uint32_t>(result));
    return out;
}

std::int32_t DecodeHookResult(const std::uint8_t (&bytes)[4]) {
    return static_cast<std::int32_t>(GetU32(bytes));
}

} // namespace qm
