#include "ui/ufScanTab.h"

#include "ui/uImages.h"

#include <QTabWidget>

#include <iostream>

TScanAnimation::TScanAnimation(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("aniScaning"));
    FTimer.setInterval(kTrayScanInterval);
    const auto show = [this] {
        setPixmap(ProgramImage(QStringLiteral("trayscan_%1").arg(FFrame), 48));
        FFrame = (FFrame + 1) % TrayImageCount(TTrayImageList::tilScanAnimate);
    };
    connect(&FTimer, &QTimer::timeout, this, show);
    show();
}

TScanTab::TScanTab(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tsScaning"));
    labScanInfo =
        NewMarkupLabel(this, "labScanInfo",
                       "Kliknięcie  przycisku <b>Rozpocznij skanowanie<plain> rozpocznie przeszukiwanie "
                       "dysków komputera w celu odnalezienia dialerów.",
                       QRect(12, 10, 360, 40));
    btnStartSkan = NewControl<QPushButton>(this, "btnStartSkan", QStringLiteral("Rozpocznij skanowanie"),
                                           QRect(12, 70, 200, 25));
    btnAbortScaning = NewControl<QPushButton>(this, "btnAbortScaning", QStringLiteral("Przerwij skanowanie"),
                                              QRect(12, 70, 200, 25));
    btnAbortScaning->hide();

    ScanAnimationNotebook = NewControl<QStackedWidget>(this, "ScanAnimationNotebook", QRect(384, 8, 52, 52));
    ScaningOff = new QWidget;
    ScaningOff->setObjectName(QStringLiteral("ScaningOff"));
    // Empty before any scan: the tick may only say that a scan ran and found nothing.
    NewControl<QLabel>(ScaningOff, "imgScaningOff", QRect(2, 2, 48, 48));
    ScaningOn = new QWidget;
    ScaningOn->setObjectName(QStringLiteral("ScaningOn"));
    aniScaning = new TScanAnimation(ScaningOn);
    aniScaning->setGeometry(2, 2, 48, 48);
    Warning = new QWidget;
    Warning->setObjectName(QStringLiteral("Warning"));
    aniSiren = new TSirenAnimation(Warning);
    aniSiren->move(10, 10);
    ScanAnimationNotebook->addWidget(ScaningOff);
    ScanAnimationNotebook->addWidget(ScaningOn);
    ScanAnimationNotebook->addWidget(Warning);

    ScanResultNotebook = NewControl<QStackedWidget>(this, "ScanResultNotebook", QRect(12, 102, 424, 140));
    ResultList = new QWidget;
    ResultList->setObjectName(QStringLiteral("ResultList"));
    lblScanDirectory = NewControl<QLabel>(ResultList, "lblScanDirectory", QString(), QRect(0, 0, 424, 20));
    lstFoundDialers = NewControl<QListWidget>(ResultList, "lstFoundDialers", QRect(0, 22, 424, 84));
    labSearchResult = NewMarkupLabel(ResultList, "labSearchResult", " ", QRect(0, 112, 270, 20));
    btnRemoveDialers = NewControl<QPushButton>(ResultList, "btnRemoveDialers", QStringLiteral("Usuń Dialery"),
                                               QRect(284, 110, 140, 25));
    btnRemoveDialers->hide();
    ResultOk = new QWidget;
    ResultOk->setObjectName(QStringLiteral("ResultOk"));
    imgSearchOk = NewControl<QLabel>(ResultOk, "imgSearchOk", QRect(0, 10, 48, 48));
    imgSearchOk->setPixmap(ProgramImage(QStringLiteral("searchok"), 48));
    Label6 = NewControl<QLabel>(ResultOk, "Label6",
                                QStringLiteral("Na Twoim komputerze nie odnaleziono żadnych dialerów. "),
                                QRect(58, 10, 366, 48));
    Label6->setWordWrap(true);
    ScanResultNotebook->addWidget(ResultList);
    ScanResultNotebook->addWidget(ResultOk);
    ScanResultNotebook->hide();
    // In the free strip right of the buttons, so nothing else moves while a scan runs.
    lblScanProgress = NewControl<QLabel>(this, "lblScanProgress", QString(), QRect(220, 64, 160, 36));
    lblScanProgress->setWordWrap(true);
    lblScanProgress->hide();
}

void TScanTab::StopScanAnimations() {
    aniScaning->Stop();
    aniSiren->Stop();
}

void TScanTab::SetScanning(bool scanning) {
    btnStartSkan->setVisible(!scanning);
    btnAbortScaning->setVisible(scanning);
    // A removal of a list that is still growing would miss what comes after it.
    btnRemoveDialers->setEnabled(!scanning);
}

void TScanTab::ShowScanResults(TScanResultPage page) {
    ScanResultNotebook->setCurrentIndex(page);
    ScanResultNotebook->show();
}

void TScanTab::AddFoundDialer(const std::string& path) {
    lstFoundDialers->addItem(QString::fromStdString(path));
}

void TScanTab::SetScanDirectory(const std::string& text) {
    const QString shown = QString::fromStdString(text);
    // A long path keeps its end (the file name) in view; the whole path is in the tooltip.
    lblScanDirectory->setText(
        lblScanDirectory->fontMetrics().elidedText(shown, Qt::ElideMiddle, lblScanDirectory->width()));
    lblScanDirectory->setToolTip(shown);
}

void TScanTab::SetScanDirectoryAlert(bool darkRed) {
    QPalette palette = lblScanDirectory->palette();
    palette.setColor(QPalette::WindowText, darkRed ? QColor(128, 0, 0) : QColor(Qt::black));
    lblScanDirectory->setPalette(palette);
}

void TScanTab::ShowScanProgress(const std::string& text) {
    lblScanProgress->setText(QString::fromStdString(text));
    lblScanProgress->setVisible(!text.empty());
    if (OnScanProgress)
        OnScanProgress(text);
}

void TScanTab::ShowScanError(const std::string& text) {
    if (OnError)
        OnError(text);
    else
        std::cerr << text << "\n";
}

void TScanTab::SetTrayState(int state) {
    if (OnSetTrayState)
        OnSetTrayState(state);
}

bool TScanTab::IsMinimized() const {
    const QWidget* top = window();
    return top->isMinimized() || !top->isVisible();
}

void TScanTab::ShowScanTab() {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            if (tabs->currentWidget() != this)
                tabs->setCurrentWidget(this);
            return;
        }
    }
}
