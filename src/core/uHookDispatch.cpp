#include "core/uHookDispatch.h"

std::int32_t THookDispatcher::Dispatch(std::uint32_t dwData, std::span<const std::uint8_t> record) {
    // A record shorter than its layout is refused rather than read as zero-padded: a sender that
    // cuts records short is not one of ours, and the cut part could be the very number.
    switch (dwData) {
    case qm::kHookDialRequest:
        if (record.size() < sizeof(qm::TDialRequestData)) {
            Problem("dial request of " + std::to_string(record.size()) + " bytes, expected " +
                    std::to_string(sizeof(qm::TDialRequestData)));
            return 0;
        }
        return FDialRequests.HandleDialRequest(qm::DecodeDialRequest(record));
    case qm::kHookProgramStart:
        if (record.size() < sizeof(qm::TProgramStartData)) {
            Problem("program-start notice of " + std::to_string(record.size()) + " bytes, expected " +
                    std::to_string(sizeof(qm::TProgramStartData)));
            return 0;
        }
        return FProgramStarts.HandleProgramStart(qm::DecodeProgramStart(record));
    default:
        Problem("unknown message kind " + std::to_string(dwData));
        return 0;
    }
}

void THookDispatcher::Problem(const std::string& text) {
    if (OnProblem)
        OnProblem(text);
}
