#pragma once
// The update tab as the database update sees it: records the memo, the button's captions and the
// database info; the auto-update option is settable. OnLine hears each memo line as it is added.
#include "update/uDatabaseUpdate.h"

#include <functional>
#include <string>
#include <vector>

class TFakeUpdateView : public IUpdateView {
public:
    std::vector<std::string> Log;
    std::vector<std::string> Captions;
    std::string Info;
    bool AutoUpdate = true;
    std::function<void(const std::string&)> OnLine;

    void ClearLog() override { Log.clear(); }
    void AddLogLine(const std::string& line) override {
        Log.push_back(line);
        if (OnLine)
            OnLine(line);
    }
    void SetUpdateCaption(const std::string& text) override { Captions.push_back(text); }
    void SetDatabaseInfo(const std::string& markup) override { Info = markup; }
    bool AutoUpdateChecked() const override { return AutoUpdate; }
};
