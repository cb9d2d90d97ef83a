// USB printers found through a fake sysfs tree, the model catalog of the add
// dialog, and its rule for USB types.
#include <gtest/gtest.h>

#include "platform/usb_enum.h"
#include "setup/model_catalog.h"
#include "setup/opos_cls.h"
#include "setup_test_util.h"

namespace opos::setup {
namespace {

using testing::FakeSysfs;
using testing::kModelDir;
using testing::TempDir;
using testing::TempStore;
using testing::WriteFile;

TEST(UsbEnum, FindsTheMakersPrintersInSocketOrder) {
  FakeSysfs sys;
  sys.AddDevice("1-1.10", "0483", "a049", 2);
  sys.AddDevice("2-1", "067B", "2305", 0);
  sys.AddDevice("1-1.2", "0483", "A036");                 // no printer driver bound yet
  sys.AddDevice("1-1.3", "046d", "c077");                 // a mouse
  WriteFile(sys.Devices() + "/usb1/idVendor", "1d6b\n");  // root hub
  WriteFile(sys.Devices() + "/usb1/idProduct", "0002\n");

  TempStore store;
  OPOSCls cls(*store);
  EXPECT_EQ(cls.NumberofDevices(), 3);
  EXPECT_EQ(cls.GetDeviceID(0), "usb:1-1.2");
  EXPECT_EQ(cls.GetDeviceID(1), "usb:1-1.10");
  EXPECT_EQ(cls.GetDeviceID(2), "usb:2-1");
  EXPECT_EQ(cls.GetDeviceID(3), "");
  EXPECT_EQ(cls.GetDeviceID(-1), "");
  EXPECT_GE(cls.EnumAllDevices(), 5);

  std::vector<usb::UsbPrinter> printers = usb::EnumerateMakerPrinters();
  ASSERT_EQ(printers.size(), 3u);
  EXPECT_EQ(printers[2].vendorId, "067B");
  EXPECT_EQ(printers[1].productId, "A049");
}

TEST(UsbEnum, ResolvesTheSocketToThePrinterNodeOfTheMoment) {
  FakeSysfs sys;
  sys.AddDevice("1-1.4", "0483", "a049", 0);
  std::string why;
  EXPECT_EQ(usb::ResolveUsbDevicePath("usb:1-1.4", &why), "/dev/usb/lp0");
  // Re-plugged into the same socket the kernel may hand out another number.
  sys.Remove("1-1.4");
  EXPECT_EQ(usb::ResolveUsbDevicePath("usb:1-1.4", &why), "");
  EXPECT_NE(why.find("no USB device is plugged into socket 1-1.4"), std::string::npos) << why;
  sys.AddDevice("1-1.4", "0483", "a049");
  EXPECT_EQ(usb::ResolveUsbDevicePath("usb:1-1.4", &why), "");
  EXPECT_NE(why.find("no printer driver"), std::string::npos) << why;
  sys.AddDevice("1-1.4", "0483", "a049", 3);
  EXPECT_EQ(usb::ResolveUsbDevicePath("usb:1-1.4"), "/dev/usb/lp3");

  ::setenv("OPOS_USB_DEV_DIR", "/tmp/devs", 1);
  EXPECT_EQ(usb::ResolveUsbDevicePath("usb:1-1.4"), "/tmp/devs/lp3");
  ::unsetenv("OPOS_USB_DEV_DIR");
  EXPECT_EQ(usb::ResolveUsbDevicePath("/dev/pts/7"), "/dev/pts/7");
  for (const char* bad :
       {"", "usb:", "usb:../../etc", "usb:1-1/../x", "usb:1-", "1-1.4", "usb:1-1..4", "usb:1-1.4:1.0"}) {
    EXPECT_EQ(usb::ResolveUsbDevicePath(bad, &why), "") << bad;
    EXPECT_FALSE(usb::IsUsbDevicePath(bad)) << bad;
  }
}

TEST(UsbEnum, NothingPresentGivesZeroAndEmpty) {
  FakeSysfs sys;
  TempStore store;
  OPOSCls cls(*store);
  EXPECT_EQ(cls.NumberofDevices(), 0);
  EXPECT_EQ(cls.GetDeviceID(0), "");
  ::setenv("OPOS_SYSFS_ROOT", (sys.Root() + "/nothing-here").c_str(), 1);
  EXPECT_EQ(cls.NumberofDevices(), 0);
  EXPECT_EQ(cls.EnumAllDevices(), 0);
}

TEST(ModelCatalog, ListsShippedModelsAlphabeticallyWithTheirTypes) {
  std::vector<std::string> problems;
  std::vector<BaseModel> printers = ListBaseModels(kModelDir, "POSPrinter", &problems);
  EXPECT_TRUE(problems.empty());
  std::vector<std::string> bases;
  for (const BaseModel& m : printers) bases.push_back(m.baseName);
  EXPECT_EQ(bases, (std::vector<std::string>{"PICOR", "QMT500", "Z10", "Z10PLUS", "Z7", "Z9"}));
  for (const BaseModel& m : printers) {
    std::string error;
    std::vector<std::string> types = ListModelTypes(m.path, &error);
    if (m.baseName == "Z7") {
      EXPECT_EQ(types, (std::vector<std::string>{"Z7S", "Z7U"}));
    } else {
      EXPECT_EQ(types, (std::vector<std::string>{m.baseName + "S", m.baseName + "P", m.baseName + "U"}))
          << error;
    }
  }
  std::vector<BaseModel> drawers = ListBaseModels(kModelDir, "CashDrawer", &problems);
  ASSERT_EQ(drawers.size(), 1u);
  EXPECT_EQ(drawers[0].baseName, "StandardCash");
}

TEST(ModelCatalog, ReportsFilesItCannotUse) {
  TempDir dir;
  WriteFile(dir.File("KLP_A.inf"), "[SINFO]\nDeviceName=AS\n[MaxNumber]\nCountNumber=4\n");
  WriteFile(dir.File("klp_b.INF"),
            "[SINFO]\nDeviceName=BS\n[PINFO]\nDeviceName=BU\n"
            "[MaxNumber]\nCountNumber=2\n");
  WriteFile(dir.File("KLP_C.inf"), "[PINFO]\nDeviceName=CP\n");
  WriteFile(dir.File("KLP_D.inf"), "garbage line\n");
  WriteFile(dir.File("Other.inf"), "[SINFO]\nDeviceName=XS\n");
  std::vector<std::string> problems;
  std::vector<BaseModel> models = ListBaseModels(dir.Path(), "POSPrinter", &problems);
  ASSERT_EQ(models.size(), 2u);
  EXPECT_EQ(models[0].baseName, "A");
  EXPECT_EQ(models[1].baseName, "B");
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("KLP_C.inf\" names no [SINFO] DeviceName"), std::string::npos);
  // A junk line is skipped, as the profile reader does: what is left names no type.
  EXPECT_NE(problems[1].find("KLP_D.inf\" names no [SINFO] DeviceName"), std::string::npos) << problems[1];
  std::string error;
  EXPECT_TRUE(ListModelTypes(models[0].path, &error).empty());
  EXPECT_NE(error.find("CountNumber \"4\" is not 1 to 3"), std::string::npos) << error;
  EXPECT_TRUE(ListModelTypes(models[1].path, &error).empty());
  EXPECT_NE(error.find("[PINFO] DeviceName \"BU\""), std::string::npos) << error;
  EXPECT_TRUE(ListBaseModels(dir.File("none"), "POSPrinter", &problems).empty());
}

TEST(ModelCatalog, UsbTypesNeedPresentPrinters) {
  EXPECT_EQ(ApplyTypeRule("QMT500U", "QMT500", 3).ports,
            (std::vector<std::string>{"USB001", "USB002", "USB003"}));
  EXPECT_EQ(ApplyTypeRule("Z9U", "Z9", 10).ports.back(), "USB010");
  for (int32_t n : {0, 100, 250}) {
    TypeRule r = ApplyTypeRule("Z9U", "Z9", n);
    EXPECT_FALSE(r.canAdd);
    EXPECT_EQ(r.message, "Not Connect USB Device and Power off!");
  }
  TypeRule serial = ApplyTypeRule("Z9S", "Z9", 0);
  EXPECT_TRUE(serial.canAdd);
  EXPECT_FALSE(serial.needsUsb);
  EXPECT_TRUE(serial.ports.empty());
}

}  // namespace
}  // namespace opos::setup
