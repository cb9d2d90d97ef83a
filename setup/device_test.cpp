#include "setup/device_test.h"

#include "setup/mod_setup.h"

namespace opos::setup {
namespace {

constexpr int32_t kReceiptStation = 2;  // PTR_S_RECEIPT
constexpr int32_t kClaimTimeoutMs = 1000;
constexpr char kEsc = 27;

TestMessage ResultMessage(TestTarget& t, int32_t result) {
  return {"ERR", "ResultCode : " + std::to_string(result), t.LastErrorDetail()};
}

TestMessage ExtendedMessage(TestTarget& t) {
  return {"ERR",
          "ResultCode : " + std::to_string(t.ResultCode()) + "\r\n" +
              "ResultCodeExtended : " + std::to_string(t.ResultCodeExtended()),
          t.LastErrorDetail()};
}

// Open, claim and enable; false (with the device closed again) when a step fails.
bool OpenClaimEnable(TestTarget& t, const std::string& keyName, std::vector<TestMessage>* out) {
  int32_t rc = t.Open(keyName);
  if (rc != 0) {
    out->push_back(ResultMessage(t, rc));
    return false;
  }
  rc = t.ClaimDevice(kClaimTimeoutMs);
  if (rc != 0) {
    out->push_back(ResultMessage(t, rc));
    t.Close();
    return false;
  }
  t.SetDeviceEnabled(true);
  if (t.ResultCode() != 0) {
    out->push_back(ExtendedMessage(t));
    t.ReleaseDevice();
    t.Close();
    return false;
  }
  return true;
}

}  // namespace

std::string TestPageText(const std::string& deviceType) {
  std::string text = "Interactive Hcheck!!\r\nKELVORA OPOS ZAD\r\nService Object Version : 1.4\r\n";
  std::string model = modSetup::TestPrintModelLine(deviceType);
  if (!model.empty()) text += model + "\r\n\r\n\r\n";
  return text;
}

std::vector<TestMessage> RunPrinterTest(TestTarget& printer, const std::string& keyName,
                                        const std::string& deviceType) {
  std::vector<TestMessage> messages;
  if (!OpenClaimEnable(printer, keyName, &messages)) return messages;
  if (printer.PrintNormal(kReceiptStation, TestPageText(deviceType)) != 0) {
    messages.push_back(ExtendedMessage(printer));
  } else if (printer.CapRecPapercut()) {
    printer.PrintNormal(kReceiptStation, std::string(1, kEsc) + "|fP");
  }
  printer.SetDeviceEnabled(false);
  printer.ReleaseDevice();
  printer.Close();
  return messages;
}

std::vector<TestMessage> RunDrawerTest(TestTarget& drawer, const std::string& keyName) {
  std::vector<TestMessage> messages;
  if (!OpenClaimEnable(drawer, keyName, &messages)) return messages;
  drawer.OpenDrawer();
  if (drawer.ResultCode() != 0) messages.push_back(ExtendedMessage(drawer));
  drawer.SetDeviceEnabled(false);
  drawer.ReleaseDevice();
  drawer.Close();
  return messages;
}

}  // namespace opos::setup
