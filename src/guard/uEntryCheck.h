#pragma once
// The phone-book entry check: at every start after the first, a warning for each entry whose
// number is not on the allowed numbers list (a dialer often rewrites an existing entry); on the
// first run, the picker whose ticked entries become the allowed numbers list.
#include "guard/uAllowedNumbers.h"
#include "platform/IRemoteAccess.h"

#include <memory>
#include <string>
#include <vector>

// One line of the picker: the entry, its number, the line shown and whether it starts ticked.
struct TEntryChoice {
    std::string Name;
    std::string Number;
    std::string Line;
    bool Ticked = false;
};

namespace qm {
// "0" and "0," (a number kept blank on purpose) and numbers starting with "07" (premium lines)
// start unticked; every other number, the empty one too, starts ticked.
bool IsEntryTickedByDefault(const std::string& number);
// The picker's line: "%s (numer: %s)".
std::string EntryChoiceLine(const std::string& name, const std::string& number);
// Every entry of the default phone book with its number, in the phone book's order. An
// enumeration that fails without saying why gives no entry; one that names its reason (a phone
// book the user may not read) raises it, as does an entry whose number cannot be read.
std::vector<TEntryChoice> ReadEntryChoices(IRemoteAccess& remoteAccess);
} // namespace qm

// The picker dialog (TfrmEntrySettings) as the check needs it, made for one question.
class IEntryPicker {
public:
    virtual ~IEntryPicker() = default;
    // Fills the list from the phone book; true when it has at least one entry.
    virtual bool FillEntries() = 0;
    // Shows the dialog modally; true when it closed with Ok.
    virtual bool Execute() = 0;
    // Appends the number of every ticked line, in list order.
    virtual void GetSelectedNumbers(std::vector<std::string>& list) = 0;
};

class IEntryCheckView {
public:
    virtual ~IEntryCheckView() = default;
    // The option chbCheckEntries ("Sprawdzanie wpisów konfiguracyjnych").
    virtual bool IsCheckEntriesOn() const = 0;
    // The alarm message about one entry; returns once the user has closed it.
    virtual void ShowEntryAlarm(const std::string& number, const std::string& entryName) = 0;
    virtual std::unique_ptr<IEntryPicker> CreateEntryPicker() = 0;
};

struct TEntryCheckContext {
    IRemoteAccess& RemoteAccess;
    TAllowedList& AllowedList;
    IEntryCheckView& View;
};

class TEntryCheck {
public:
    explicit TEntryCheck(const TEntryCheckContext& context) : FContext(context) {}

    // The start-up check: one alarm per entry whose number is set and not allowed, one after the
    // other. Nothing is read while the option is off. A read error goes on to the caller.
    void CheckEntries();
    // The first-run picker: the allowed list becomes the picked numbers (empty when there is no
    // entry, on "Anuluj" or with nothing ticked) and is stored at once. On a read error the list
    // is left as it was and the error goes on to the caller.
    void PickAllowedNumbers();
    // Shows the picker when the phone book has an entry; on Ok appends the ticked numbers.
    void SelectEntries(std::vector<std::string>& list);

private:
    TEntryCheckContext FContext;
};
