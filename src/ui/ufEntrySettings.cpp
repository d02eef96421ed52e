#include "ui/ufEntrySettings.h"

#include "components/QmLabel.h"
#include "ui/uImages.h"
#include "ui/uSkinForm.h"

#include <QGuiApplication>
#include <QScreen>

TfrmEntrySettings::TfrmEntrySettings(IRemoteAccess& remoteAccess, std::function<void()> onHelp,
                                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      FRemoteAccess(remoteAccess), FOnHelp(std::move(onHelp)) {
    setObjectName(QStringLiteral("frmEntrySettings"));
    setWindowTitle(QStringLiteral("Ustawienia połączeń modemowych"));
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(14);
    setFont(arial);
    setFixedSize(420, 300);
    labInfo = new TQmLabel(this);
    labInfo->setObjectName(QStringLiteral("labInfo"));
    labInfo->setGeometry(12, 10, 396, 50);
    labInfo->SetTransparent(true);
    labInfo->SetCaption("Zaznacz połączenia, których numery zostaną dodane do <b>Listy dozwolonych "
                        "numerów</b>. QmVardel będzie zezwalał na połączenia z tymi numerami. ");
    chbEntries = new QListWidget(this);
    chbEntries->setObjectName(QStringLiteral("chbEntries"));
    chbEntries->setSortingEnabled(false);
    chbEntries->setGeometry(12, 66, 396, 186);
    btnClose = new QPushButton(QStringLiteral("Ok"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setIcon(ProgramIcon(QStringLiteral("glyph_ok")));
    btnClose->setGeometry(124, 264, 88, 25);
    btnClose->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("Anuluj"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(220, 264, 88, 25);
    btnHelp = new QPushButton(QStringLiteral(" Pomoc"), this);
    btnHelp->setObjectName(QStringLiteral("btnHelp"));
    btnHelp->setIcon(ProgramIcon(QStringLiteral("glyph_help")));
    btnHelp->setGeometry(316, 264, 92, 25);
    btnHelp->setAutoDefault(false);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    // QDialog already maps Escape to reject, the Anuluj result.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnHelp, &QPushButton::clicked, this, [this] {
        if (FOnHelp)
            FOnHelp();
    });
}

void TfrmEntrySettings::ApplySkins(TbsSkinData* controls, TbsSkinData* frame) {
    (new TbsBusinessSkinForm(this))->Apply(controls, frame);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool TfrmEntrySettings::FillEntries() {
    const std::vector<TEntryChoice> choices = qm::ReadEntryChoices(FRemoteAccess);
    for (const TEntryChoice& choice : choices) {
        FNumbers.push_back(choice.Number);
        auto* item = new QListWidgetItem(QString::fromStdString(choice.Line), chbEntries);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(choice.Ticked ? Qt::Checked : Qt::Unchecked);
    }
    return !choices.empty();
}

void TfrmEntrySettings::GetSelectedNumbers(std::vector<std::string>& list) {
    for (int i = 0; i < chbEntries->count() && i < static_cast<int>(FNumbers.size()); ++i)
        if (chbEntries->item(i)->checkState() == Qt::Checked)
            list.push_back(FNumbers[static_cast<std::size_t>(i)]);
}
