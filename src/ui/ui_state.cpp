#include "ui/ui_state.h"

#include "core/application.h"

#include "fault/source_position.h"

namespace kestrune {

UiState ui;

void ResetHost() {
    LN ResetApplication();
    LN ui = UiState{};
}

}  // namespace kestrune
