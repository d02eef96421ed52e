#pragma once
// The service manager's notification protocol, spoken directly: one datagram with "KEY=VALUE" lines
// to the socket named by $NOTIFY_SOCKET (a path, or "@name" for the abstract namespace). Used for
// "READY=1", "STOPPING=1" and the watchdog's "WATCHDOG=1"; without the variable it does nothing.
#include <string>

// Sends state; false when there is no manager to tell or the datagram could not be sent.
bool SdNotify(const std::string& state);
// Half the watchdog interval the manager asks for ($WATCHDOG_USEC, meant for this process when
// $WATCHDOG_PID is unset or ours), in milliseconds; 0 when there is no watchdog.
int SdWatchdogPingMs();
