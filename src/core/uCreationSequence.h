#pragma once
// The main window's creation sequence: the fixed order in which the window brings the program's
// services up, as a list of named steps, and its failure rules. An error raised by a step ends
// the sequence there and is shown; the hook file check ends it quietly after its own box. The
// window (or a test's recorder) supplies the steps.

#include <array>
#include <string>

class ICreationSteps {
public:
    virtual ~ICreationSteps() = default;
    virtual void InitFields() = 0;        // the window's own state fields
    virtual void CreateMessageBox() = 0;  // in the window's skins
    virtual void CreateAllowedList() = 0; // with its change handler: the subsystems are made here
    virtual void CreateSygnatureManager() = 0;
    virtual void ClearFlags() = 0;       // FLoading, the scan's abort request
    virtual void SetScanAnimation() = 0; // the idle page
    virtual void SetStatisticsHeaders() = 0;
    virtual void LoadSettings() = 0;
    virtual void StartScanTimer() = 0; // tmrScanStart, 100 s, one shot
    virtual void SetNotConnected() = 0;
    virtual void ApplyCommandLine() = 0;
    virtual void StartLineMonitor() = 0; // its result is not used
    virtual void FillEntries() = 0;      // cmbEntries, first item selected
    virtual void ShowStatusPage() = 0;
    virtual void ShowDatabaseInfo() = 0;
    virtual bool CheckHookFiles() = 0; // false: a file is missing and its box was shown
    virtual void StartHooks() = 0;
    virtual void CheckRunningDialers() = 0;
    virtual bool IsFirstRun() const = 0;
    virtual void ShowDefaultHelp() = 0; // the help at its default topic
    virtual void PickAllowedNumbers() = 0;
    virtual void CheckEntries() = 0;
    // The error box with the text of an error that ended the sequence.
    virtual void ShowError(const std::string& text) = 0;
};

struct TCreationStep {
    const char* Name;
    // False ends the sequence without a further message.
    bool (*Run)(ICreationSteps& steps);
};

// The steps in their order.
extern const std::array<TCreationStep, 19> kCreationSequence;

// Runs the steps in order; returns the name of the step that ended the sequence early (its error
// shown), or an empty text when every step ran.
std::string RunCreationSequence(ICreationSteps& steps);
