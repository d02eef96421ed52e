// The hook service's configuration file, which an administrator edits by hand. Any text either
// parses or raises a message naming the file and line; a parsed configuration holds no empty
// device or link.
#include "FuzzCheck.h"
#include "uServiceConfig.h"
#include "util/uQmError.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const TServiceConfig config = ParseServiceConfig(text, "vardeld.conf");
        for (const TGuardedModem& modem : config.Modems)
            QM_FUZZ_CHECK(!modem.Device.empty() && !modem.Link.empty(), "a modem without device or link");
    } catch (const EQmError& e) {
        QM_FUZZ_CHECK(std::string_view(e.what()).starts_with("vardeld.conf:"), "error without file name");
    }
    return 0;
}
