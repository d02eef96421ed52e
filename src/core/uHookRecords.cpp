#include "core/uHookRecords.h"

#include "util/libStrUtilsQmPack.h"

#include <algorithm>

namespace qm {
namespace {

std::string DecodeField(std::span<const std::uint8_t> message, std::size_t offset, std::size_t units) {
    if (offset >= message.size())
        return {};
    const std::size_t available = std::min(message.size() - offset, units * 2);
    return Utf16LeToUtf8(message.data() + offset, available, units);
}

void EncodeField(std::vector<std::uint8_t>& out, std::size_t offset, std::size_t units,
                 const std::string& text) {
    std::u16string wide = Utf8ToUtf16(text);
    if (wide.size() > units - 1) {
        wide.resize(units - 1);
        // Never leave half a surrogate pair at the cut.
        if (!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF)
            wide.pop_back();
    }
    for (std::size_t i = 0; i < wide.size(); ++i) {
        out[offset + 2 * i] = static_cast<std::uint8_t>(wide[i] & 0xFF);
        out[offset + 2 * i + 1] = static_cast<std::uint8_t>(wide[i] >> 8);
    }
}

} // namespace

TDialRequest DecodeDialRequest(std::span<const std::uint8_t> message) {
    TDialRequest r;
    std::uint8_t tag[4] = {0, 0, 0, 0};
    std::copy_n(message.begin(), std::min<std::size_t>(4, message.size()), tag);
    r.RequestTag = tag[0] | (tag[1] << 8) | (tag[2] << 16) | (static_cast<std::uint32_t>(tag[3]) << 24);
    r.PhoneNumber = DecodeField(message, offsetof(TDialRequestData, PhoneNumber), 256);
    r.PhonebookPath = DecodeField(message, offsetof(TDialRequestData, PhonebookPath), 256);
    r.EntryName = DecodeField(message, offsetof(TDialRequestData, EntryName), 256);
    return r;
}

TProgramStart DecodeProgramStart(std::span<const std::uint8_t> message) {
    TProgramStart s;
    s.ApplicationName = DecodeField(message, offsetof(TProgramStartData, ApplicationName), 260);
    s.CommandLine = DecodeField(message, offsetof(TProgramStartData, CommandLine), 260);
    s.CurrentDirectory = DecodeField(message, offsetof(TProgramStartData, CurrentDirectory), 260);
    return s;
}

std::vector<std::uint8_t> EncodeDialRequest(const TDialRequest& request) {
    std::vector<std::uint8_t> out(sizeof(TDialRequestData), 0);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(request.RequestTag >> (8 * i));
    EncodeField(out, offsetof(TDialRequestData, PhoneNumber), 256, request.PhoneNumber);
    EncodeField(out, offsetof(TDialRequestData, PhonebookPath), 256, request.PhonebookPath);
    EncodeField(out, offsetof(TDialRequestData, EntryName), 256, request.EntryName);
    return out;
}

std::vector<std::uint8_t> EncodeProgramStart(const TProgramStart& start) {
    std::vector<std::uint8_t> out(sizeof(TProgramStartData), 0);
    EncodeField(out, offsetof(TProgramStartData, ApplicationName), 260, start.ApplicationName);
    EncodeField(out, offsetof(TProgramStartData, CommandLine), 260, start.CommandLine);
    EncodeField(out, offsetof(TProgramStartData, CurrentDirectory), 260, start.CurrentDirectory);
    return out;
}

} // namespace qm
