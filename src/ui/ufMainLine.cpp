// TfrmMain: the line monitor's part. Its reports arrive through a descriptor that the window
// watches, so they are handled on the UI thread, between other events and inside modal loops.
#include "ui/ufMain.h"

#include "ui/ufStatusTab.h"

#include <QLabel>
#include <QSocketNotifier>

void TfrmMain::StartLineMonitor() {
    TTapiMonitor* monitor = FContext.TapiMonitor;
    if (!monitor)
        return;
    monitor->OnCallState = [this](TTapiMonitor& sender, TCallStateEvent state) {
        Guarded([&] { LineCallState(sender, state); });
    };
    // Without a telephony service the status stays "Nie połączony".
    if (!monitor->Start() || monitor->EventFd() < 0)
        return;
    FLineNotifier = new QSocketNotifier(monitor->EventFd(), QSocketNotifier::Read, this);
    connect(FLineNotifier, &QSocketNotifier::activated, this, [monitor] { monitor->ProcessReports(); });
}

void TfrmMain::LineCallState(TTapiMonitor& /*sender*/, TCallStateEvent state) {
    switch (state) {
    case TCallStateEvent::cseConnected:
        SetConnected(FLastNumber); // the last dial request's number is the connected one
        break;
    case TCallStateEvent::cseDialing:
        StatusTab->lblConnectionInfo->setText(QStringLiteral("rozpoczyna połączenie..."));
        break;
    case TCallStateEvent::cseIdle:
        SetNotConnected();
        break;
    }
}
