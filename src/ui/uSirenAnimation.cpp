#include "ui/uSirenAnimation.h"

#include "ui/uImages.h"

TSirenAnimation::TSirenAnimation(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("aniSiren"));
    setFixedSize(32, 32);
    FTimer.setInterval(kInterval);
    connect(&FTimer, &QTimer::timeout, this, [this] { ShowFrame((FFrame + 1) % kFrames); });
    ShowFrame(0);
}

void TSirenAnimation::Start() {
    FTimer.start();
}

void TSirenAnimation::Stop() {
    FTimer.stop();
    ShowFrame(0);
}

void TSirenAnimation::ShowFrame(int frame) {
    FFrame = frame;
    setPixmap(ProgramImage(QStringLiteral("siren_%1").arg(frame), 32));
}
