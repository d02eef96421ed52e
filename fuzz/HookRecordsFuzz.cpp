// Hook messages as any process on the machine may send them: a frame header and a record of any
// length and content. Oracle: decoding never reads past the message (the sanitizer watches), gives
// UTF-8, and a decoded record encodes and decodes back to itself.
#include "FuzzCheck.h"
#include "core/uHookDispatch.h"
#include "core/uHookFrame.h"
#include "core/uHookRecords.h"
#include "util/libStrUtilsQmPack.h"

#include <cstring>
#include <vector>

namespace {

// A field filled to its last unit has no terminator; encoding keeps room for one, so only text
// shorter than its field comes back whole.
bool Fits(const std::string& text, std::size_t units) {
    return qm::Utf8ToUtf16(text).size() < units;
}

class TEchoHandler : public IHookHandler {
public:
    std::int32_t HandleDialRequest(const qm::TDialRequest& r) override {
        QM_FUZZ_CHECK(qm::IsValidUtf8(r.PhoneNumber) && qm::IsValidUtf8(r.PhonebookPath) &&
                          qm::IsValidUtf8(r.EntryName),
                      "dial request text is not UTF-8");
        if (!Fits(r.PhoneNumber, 256) || !Fits(r.PhonebookPath, 256) || !Fits(r.EntryName, 256))
            return 1;
        const qm::TDialRequest again = qm::DecodeDialRequest(qm::EncodeDialRequest(r));
        QM_FUZZ_CHECK(again.RequestTag == r.RequestTag && again.PhoneNumber == r.PhoneNumber &&
                          again.PhonebookPath == r.PhonebookPath && again.EntryName == r.EntryName,
                      "dial request does not survive a round trip");
        return 1;
    }
    std::int32_t HandleProgramStart(const qm::TProgramStart& s) override {
        QM_FUZZ_CHECK(qm::IsValidUtf8(s.ApplicationName) && qm::IsValidUtf8(s.CommandLine) &&
                          qm::IsValidUtf8(s.CurrentDirectory),
                      "program start text is not UTF-8");
        if (!Fits(s.ApplicationName, 260) || !Fits(s.CommandLine, 260) || !Fits(s.CurrentDirectory, 260))
            return 1;
        const qm::TProgramStart again = qm::DecodeProgramStart(qm::EncodeProgramStart(s));
        QM_FUZZ_CHECK(again.ApplicationName == s.ApplicationName && again.CommandLine == s.CommandLine &&
                          again.CurrentDirectory == s.CurrentDirectory,
                      "program start does not survive a round trip");
        return 1;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < qm::kHookHeaderSize)
        return 0;
    std::uint8_t header[qm::kHookHeaderSize];
    std::memcpy(header, data, sizeof header);
    const qm::THookFrameHeader h = qm::DecodeHookFrameHeader(header);
    // The record in a buffer of its own size, so that any read past it is caught.
    const std::vector<std::uint8_t> record(data + qm::kHookHeaderSize, data + size);
    TEchoHandler handler;
    THookDispatcher dispatcher(handler);
    dispatcher.OnProblem = [](const std::string& text) {
        QM_FUZZ_CHECK(!text.empty(), "empty problem report");
    };
    const std::int32_t result = dispatcher.Dispatch(h.DwData % 4, record);
    // Decoding alone also takes records cut short, as if the missing bytes were zero.
    handler.HandleDialRequest(qm::DecodeDialRequest(record));
    handler.HandleProgramStart(qm::DecodeProgramStart(record));
    QM_FUZZ_CHECK(result == 0 || result == 1, "result out of range");
    const std::vector<std::uint8_t> frame = qm::EncodeHookFrame(h.DwData, record);
    std::uint8_t again[qm::kHookHeaderSize];
    std::memcpy(again, frame.data(), sizeof again);
    QM_FUZZ_CHECK(qm::DecodeHookFrameHeader(again).CbData == record.size(), "frame length");
    return 0;
}
