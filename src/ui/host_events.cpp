#include "host_events.h"

#include <windows.h>

#include <deque>

#include "../core/application.h"
#include "fault/source_position.h"

namespace kestrune {
namespace {

std::deque<HostEvent> pending;

}  // namespace

void QueueHostEvent(HostEvent event) {
    LN pending.push_back(event);
    // The loop may be waiting in GetMessage with nothing else to wake it.
    LN if (app.mainWindow) PostMessageW(app.mainWindow, WM_NULL, 0, 0);
}

bool TakeHostEvent(HostEvent& event) {
    LN if (pending.empty()) return false;
    LN event = pending.front();
    LN pending.pop_front();
    LN return true;
}

void ClearHostEvents() {
    LN pending.clear();
}

}  // namespace kestrune
