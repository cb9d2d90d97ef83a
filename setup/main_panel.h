// The main window's rules without the window: what the details panel shows and
// which buttons may be pressed for the selected tree node, when the name
// dialogs accept their text, the questions the window asks, and where the NV
// logo tool lies.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "setup/opos_cls.h"

namespace opos::setup {

// The window's buttons that depend on the selection (cmdExecute 0 ... 6).
enum MainButton : size_t {
  kAddDeviceButton = 0,
  kRemoveDeviceButton,
  kDeviceSetupButton,
  kRenameKeyButton,
  kAddLdnButton,
  kRemoveLdnButton,
  kRenameLdnButton,
  kSelectionButtons
};

struct PanelState {
  std::array<std::string, 5> data;  // lblData 0 ... 4
  std::vector<std::string> ldns;    // cboLDN, the first one shown
  bool ldnEnabled = false;
  bool grey = false;  // lblData 0, lblData 1 and cboLDN
  std::array<bool, kSelectionButtons> buttons{};
};

// After the tree is built, before anything is selected. "Device &Setup" stays
// unavailable while no device is shown, so that it never edits a device the
// user has not picked.
PanelState StartPanel();
// A class node is selected (the device object is cleared).
PanelState ClassNodePanel();
// A device node is selected and cls was loaded from it; names and values are
// the class's logical names as GetLDN gives them.
PanelState DevicePanel(const OPOSCls& cls, const std::vector<std::string>& names,
                       const std::vector<std::string>& values);
// After a completed action: nothing shown; "Device &Setup" keeps its state
// while the device object still holds a device.
PanelState ResetPanel(const PanelState& before, const OPOSCls& cls);

// Whether the device's tree node is drawn in the normal colour.
bool IsMakersNode(const OPOSCls& cls);

// The add action under the selected class node; the message that refuses it,
// or empty when the add dialog may open.
std::string AddDeviceRefusal(const std::string& selectedClass, int printerNodes);

// "&Change" of the rename dialog and "OK" of the add-logical-name dialog.
bool RenameAccepted(const std::string& current, const std::string& text);
bool NewLdnAccepted(const std::string& text);

// The window's questions.
std::string RemoveDeviceQuestion(const std::string& keyName);
std::string RemoveLdnQuestion(const std::string& ldn);
std::string RenameQuestion(const std::string& current, const std::string& renamed);

// The NV logo tool: $OPOS_NVLOGOTOOL when set and not empty, else kNvLogoToolPath.
std::string NvLogoToolPath();
// The message when the tool at path could not be started (why: the system's reason).
std::string NvLogoToolFailure(const std::string& path, const std::string& why);
inline constexpr const char kNvLogoToolPath[] = "/opt/Zentrim/NVLogoTool/NVLogoTool";

inline constexpr const char kMainWindowTitle[] = "Zentrim OPOS SETUP Ver 4.03";
inline constexpr const char kSetupMessageTitle[] = "Zentrim OPOS Setup";
inline constexpr const char kNvImageTitle[] = "Zentrim NVImage";
inline constexpr const char kVersionText[] = "KELVORA OPOS Setup Version 1.0.0";
inline constexpr const char kRenameTitle[] = "Rename Device Name Key";

}  // namespace opos::setup
