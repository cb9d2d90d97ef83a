// The interactive health check's dialog, shared by the printer and the drawer,
// and the printer's message box for a Start that found the printer unusable.
#pragma once

#include <cstdint>
#include <functional>

namespace opos {

inline constexpr int kHealthStartButton = 1000;
inline constexpr int kHealthCloseButton = 1001;
inline constexpr int kMessageOkButton = 1;

// Left unanswered this long, the dialog (and its message box) closes as if
// Close (OK) were pressed, so an application never hangs on an absent user.
inline constexpr int kHealthDialogTimeoutMs = 60000;

// Shows the dialog modally on the calling thread; start runs on each Start
// press, which the dialog's target is bound to. False, with nothing shown,
// while another interactive check holds the dialog.
[[nodiscard]] bool RunHealthCheckDialog(const std::function<void()>& start);

// "POSPrinter can't use." with the result code, and an OK button.
void ShowPrinterCannotUse(int32_t resultCode);

}  // namespace opos
