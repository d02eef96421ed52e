#include "ui/uHelpWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

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
    show();
    raise();
    activateWindow();
}
