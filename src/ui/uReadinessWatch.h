#pragma once
// The one place a port's readiness handle becomes Qt events: a descriptor on Linux (read or write
// readiness). A port on another system hands over its own kind of handle, and only this class
// learns to watch it.
#include <QObject>

#include <cstdint>
#include <functional>

class QSocketNotifier;

// A port's readiness handle, as the ports give it out (a descriptor on Linux).
using TReadyHandle = std::intptr_t;

class TReadinessWatch : public QObject {
public:
    enum class TReadiness { rdRead, rdWrite };

    // Watches handle from now on (enabled); onReady runs on the event loop's thread whenever the
    // handle is ready, also inside modal loops.
    TReadinessWatch(TReadyHandle handle, TReadiness readiness, std::function<void()> onReady,
                    QObject* parent = nullptr);
    ~TReadinessWatch() override;

    void SetEnabled(bool enabled);
    bool IsEnabled() const;

private:
    QSocketNotifier* FNotifier;
    std::function<void()> FOnReady;
};
