// A library's code made inaccessible for a while before the library is freed: no thread list
// shows an armed timer, a registered wait or a queued call, but each of them touches the code
// when it runs, and a touch tells that the code is still needed.
#pragma once

#include <windows.h>

namespace kestrune {

// Makes the executable sections of module inaccessible. A thread that touches them is let
// through (the code is made accessible again) and the touch is noted. False when the module
// cannot be quarantined (every place is taken, or its sections cannot be changed).
bool QuarantineCode(HMODULE module);

// Whether anything touched module's code since its quarantine began.
bool WasCodeTouched(HMODULE module);

// Makes module's code accessible again and ends its quarantine; nothing happens for a module
// that is not in quarantine.
void EndQuarantine(HMODULE module);

// Whether module's code is in quarantine now.
bool IsInQuarantine(HMODULE module);

}  // namespace kestrune
