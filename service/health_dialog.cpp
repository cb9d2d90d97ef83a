#include "service/health_dialog.h"

#include <string>

#include "platform/prompt.h"

namespace opos {

bool RunHealthCheckDialog(const std::function<void()>& start) {
  // One dialog at a time in the process: a second Start target would
  // otherwise redirect the first dialog's presses.
  if (!platform::TryBeginModalCheck()) return false;
  struct EndCheck {
    ~EndCheck() { platform::EndModalCheck(); }
  } endCheck;
  const platform::PromptDialog dialog{
      "CheckHealth",
      "Please Push the [Start] button to start the CheckHealth Method.",
      {{kHealthStartButton, "Start", false}, {kHealthCloseButton, "Close", true}},
      kHealthDialogTimeoutMs};
  (void)platform::ShowPrompt(dialog, [&start](int id) {
    if (id == kHealthStartButton) start();
  });
  return true;
}

void ShowPrinterCannotUse(int32_t resultCode) {
  const platform::PromptDialog box{"",
                                   "POSPrinter can't use.\nResultCode : " + std::to_string(resultCode),
                                   {{kMessageOkButton, "OK", true}},
                                   kHealthDialogTimeoutMs};
  (void)platform::ShowPrompt(box, nullptr);
}

}  // namespace opos
