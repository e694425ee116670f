#include "ui/host_events.h"

#include <windows.h>

#include "ui/ui_state.h"

#include "fault/source_position.h"

namespace kestrune {
void QueueHostEvent(HostEvent event) {
    LN ui.events.pending.push_back(event);
    // The loop may be waiting in GetMessage with nothing else to wake it.
    LN if (ui.main.mainWindow) PostMessageW(ui.main.mainWindow.get(), WM_NULL, 0, 0);
}

bool TakeHostEvent(HostEvent& event) {
    LN if (ui.events.pending.empty()) return false;
    LN event = ui.events.pending.front();
    LN ui.events.pending.pop_front();
    LN return true;
}

}  // namespace kestrune
