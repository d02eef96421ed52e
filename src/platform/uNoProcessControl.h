#pragma once
// A process port with no processes: lists none, ends none, starts none. For code that takes the
// port but must never touch a process (the service's phone-book lookup) and for tests of such code.
#include "platform/IProcessControl.h"

class TNoProcessControl : public IProcessControl {
public:
    std::optional<std::vector<TProcessInfo>> ListProcesses() override { return std::nullopt; }
    void EndProcesses(const std::vector<TProcessInfo>&) override {}
    bool StartDetached(const std::vector<std::string>&) override { return false; }
};
