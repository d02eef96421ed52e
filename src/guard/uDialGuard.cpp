#include "guard/uDialGuard.h"

#include "util/libStrUtilsQmPack.h"
#include "util/uFormat.h"
#include "util/uQmError.h"

TDialGuard::TDialGuard(TAllowedList& allowedList, IRemoteAccess& remoteAccess, IDialGuardView& view)
    : FAllowedList(allowedList), FRemoteAccess(remoteAccess), FView(view) {
    FListListener = FAllowedList.AddChangeListener([this] { ResetLastRequestTag(); });
}

TDialGuard::~TDialGuard() {
    FAllowedList.RemoveChangeListener(FListListener);
}

std::int32_t TDialGuard::HandleDialRequest(const qm::TDialRequest& request) {
    std::string number;
    try {
        number = GetDialedNumber(request.PhoneNumber, request.PhonebookPath, request.EntryName);
    } catch (const EQmError& e) {
        // The phone book could not be consulted: the user is told and the dial goes on, as it would
        // without the guard; the previous request stays the one remembered.
        FView.ShowError(e.what());
        return 0;
    }
    bool allowed = false;
    try {
        allowed = IsDialAllowed(number, request.RequestTag);
    } catch (const std::exception& e) {
        // No answer could be had from the user: a guard that cannot ask blocks.
        FView.ShowError(e.what());
        return 1;
    }
    FLastNumber = number;
    FLastRequestTag = request.RequestTag;
    FLastAllowed = allowed;
    return allowed ? 0 : 1;
}

std::string TDialGuard::GetDialedNumber(const std::string& phoneNumber, const std::string& phonebookPath,
                                        const std::string& entryName) {
    std::string n = qm::Trim(phoneNumber);
    if (n.empty())
        n = FRemoteAccess.GetEntryPhoneNumber(entryName, phonebookPath);
    return qm::NormalizeNumber(n);
}

bool TDialGuard::IsDialAllowed(const std::string& number, std::uint32_t tag) {
    if (FAllowedList.Contains(number))
        return true;
    if (number == FLastNumber && tag == FLastRequestTag && FLastAllowed)
        return true;
    const bool childMode = FView.ChildMode();
    const int answer = AskConnection(number);
    // In child mode only a rejection can come back; anything else is taken as one as well.
    switch (childMode ? static_cast<int>(caReject) : answer) {
    case caConnect:
        return true;
    case caAddNumber:
        try {
            FAllowedList.Add(number);
        } catch (const EQmError& e) {
            // The list holds the number for this run; the user asked to connect, so the dial goes on.
            FView.ShowError(e.what());
        }
        return true;
    default:
        return false;
    }
}

int TDialGuard::AskConnection(const std::string& number) {
    FView.SetAlarmTray();
    int answer = caReject;
    try {
        answer = FView.ShowConnectionPrompt(qm::Format(kConnectionMessageFormat, number), FView.ChildMode());
    } catch (...) {
        FView.ResetTray();
        throw;
    }
    FView.ResetTray();
    return answer;
}
