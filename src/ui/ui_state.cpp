#include "ui/ui_state.h"

#include "core/application.h"

#include "fault/source_position.h"

namespace kestrune {

UiState ui;

void ResetHost() {
    // Windows still open go in the exit's order, not in that of the parts below.
    LN DestroyHostWindows();
    LN ResetApplication();
    LN ui = UiState{};
}

}  // namespace kestrune
