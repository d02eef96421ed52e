#include "core/libQmVardel.h"

#include "platform/uPathDelim.h"

std::string TVardelApp::QuarantineDir() const {
    return qm::IncludeTrailingPathDelimiter(AppDir) + "back" + qm::PathDelim;
}
