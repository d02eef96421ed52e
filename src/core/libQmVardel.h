#pragma once
// TVardelApp: the guard's application context, created with the code "QmVardel".
#include "core/libQmApp.h"

class TVardelApp : public TQmApp {
public:
    explicit TVardelApp(const TQmAppPorts& ports, const std::string& code = "QmVardel")
        : TQmApp(code, ports) {}
    // DataDir + "back" + delimiter: the quarantine folder.
    std::string QuarantineDir() const;
};
