#include "platform/port_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace opos::platform {
namespace {

namespace fs = std::filesystem;

TEST(PortNames, AbsolutePathIsUsedAsItStands) {
  EXPECT_EQ(ResolvePortName("/dev/pts/7"), "/dev/pts/7");
  EXPECT_EQ(ResolvePortName("/no/such/device"), "/no/such/device");
}

TEST(PortNames, NumberedNamesWithoutLinkMapToSystemDevices) {
  EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
  EXPECT_EQ(ResolvePortName("COM12"), "/dev/ttyS11");
  EXPECT_EQ(ResolvePortName("com3"), "/dev/ttyS2");
  EXPECT_EQ(ResolvePortName("LPT2"), "/dev/lp1");
  EXPECT_EQ(ResolvePortName("COM256"), "/dev/ttyS255");
}

TEST(PortNames, LinkInPortDirectoryWinsEvenWhenDangling) {
  const fs::path dir = PortDirectory();
  fs::create_directories(dir);
  fs::remove(dir / "com10");
  fs::remove(dir / "lpt1");
  fs::create_symlink("/dev/null", dir / "com10");
  fs::create_symlink("/nowhere/at/all", dir / "lpt1");
  EXPECT_EQ(ResolvePortName("COM10"), (dir / "com10").string());
  EXPECT_EQ(ResolvePortName("LPT1"), (dir / "lpt1").string());
  // COM1 is another port, not a prefix match of com10.
  EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
  fs::remove(dir / "com10");
  fs::remove(dir / "lpt1");
}

TEST(PortNames, OtherNamesAreRefused) {
  for (const char* bad : {"", "COM", "COM0", "COM01", "COM257", "COM1000", "COMX", "COM1 ", "COM1:", "USB001",
                          "LPT", "relative/path", "XCOM1"}) {
    EXPECT_EQ(ResolvePortName(bad), "") << bad;
  }
}

}  // namespace
}  // namespace opos::platform
