#include "ui/uStartFailure.h"

#include <QMessageBox>
#include <QString>

#include <cstdio>

int ReportStartFailure(const std::string& reason) {
    std::fprintf(stderr, "QmVardel: %s\n", reason.c_str());
    // Every start error names the file or folder it concerns; the box shows it as it stands.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("QmVardel"),
                    QStringLiteral("QmVardel nie może się uruchomić."), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("frmStartFailure"));
    box.setInformativeText(QString::fromStdString(reason));
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
    return 1;
}
