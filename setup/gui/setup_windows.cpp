#include "setup/gui/setup_windows.h"

#include <QApplication>
#include <cstdlib>
#include <string>
#include <memory>

#include "platform/registry_store.h"
#include "setup/gui/main_window.h"
#include "setup/gui/prompts.h"
#include "setup/gui/service_prompt.h"
#include "setup/main_panel.h"
#include "setup/model_catalog.h"

namespace opos::setup::gui {

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  // A platform chosen by hand (a frame buffer, VNC) shows windows too; the
  // offscreen ones would run the windows where nobody can close them.
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform == nullptr || *platform == '\0') return false;
  const std::string name(platform);
  return name.rfind("offscreen", 0) != 0 && name.rfind("minimal", 0) != 0;
}

int RunSetupWindows(int argc, char** argv, const WindowsOptions& options, const TestRunner& tester) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(kApplicationTitle);
  Prompts prompts;
  const std::string path = options.registryPath.empty() ? reg::Store::DefaultPath() : options.registryPath;
  std::string error;
  std::unique_ptr<reg::Store> store = reg::Store::Open(path, &error);
  if (!store) {
    prompts.Show(nullptr, {QMessageBox::Critical,
                           kSetupMessageTitle,
                           Q(error),  // it names the store already
                           QMessageBox::Ok,
                           {}});
    return 1;
  }
  MainWindow::Options windowOptions;
  windowOptions.store = store.get();
  windowOptions.modelDir = options.modelDir.empty() ? DefaultModelDirectory() : options.modelDir;
  windowOptions.logoToolPath = NvLogoToolPath();
  windowOptions.tester = tester;
  MainWindow window(std::move(windowOptions), prompts);
  window.show();
  // The Service Objects loaded for a test show their dialogs as windows too.
  platform::SetPromptHook(MakeQtPromptHook());
  const int rc = QApplication::exec();
  platform::SetPromptHook({});
  return rc;
}

}  // namespace opos::setup::gui
