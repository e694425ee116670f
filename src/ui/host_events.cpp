#include "host_events.h"

#include <windows.h>

#include <deque>

#include "../core/application.h"

namespace kestrune {
namespace {

std::deque<HostEvent> pending;

}  // namespace

void QueueHostEvent(HostEvent event) {
    pending.push_back(event);
    // The loop may be waiting in GetMessage with nothing else to wake it.
    if (app.mainWindow) PostMessageW(app.mainWindow, WM_NULL, 0, 0);
}

bool TakeHostEvent(HostEvent& event) {
    if (pending.empty()) return false;
    event = pending.front();
    pending.pop_front();
    return true;
}

void ClearHostEvents() {
    pending.clear();
}

}  // namespace kestrune
