#include <cstdlib>
#include <type_traits>

#include "common/opos.h"

#include "common/opos_ptr.h"
#include "opos/cash_drawer.h"
#include "opos/pos_printer.h"
#include "platform/registry_store.h"
#include "setup/devsetup_test_runner.h"
#include "setup/mod_setup.h"

namespace opos::setup {
namespace {

// The test's calls on a Control Object of either class.
template <class Control>
class ControlTarget : public TestTarget {
 public:
  explicit ControlTarget(const std::string& registryPath) { control_.SetRegistryPath(registryPath); }
  int32_t Open(const std::string& name) override { return control_.Open(name); }
  int32_t ClaimDevice(int32_t timeout) override { return control_.ClaimDevice(timeout); }
  void SetDeviceEnabled(bool enabled) override { control_.SetDeviceEnabled(enabled); }
  int32_t ResultCode() override { return control_.ResultCode(); }
  int32_t ResultCodeExtended() override { return control_.ResultCodeExtended(); }
  int32_t PrintNormal(int32_t station, const std::string& data) override {
    if constexpr (std::is_same_v<Control, control::POSPrinter>) {
      return control_.PrintNormal(station, data);
    } else {
      return OPOS_E_ILLEGAL;
    }
  }
  bool CapRecPapercut() override { return control_.GetPropertyNumber(PIDXPtr_CapRecPapercut) != 0; }
  int32_t OpenDrawer() override {
    if constexpr (std::is_same_v<Control, control::CashDrawer>) {
      return control_.OpenDrawer();
    } else {
      return OPOS_E_ILLEGAL;
    }
  }
  int32_t ReleaseDevice() override { return control_.ReleaseDevice(); }
  int32_t Close() override { return control_.Close(); }
  std::string LastErrorDetail() override { return control_.LastErrorDetail(); }
  const std::string& LastErrorText() const { return control_.LastErrorText(); }

 private:
  Control control_;
};

template <class Control>
std::vector<TestMessage> Run(const OPOSCls& device, const std::string& registryPath,
                             std::vector<std::string>* notes) {
  ControlTarget<Control> target(registryPath);
  std::vector<TestMessage> messages = device.mstrDeviceClass == modSetup::kDrawerClass
                                          ? RunDrawerTest(target, device.mstrKeyName)
                                          : RunPrinterTest(target, device.mstrKeyName, device.mstrDeviceName);
  if (!messages.empty() && !target.LastErrorText().empty()) notes->push_back(target.LastErrorText());
  return messages;
}

}  // namespace

TestRunner ControlTestRunner() {
  return [](const OPOSCls& device, const std::string& registryPath, std::vector<std::string>* notes,
            std::string* unavailable) -> std::vector<TestMessage> {
    (void)unavailable;
    // The Service Object reads its configuration from $OPOS_REGISTRY: the same
    // store the device was just read from.
    reg::Store::SetDefaultPath(registryPath);
    if (device.mstrDeviceClass == modSetup::kDrawerClass) {
      return Run<control::CashDrawer>(device, registryPath, notes);
    }
    return Run<control::POSPrinter>(device, registryPath, notes);
  };
}

}  // namespace opos::setup
