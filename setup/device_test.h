// The settings dialog's test of a device through the OPOS Control Objects: the
// test page on a printer, the drawer opening on a cash drawer, with the dialog's
// messages. The Control Object is reached through TestTarget so that the test
// runs against any implementation of the few calls it needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace opos::setup {

// The Control Object calls the test makes, by their OPOS names.
class TestTarget {
 public:
  virtual ~TestTarget() = default;
  virtual int32_t Open(const std::string& deviceName) = 0;
  virtual int32_t ClaimDevice(int32_t timeout) = 0;
  virtual void SetDeviceEnabled(bool enabled) = 0;
  virtual int32_t ResultCode() = 0;
  virtual int32_t ResultCodeExtended() = 0;
  virtual int32_t PrintNormal(int32_t station, const std::string& data) = 0;  // printer only
  virtual bool CapRecPapercut() = 0;                                          // printer only
  virtual int32_t OpenDrawer() = 0;                                           // drawer only
  virtual int32_t ReleaseDevice() = 0;
  virtual int32_t Close() = 0;
  // Why the last port open or write failed, while the device is open; "" when unknown.
  virtual std::string LastErrorDetail() { return {}; }
};

struct TestMessage {
  std::string title;  // "ERR"
  std::string text;
  std::string detail = {};  // the failure's cause, when the Service Object gave one
};

// The test page for a device type.
std::string TestPageText(const std::string& deviceType);

// Runs the test on a device opened by its key name; returns the messages the
// dialog would show (none when everything succeeded). The device is left closed.
std::vector<TestMessage> RunPrinterTest(TestTarget& printer, const std::string& keyName,
                                        const std::string& deviceType);
std::vector<TestMessage> RunDrawerTest(TestTarget& drawer, const std::string& keyName);

}  // namespace opos::setup
