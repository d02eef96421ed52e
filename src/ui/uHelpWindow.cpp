#include "ui/uHelpWindow.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("QmVardel - Pomoc"));
    resize(560, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FBrowser = new QTextBrowser(this);
    FBrowser->setObjectName(QStringLiteral("HelpBrowser"));
    FBrowser->setOpenExternalLinks(false);
    layout->addWidget(FBrowser);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void THelpWindow::ShowTopic(const QString& helpFile, const QString& topic) {
    FTopic = topic.isEmpty() ? QString::fromLatin1(kDefaultHelpTopic) : topic;
    FProblem.clear();
    QFile file(helpFile);
    if (!file.open(QIODevice::ReadOnly)) {
        FProblem =
            QStringLiteral("Nie można otworzyć pliku pomocy %1.").arg(QFileInfo(helpFile).absoluteFilePath());
        FLoadedFile.clear();
        FBrowser->setHtml(
            QStringLiteral("<h3>Pomoc niedostępna</h3><p>%1</p>").arg(FProblem.toHtmlEscaped()));
    } else {
        const QString html = QString::fromUtf8(file.readAll());
        if (FLoadedFile != helpFile) {
            FBrowser->setSearchPaths({QFileInfo(helpFile).absolutePath()});
            FBrowser->setHtml(html);
            FLoadedFile = helpFile;
        }
        if (html.contains(QStringLiteral("name=\"%1\"").arg(FTopic)) ||
            html.contains(QStringLiteral("id=\"%1\"").arg(FTopic))) {
            FBrowser->scrollToAnchor(FTopic);
        } else {
            FProblem = QStringLiteral("Nie znaleziono tematu pomocy „%1”.").arg(FTopic);
            FBrowser->moveCursor(QTextCursor::Start);
        }
    }
    setWindowTitle(FProblem.isEmpty() ? QStringLiteral("QmVardel - Pomoc")
                                      : QStringLiteral("QmVardel - Pomoc: ") + FProblem);
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this && modal->isVisible()) {
        ShowBeside(modal);
        return;
    }
    if (windowHandle())
        windowHandle()->setTransientParent(nullptr);
    show();
    raise();
    activateWindow();
}

void THelpWindow::ShowBeside(QWidget* modal) {
    // A window that is a (transient) child of the modal dialog is not blocked by it; that is the
    // one way Qt lets a window take input while another one is modal.
    winId();
    modal->winId();
    windowHandle()->setTransientParent(modal->windowHandle());

    // Beside the dialog, never over it: below, else above, in the larger free band (move places
    // the frame, so the frame's height counts).
    const QScreen* screen = modal->screen() ? modal->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect dialog = modal->frameGeometry();
    constexpr int kGap = 8;
    constexpr int kMinHeight = 120;
    const int below = area.bottom() - dialog.bottom() - kGap;
    const int above = dialog.top() - area.top() - kGap;
    const int frame = std::max(0, frameGeometry().height() - geometry().height());
    const int wanted = height();
    int top;
    int h;
    if (below >= wanted + frame || below >= above) {
        h = std::clamp(below - frame, kMinHeight, wanted);
        top = dialog.bottom() + 1 + kGap;
    } else {
        h = std::clamp(above - frame, kMinHeight, wanted);
        top = dialog.top() - kGap - h - frame;
    }
    resize(width(), h);
    const int left = std::clamp(dialog.left(), area.left(), std::max(area.left(), area.right() - width()));
    move(left, std::max(area.top(), top));
    show();
    activateWindow();
    modal->raise();
}
