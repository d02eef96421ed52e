#include "core/uAutoStart.h"

#include "platform/uPathDelim.h"
#include "util/libStrUtilsQmPack.h"

namespace {
// Case is folded only where the platform's file names ignore it: elsewhere a path in other letters
// names another program.
std::string FoldPath(std::string text) {
    return qm::PathsIgnoreCase ? qm::LowerAscii(text) : text;
}
} // namespace

TAutoStartSetting::TAutoStartSetting(IAutoStart& store, std::string programPath)
    : FStore(store), FProgramPath(std::move(programPath)) {}

std::string TAutoStartSetting::GetAutoStartCommand() const {
    return FoldPath(FStore.FormatCommand(FProgramPath, kAutoStartArgument));
}

void TAutoStartSetting::SetAutoStart(bool on) {
    if (!FStore.CanChange()) {
        if (OnNotAllowed)
            OnNotAllowed(kAutoStartNotAllowed);
        return;
    }
    const bool done = on ? FStore.WriteCommand(kAutoStartName, GetAutoStartCommand())
                         : FStore.DeleteCommand(kAutoStartName);
    // A store that opened but then refused the write is the same lack of rights to the user.
    if (!done && OnNotAllowed)
        OnNotAllowed(kAutoStartNotAllowed);
}

bool TAutoStartSetting::IsAutoStartSet() const {
    const auto stored = FStore.ReadCommand(kAutoStartName);
    return FoldPath(stored.value_or(std::string())) == GetAutoStartCommand();
}
