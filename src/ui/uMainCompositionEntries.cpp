// The composition's phone-book steps: the entry check and the first-run picker run once per
// start, so their controller and view live only for that step.
#include "guard/uEntryCheck.h"
#include "ui/uEntryCheckView.h"
#include "ui/uMainComposition.h"

void TMainComposition::PickAllowedNumbers() {
    TEntryCheckView view(FWindow, FContext.DialGuard.RemoteAccess);
    TEntryCheck(TEntryCheckContext{.RemoteAccess = FContext.DialGuard.RemoteAccess,
                                   .AllowedList = FAllowedList,
                                   .View = view})
        .PickAllowedNumbers();
}

void TMainComposition::CheckEntries() {
    TEntryCheckView view(FWindow, FContext.DialGuard.RemoteAccess);
    TEntryCheck(TEntryCheckContext{.RemoteAccess = FContext.DialGuard.RemoteAccess,
                                   .AllowedList = FAllowedList,
                                   .View = view})
        .CheckEntries();
}
