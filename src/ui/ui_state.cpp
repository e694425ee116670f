#include "ui/ui_state.h"

#include "core/application.h"

#include "fault/source_position.h"

namespace kestrune {

UiState ui;

void ResetHost() {
    // Windows a test case left open go in their own order, not in that of the parts below.
    LN DestroyHostWindows();
    LN ResetApplication();
    LN ui = UiState{};
}

}  // namespace kestrune
