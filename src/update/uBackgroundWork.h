#pragma once
// Long checks of the update (a received database of a million lines) run on a thread of their own
// while the user-interface thread goes on handling its events.
#include "platform/IEventPump.h"

#include <functional>

// Runs work on its own thread while the calling thread handles events through pump; returns (or
// rethrows the work's exception) when the work is over.
void RunWhilePumping(IEventPump& pump, const std::function<void()>& work);
