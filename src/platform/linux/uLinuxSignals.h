#pragma once
// The end of the user's work on Linux without a session manager: the session sends SIGTERM (or
// SIGHUP when the terminal goes). These signals are turned into a byte on a pipe, so the event
// loop can answer them like the end-of-work query.

// Installs the handlers once and returns the pipe's reading end (non-blocking); -1 on failure.
int TerminationSignalFd();
// Empties the pipe after a notification.
void DrainTerminationSignalFd(int fd);
