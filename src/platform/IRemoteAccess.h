#pragma once
// Port: the system's dial-up networking as the guard sees it: a phone book of named entries, each
// with the number it dials, a way to start one, and hanging up every active connection.
#include <functional>
#include <string>
#include <vector>

class IRemoteAccess {
public:
    virtual ~IRemoteAccess() = default;

    // The number the entry dials, blanks and control characters trimmed; empty when the entry does
    // not exist or dials no number of its own. The phone book is phonebookPath when such a file
    // or folder exists, the default one otherwise. A phone book that cannot be read at all raises
    // EQmError with a text for the user.
    virtual std::string GetEntryPhoneNumber(const std::string& entryName,
                                            const std::string& phonebookPath) = 0;
    // Empties list and fills it with every entry name of the default phone book, sorted by name.
    // False (list empty) when the phone book cannot be read.
    virtual bool GetEntryList(std::vector<std::string>& list) = 0;
    // Why the last GetEntryList failed, as a text for the user (with what the user can do about
    // it); empty when it succeeded or the reason is unknown.
    virtual std::string EntryListError() const { return {}; }
    // Starts dialing the entry without waiting for the connection; false when it cannot be started.
    virtual bool Dial(const std::string& entryName) = 0;

    // Ends every active connection; true when the connections could be enumerated. The busy
    // cursor is shown meanwhile (OnBusyCursor(true), then OnBusyCursor(false) on every path).
    bool HangUpAll() {
        if (OnBusyCursor)
            OnBusyCursor(true);
        struct TRestore {
            const std::function<void(bool)>& F;
            ~TRestore() {
                if (F)
                    F(false);
            }
        } restore{OnBusyCursor};
        return DoHangUpAll();
    }

    std::function<void(bool busy)> OnBusyCursor;

protected:
    virtual bool DoHangUpAll() = 0;
};
