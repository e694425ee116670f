/* A message-only window on the daemon's own thread that receives its menu's commands. */
#pragma once

#include <kestrune/daemon.h>

/* The window, or NULL until the daemon's thread has made it. */
HWND MenuWindow(void);

/* Makes the window, dispatches its messages until the state word reads 255, then
   destroys it and unregisters its class. Each WM_COMMAND is reported as "command <id>". */
void RunMenuWindow(StateWord* state);
