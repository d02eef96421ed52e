#include "ui/uReadinessWatch.h"

#include <QSocketNotifier>

TReadinessWatch::TReadinessWatch(TReadyHandle handle, TReadiness readiness, std::function<void()> onReady,
                                 QObject* parent)
    : QObject(parent),
      FNotifier(new QSocketNotifier(
          static_cast<qintptr>(handle),
          readiness == TReadiness::rdRead ? QSocketNotifier::Read : QSocketNotifier::Write, this)),
      FOnReady(std::move(onReady)) {
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        if (FOnReady)
            FOnReady();
    });
}

TReadinessWatch::~TReadinessWatch() = default;

void TReadinessWatch::SetEnabled(bool enabled) {
    FNotifier->setEnabled(enabled);
}

bool TReadinessWatch::IsEnabled() const {
    return FNotifier->isEnabled();
}
