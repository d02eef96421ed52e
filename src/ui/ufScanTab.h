#pragma once
// tsScaning ("Skanowanie"): the disk scan's buttons, animation pages and result pages.
#include "ui/uFormHelpers.h"
#include "ui/uSirenAnimation.h"

#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>

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

class TScanTab : public QWidget {
public:
    explicit TScanTab(QWidget* parent);

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
};
