#pragma once
// tsScaning ("Skanowanie"): the disk scan's buttons, animation pages and result pages, and the
// view of the scan controller. What belongs to the main window (tray, minimised state) it asks
// through its On... callbacks, which the window sets.
#include "scan/uScanController.h"
#include "ui/uFormHelpers.h"
#include "ui/uSirenAnimation.h"

#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

#include <functional>
#include <string>

// aniScaning: the scan animation (the frames of the tray's scan list, enlarged).
class TScanAnimation : public QLabel {
public:
    explicit TScanAnimation(QWidget* parent);
    void Start() { FTimer.start(); }
    void Stop() { FTimer.stop(); }
    bool IsRunning() const { return FTimer.isActive(); }

private:
    QTimer FTimer;
    int FFrame = 0;
};

class TScanTab : public QWidget, public IScanView {
public:
    explicit TScanTab(QWidget* parent);

    // IScanView
    int ScanAnimationPage() const override { return ScanAnimationNotebook->currentIndex(); }
    void ShowScanAnimationPage(int page) override { ScanAnimationNotebook->setCurrentIndex(page); }
    void StopScanAnimations() override;
    void StartScaningAnimation() override { aniScaning->Start(); }
    void StartSirenAnimation() override { aniSiren->Start(); }
    void SetScanning(bool scanning) override;
    void ShowScanResults(TScanResultPage page) override;
    void HideScanResults() override { ScanResultNotebook->hide(); }
    void ClearFoundDialers() override { lstFoundDialers->clear(); }
    void AddFoundDialer(const std::string& path) override;
    void SetSearchResult(const std::string& markup) override { labSearchResult->SetCaption(markup); }
    void SetScanDirectory(const std::string& text) override;
    void SetScanDirectoryAlert(bool darkRed) override;
    void SetRemoveDialersVisible(bool visible) override { btnRemoveDialers->setVisible(visible); }
    void ShowScanProgress(const std::string& text) override;
    void ShowScanError(const std::string& text) override;
    void SetTrayState(int state) override;
    TTrayState TrayState() const override { return OnTrayState ? OnTrayState() : trayIdle; }
    // Minimised, or hidden in the tray.
    bool IsMinimized() const override;
    void ShowScanTab() override;

    // Set by the main window; unset parts do nothing (the tray state reads as idle).
    std::function<void(int state)> OnSetTrayState;
    std::function<TTrayState()> OnTrayState;
    // The scan's progress for the tray hint; the empty text when the scan ends.
    std::function<void(const std::string& text)> OnScanProgress;
    std::function<void(const std::string& text)> OnError;

    TQmLabel* labScanInfo;
    QPushButton* btnStartSkan;
    QPushButton* btnAbortScaning;
    QStackedWidget* ScanAnimationNotebook;
    QWidget* ScaningOff;
    QWidget* ScaningOn;
    QWidget* Warning;
    TScanAnimation* aniScaning;
    TSirenAnimation* aniSiren;
    QStackedWidget* ScanResultNotebook;
    QWidget* ResultList;
    QLabel* lblScanDirectory;
    QListWidget* lstFoundDialers;
    TQmLabel* labSearchResult;
    QPushButton* btnRemoveDialers;
    QWidget* ResultOk;
    QLabel* imgSearchOk;
    QLabel* Label6;
    // Files examined and the rough share done, beside the buttons while a scan runs.
    QLabel* lblScanProgress;
};
