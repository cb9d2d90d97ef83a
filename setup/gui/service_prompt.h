// The Service Objects' dialogs (the interactive health check) shown as Qt
// dialogs while the setup tool's windows run.
#pragma once

#include "platform/prompt.h"

namespace opos::setup::gui {

// A prompt that shows the dialog modally over the active window, with its
// buttons in order and its own timer.
platform::PromptHook MakeQtPromptHook();

}  // namespace opos::setup::gui
