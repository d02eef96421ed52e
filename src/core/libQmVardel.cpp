#include "core/libQmVardel.h"

#include "platform/uPathDelim.h"

std::string TVardelApp::QuarantineDir() const {
    return DataDir + "back" + qm::PathDelim;
}
