#include "ui/uQtSoundPlayer.h"

#include <QUrl>

void TQtSoundPlayer::PlayOnce(const std::string& path) {
    if (!FEffect)
        FEffect = std::make_unique<QSoundEffect>();
    FEffect->stop();
    FEffect->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
    FEffect->setLoopCount(1);
    FEffect->play();
}

void TQtSoundPlayer::Stop() {
    if (FEffect)
        FEffect->stop();
}
