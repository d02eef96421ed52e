#pragma once
// aniSiren: the red beacon of the alarm dialogs, 5 frames of 150 ms, repeated; still on its first
// frame until started.
#include <QLabel>
#include <QTimer>

class TSirenAnimation : public QLabel {
public:
    static constexpr int kFrames = 5;
    static constexpr int kInterval = 150;

    explicit TSirenAnimation(QWidget* parent);
    void Start();
    void Stop();
    bool IsRunning() const { return FTimer.isActive(); }
    int Frame() const { return FFrame; }

private:
    void ShowFrame(int frame);
    QTimer FTimer;
    int FFrame = 0;
};
