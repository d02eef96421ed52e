#pragma once
// The hook socket's framing: a request is "u32 dwData, u32 cbData, cbData bytes" and the answer one
// i32 Result, all little-endian. Frames above kMaxHookFrame bytes are refused unread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qm {

inline constexpr std::uint32_t kMaxHookFrame = 64 * 1024;
inline constexpr std::size_t kHookHeaderSize = 8;

struct THookFrameHeader {
    std::uint32_t DwData = 0;
    std::uint32_t CbData = 0;
};

std::vector<std::uint8_t> EncodeHookFrame(std::uint32_t dwData, std::span<const std::uint8_t> payload);
THookFrameHeader DecodeHookFrameHeader(const std::uint8_t (&header)[kHookHeaderSize]);
std::array<std::uint8_t, 4> EncodeHookResult(std::int32_t result);
std::int32_t DecodeHookResult(const std::uint8_t (&bytes)[4]);

} // namespace qm
