// The interactive health check of the serial library end to end: the Control
// Objects load it from a fresh registry and drive it against the virtual
// printer; the test's prompt hook (one for the whole process, so the library
// sees it) plays the user.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "opos/cash_drawer.h"
#include "platform/prompt.h"
#include "tests/receipt/receipt_env.h"

namespace opos::health {
namespace {

using platform::PromptDialog;
using platform::PromptPress;

const std::string kInteractiveText =
    "\x1b@\nInteractive HCheck!!\nOPOS ZAD\nService Object Version : 1.5.0\nDevice Name : Thermal\n";
const std::string kPulsePin2 = "\x1b\x70\x30\x64\xc8";
const std::string kDialogText = "Please Push the [Start] button to start the CheckHealth Method.";

struct Shown {
  std::string caption;
  std::string text;
  std::vector<std::string> buttons;
};

// Plays the user: presses the dialog's buttons in the order given (the last
// one the closing button, or kPromptUnanswered for the dialog's timer), and
// OK on every message box. beforePress(n) runs before the n-th press.
class ScriptedUser {
 public:
  explicit ScriptedUser(std::vector<int> presses) : presses_(std::move(presses)) {
    platform::SetPromptHook(
        [this](const PromptDialog& d, const PromptPress& press) { return Show(d, press); });
  }
  ~ScriptedUser() { platform::SetPromptHook({}); }

  std::vector<Shown> shown;
  std::function<void(size_t)> beforePress;

 private:
  int Show(const PromptDialog& d, const PromptPress& press) {
    Shown s{d.caption, d.text, {}};
    for (const auto& b : d.buttons) s.buttons.push_back(b.text);
    shown.push_back(s);
    EXPECT_GT(d.timeoutMs, 0);
    if (d.buttons.size() == 1) return d.buttons.front().id;  // message box: OK
    for (size_t n = 0; n < presses_.size(); ++n) {
      if (beforePress) beforePress(n);
      const int id = presses_[n];
      if (id == platform::kPromptUnanswered || id == 1001) return id;
      press(id);
    }
    return platform::kPromptUnanswered;
  }
  std::vector<int> presses_;
};

size_t Occurrences(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

class PrinterHealth : public receipt::ReceiptEnvironment {
 protected:
  void SetUp() override {
    ReceiptEnvironment::SetUp();
    ASSERT_NO_FATAL_FAILURE(OpenPrinter());
    ASSERT_NO_FATAL_FAILURE(Enable());
  }
};

TEST_F(PrinterHealth, EachStartPrintsTheInteractiveTextUntilClose) {
  ScriptedUser user({1000, 1000, 1001});
  ASSERT_EQ(printer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_SUCCESS);
  EXPECT_EQ(printer.ResultCodeExtended(), 0);
  EXPECT_EQ(printer.CheckHealthText(), "Last check was interactive.");
  ASSERT_EQ(user.shown.size(), 1u);  // no message box
  EXPECT_EQ(user.shown[0].caption, "CheckHealth");
  EXPECT_EQ(user.shown[0].text, kDialogText);
  EXPECT_EQ(user.shown[0].buttons, (std::vector<std::string>{"Start", "Close"}));
  EXPECT_EQ(CapturedAtLeast(2 * kInteractiveText.size()), kInteractiveText + kInteractiveText);
}

TEST_F(PrinterHealth, StartOnAnOpenCoverShowsTheMessageAndLeavesTheDialogForAnotherTry) {
  vprinter_->SetCoverOpen(true);
  ASSERT_TRUE(DeliverUntil([this] { return printer.CoverOpen(); }));
  {
    ScriptedUser user({1000, 1001});
    EXPECT_EQ(printer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_E_EXTENDED);
    EXPECT_EQ(printer.ResultCodeExtended(), OPOS_EPTR_COVER_OPEN);
    ASSERT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[1].text, "POSPrinter can't use.\nResultCode : 114");
    EXPECT_EQ(user.shown[1].buttons, std::vector<std::string>{"OK"});
  }
  EXPECT_EQ(Printed(), "");

  // Paper out on the first press; the user fixes the printer and presses again.
  vprinter_->SetCoverOpen(false);
  vprinter_->SetPaperEnd(true);
  ASSERT_TRUE(DeliverUntil([this] { return !printer.CoverOpen() && printer.RecEmpty(); }));
  ScriptedUser user({1000, 1000, 1001});
  user.beforePress = [this](size_t n) {
    if (n != 1) return;
    vprinter_->SetPaperEnd(false);
    ASSERT_TRUE(DeliverUntil([this] { return !printer.RecEmpty(); }));
  };
  EXPECT_EQ(printer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_SUCCESS);
  EXPECT_EQ(printer.ResultCodeExtended(), 0);
  ASSERT_EQ(user.shown.size(), 2u);
  EXPECT_EQ(user.shown[1].text, "POSPrinter can't use.\nResultCode : 114");
  EXPECT_EQ(Occurrences(CapturedAtLeast(kInteractiveText.size()), kInteractiveText), 1u);
}

TEST_F(PrinterHealth, ClosedWithoutStartKeepsTheEarlierResult) {
  vprinter_->SetCoverOpen(true);
  ASSERT_TRUE(DeliverUntil([this] { return printer.CoverOpen(); }));
  ASSERT_EQ(printer.CheckHealth(OPOS_CH_INTERNAL), OPOS_E_EXTENDED);
  {
    // A check that never ran is no success.
    ScriptedUser user({1001});
    EXPECT_EQ(printer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_E_EXTENDED);
    EXPECT_EQ(printer.ResultCode(), OPOS_E_EXTENDED);
    EXPECT_EQ(printer.ResultCodeExtended(), 0);
  }
  // No hook, no terminal (see main): the dialog closes at once, nothing printed.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(printer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_E_EXTENDED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(printer.CheckHealthText(), "Last check was interactive.");
  EXPECT_EQ(Printed(), "");
}

TEST_F(PrinterHealth, RefusedWhileAnotherDialogIsShowing) {
  // An application that starts a second check from inside the dialog (an
  // event handler, say) is refused: the dialog belongs to the first.
  int32_t nested = -1;
  ScriptedUser user({1000, 1001});
  user.beforePress = [&](size_t n) {
    if (n == 0) nested = printer.CheckHealth(OPOS_CH_INTERACTIVE);
  };
  EXPECT_EQ(printer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_SUCCESS);
  EXPECT_EQ(nested, OPOS_E_BUSY);
  EXPECT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(CapturedAtLeast(kInteractiveText.size()), kInteractiveText);
}

class DrawerHealth : public receipt::ReceiptEnvironment {
 protected:
  void SetUp() override {
    ReceiptEnvironment::SetUp();
    vprinter::VirtualPrinterOptions options;
    options.linkPath = dir_ + "/printer";
    vprinter_ = std::make_unique<vprinter::VirtualPrinter>(options);
    std::string error;
    ASSERT_TRUE(vprinter_->Start(&error)) << error;
    const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\Drawer";
    SetSz(key, "", "KELVORA.CashDrawer.SO");
    for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 6},
                        {"BitLength", 8},
                        {"HandShake", 0},
                        {"Parity", 0},
                        {"Stop", 1},
                        {"XonXoff", 0},
                        {"ConnectorPinNo", 2},
                        {"OpenLevel", 1}}) {
      SetDword(key, n, v);
    }
    SetSz(key, "Port", options.linkPath);
    SetSz(key, "DeviceName", "StandardCash");
    ASSERT_EQ(drawer.Open("Drawer"), OPOS_SUCCESS) << drawer.LastErrorText();
    ASSERT_EQ(drawer.ClaimDevice(1000), OPOS_SUCCESS);
    drawer.SetDeviceEnabled(true);
    ASSERT_EQ(drawer.ResultCode(), OPOS_SUCCESS);
  }
  void TearDown() override {
    drawer.Close();
    ReceiptEnvironment::TearDown();
  }
  control::CashDrawer drawer;
};

TEST_F(DrawerHealth, EachStartOpensTheDrawer) {
  ScriptedUser user({1000, 1000, 1001});
  EXPECT_EQ(drawer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_SUCCESS);
  ASSERT_EQ(user.shown.size(), 1u);
  EXPECT_EQ(user.shown[0].text, kDialogText);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Occurrences(Captured(), kPulsePin2) < 2 && std::chrono::steady_clock::now() < deadline) {
    (void)vprinter_->WaitForBytes(Captured().size() + 1, std::chrono::milliseconds(200));
  }
  EXPECT_EQ(Occurrences(Captured(), kPulsePin2), 2u);
  EXPECT_EQ(drawer.CheckHealthText(), "Not Executed");
}

TEST_F(DrawerHealth, UnansweredOrWithoutAUserNoPulseAndSuccess) {
  {
    ScriptedUser user({platform::kPromptUnanswered});
    EXPECT_EQ(drawer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_SUCCESS);
    EXPECT_EQ(user.shown.size(), 1u);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(drawer.CheckHealth(OPOS_CH_INTERACTIVE), OPOS_SUCCESS);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  (void)vprinter_->WaitForBytes(Captured().size() + kPulsePin2.size(), std::chrono::milliseconds(300));
  EXPECT_EQ(Occurrences(Captured(), kPulsePin2), 0u);
}

}  // namespace
}  // namespace opos::health
