#include "platform/port_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/transport/pty_peer.h"

namespace opos::platform {
namespace {

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
  test::ScopedLink com10(PortDirectory(), "com10", "/dev/null");
  test::ScopedLink lpt1(PortDirectory(), "lpt1", "/nowhere/at/all");
  EXPECT_EQ(ResolvePortName("COM10"), com10.Path());
  EXPECT_EQ(ResolvePortName("LPT1"), lpt1.Path());
  // COM1 is another port, not a prefix match of com10.
  EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
}

TEST(PortNames, OtherNamesAreRefused) {
  for (const char* bad : {"", "COM", "COM0", "COM01", "COM257", "COM1000", "COMX", "COM1 ", "COM1:", "USB001",
                          "LPT", "relative/path", "XCOM1"}) {
    EXPECT_EQ(ResolvePortName(bad), "") << bad;
  }
}

}  // namespace
}  // namespace opos::platform
