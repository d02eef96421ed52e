#include "ui/ufRemoveDialers.h"

#include <QGuiApplication>
#include <QScreen>

#include <memory>

TfrmRemoveDialers::TfrmRemoveDialers(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmRemoveDialers"));
    setWindowTitle(QStringLiteral("QmVardel"));
    setFixedSize(kClientWidth, kClientHeight);
    bsBusinessSkinForm = new TbsBusinessSkinForm(this);

    Memo = new QPlainTextEdit(this);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setGeometry(8, 8, kClientWidth - 16, kClientHeight - 52);
    Memo->setReadOnly(true);
    // Long paths stay on one line; the bars reach them.
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont bold = Memo->font();
    bold.setBold(true);
    Memo->setFont(bold);

    btnClose = new QPushButton(QStringLiteral(" Zamknij"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(kClientWidth - 8 - 100, kClientHeight - 8 - 28, 100, 28);
    btnClose->setDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmRemoveDialers::SetReport(const TRemovalReport& report) {
    QStringList lines;
    for (const std::string& l : report)
        lines << QString::fromStdString(l);
    Memo->setPlainText(lines.join(QLatin1Char('\n')));
}

void ShowRemovalReport(const TRemovalReport& report, TbsSkinData* controls, TbsSkinData* frame) {
    auto window = std::make_unique<TfrmRemoveDialers>();
    window->bsBusinessSkinForm->Apply(controls, frame);
    window->SetReport(report);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->btnClose->setFocus();
    window->exec();
}
