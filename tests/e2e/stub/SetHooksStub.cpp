// A stand-in for the hook library in tests: SetHooks answers what QM_STUB_SETHOOKS_RESULT says
// (1 when unset) and appends its argument to the file QM_STUB_SETHOOKS_LOG names, if any.
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) int SetHooks(const char* companionPath) {
    if (const char* log = std::getenv("QM_STUB_SETHOOKS_LOG")) {
        if (std::FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s\n", companionPath ? companionPath : "(null)");
            std::fclose(f);
        }
    }
    const char* result = std::getenv("QM_STUB_SETHOOKS_RESULT");
    return result ? std::atoi(result) : 1;
}
