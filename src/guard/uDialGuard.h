#pragma once
// The dial decision: which number a dial request is for, whether it may go through (allowed list,
// then the repeat of an allowed request, then the user), and the connection prompt's frame
// around the view that shows it.
#include "core/uHookDispatch.h"
#include "core/uHookRecords.h"
#include "guard/uAllowedNumbers.h"
#include "guard/uConnectionStatus.h"
#include "platform/IRemoteAccess.h"

#include <cstdint>
#include <string>

// The connection prompt's answers; any other value counts as a rejection.
enum TConnectionAnswer : int { caConnect = 0, caReject = 1, caAddNumber = 2 };

inline constexpr const char* kConnectionMessageFormat =
    "<b>QmVardel<plain> wykrył próbę nawiązania połączenia z numerem <b>%s</b>.\r\nNumer ten nie znajduje "
    "się "
    "na liście numerów dozwolonych. Czy zezwolić na połączenie?";

// What the decision needs of the main window.
class IDialGuardView {
public:
    virtual ~IDialGuardView() = default;
    // The child-mode option as its check box shows it.
    virtual bool ChildMode() const = 0;
    virtual void SetAlarmTray() = 0; // SetTrayState(trayAlarm)
    virtual void ResetTray() = 0;    // SetTrayState(trayReset)
    // Shows TfrmConnection modally with the message; returns its FAnswer. May raise.
    virtual int ShowConnectionPrompt(const std::string& message, bool childMode) = 0;
    // The error message box with the program's title.
    virtual void ShowError(const std::string& text) = 0;
};

// The guard keeps the previous request (its number is the connected one when the modem connects)
// and hears every change of the allowed list itself; the list must outlive it.
class TDialGuard : public IDialRequestHandler, public ILastDialedNumber {
public:
    TDialGuard(TAllowedList& allowedList, IRemoteAccess& remoteAccess, IDialGuardView& view);
    ~TDialGuard() override;
    TDialGuard(const TDialGuard&) = delete;
    TDialGuard& operator=(const TDialGuard&) = delete;

    // The Result of a dial request: 0 lets the dial proceed, 1 stops it. Runs inside the event loop
    // and may nest: a request that arrives while a prompt is open is decided (and recorded) first.
    std::int32_t HandleDialRequest(const qm::TDialRequest& request) override;
    std::string GetDialedNumber(const std::string& phoneNumber, const std::string& phonebookPath,
                                const std::string& entryName);
    bool IsDialAllowed(const std::string& number, std::uint32_t tag);
    int AskConnection(const std::string& number);

    // On every change of the allowed list, so that a repeat cannot skip the question.
    void ResetLastRequestTag() { FLastRequestTag = 0; }

    const std::string& LastNumber() const override { return FLastNumber; }
    std::uint32_t LastRequestTag() const { return FLastRequestTag; }
    bool LastAllowed() const { return FLastAllowed; }

private:
    TAllowedList& FAllowedList;
    IRemoteAccess& FRemoteAccess;
    IDialGuardView& FView;
    int FListListener = 0;
    std::string FLastNumber;
    std::uint32_t FLastRequestTag = 0;
    bool FLastAllowed = false;
};
