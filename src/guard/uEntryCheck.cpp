#include "guard/uEntryCheck.h"

#include "util/uFormat.h"
#include "util/uQmError.h"

namespace qm {

bool IsEntryTickedByDefault(const std::string& number) {
    return number != "0" && number != "0," && !number.starts_with("07");
}

std::string EntryChoiceLine(const std::string& name, const std::string& number) {
    return Format("%s (numer: %s)", name, number);
}

std::vector<TEntryChoice> ReadEntryChoices(IRemoteAccess& remoteAccess) {
    std::vector<std::string> names;
    if (!remoteAccess.GetEntryList(names)) {
        names.clear();
        if (std::string reason = remoteAccess.EntryListError(); !reason.empty())
            throw EQmError(reason);
    }
    std::vector<TEntryChoice> choices;
    choices.reserve(names.size());
    for (std::string& name : names) {
        std::string number = remoteAccess.GetEntryPhoneNumber(name, "");
        std::string line = EntryChoiceLine(name, number);
        const bool ticked = IsEntryTickedByDefault(number);
        choices.push_back({std::move(name), std::move(number), std::move(line), ticked});
    }
    return choices;
}

} // namespace qm

void TEntryCheck::CheckEntries() {
    if (!FContext.View.IsCheckEntriesOn())
        return;
    std::vector<std::string> names;
    if (!FContext.RemoteAccess.GetEntryList(names))
        return;
    for (const std::string& name : names) {
        const std::string number = FContext.RemoteAccess.GetEntryPhoneNumber(name, "");
        if (number.empty() || FContext.AllowedList.Contains(number))
            continue;
        FContext.View.ShowEntryAlarm(number, name);
    }
}

void TEntryCheck::PickAllowedNumbers() {
    std::vector<std::string> picked;
    SelectEntries(picked);
    FContext.AllowedList.Assign(std::move(picked));
}

void TEntryCheck::SelectEntries(std::vector<std::string>& list) {
    // The dialog goes when this returns, also when filling it fails.
    const std::unique_ptr<IEntryPicker> picker = FContext.View.CreateEntryPicker();
    if (picker->FillEntries() && picker->Execute())
        picker->GetSelectedNumbers(list);
}
