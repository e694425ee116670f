// Reactions of the event loop that the window procedure only records: they run
// after the wait returns, never inside a modal loop (an open menu or message box).
#pragma once

#include <deque>

namespace kestrune {

enum class HostEvent {
    CloseRequest,
    TrayLeftPress,
    TrayRightPress,
    ListRightClick,
    ListDoubleClick,
};

struct HostEventQueue {
    std::deque<HostEvent> pending;  // oldest first
};

// Records an event and wakes the event loop.
void QueueHostEvent(HostEvent event);

// Takes the oldest recorded event; false when there is none.
bool TakeHostEvent(HostEvent& event);

}  // namespace kestrune
