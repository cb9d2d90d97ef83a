#include "transport/port_status.h"

#include <gtest/gtest.h>

#include <vector>

namespace opos {
namespace {

StatusScan Scan(const std::vector<uint8_t>& bytes) {
  return ScanStatus(bytes.data(), bytes.size());
}

TEST(StatusScan, DecodesTheLastFourBytesAsTheReport) {
  // 0x14: drawer pin 3 high, cover closed.
  auto s = Scan({0x14, 0x00, 0x00, 0x00});
  ASSERT_TRUE(s.hasReport);
  EXPECT_FALSE(s.report.drawerSensorLow);
  EXPECT_FALSE(s.report.coverOpen);
  EXPECT_FALSE(s.report.paperEnd);

  s = Scan({0x30, 0x00, 0x00, 0x00});  // cover open, pin 3 low
  EXPECT_TRUE(s.report.drawerSensorLow);
  EXPECT_TRUE(s.report.coverOpen);

  s = Scan({0x14, 0x00, 0x04, 0x00});
  EXPECT_TRUE(s.report.paperEnd);
  s = Scan({0x14, 0x00, 0x08, 0x00});
  EXPECT_TRUE(s.report.paperEnd);
  s = Scan({0x14, 0x00, 0x03, 0x00});  // paper near end only
  EXPECT_FALSE(s.report.paperEnd);

  // An older report followed by a newer one: the newer one counts.
  s = Scan({0x30, 0x00, 0x00, 0x00, 0x14, 0x00, 0x0C, 0x00});
  EXPECT_FALSE(s.report.coverOpen);
  EXPECT_TRUE(s.report.paperEnd);
}

TEST(StatusScan, FewerThanFourBytesAreNoReport) {
  EXPECT_FALSE(Scan({}).hasReport);
  EXPECT_FALSE(Scan({0x30, 0x00, 0x00}).hasReport);
  EXPECT_FALSE(ScanStatus(nullptr, 4).hasReport);
}

TEST(StatusScan, ProcessIdResponseIsRecognisedAndNeverReadAsAReport) {
  auto s = Scan({0x37, 0x22, 'F', 'F', 'F', 'F', 0x00});
  EXPECT_TRUE(s.processIdSeen);
  // Its tail "FF" 00 would otherwise read as paper end.
  EXPECT_FALSE(s.hasReport);

  s = Scan({0x14, 0x00, 0x00, 0x00, 0x37, 0x22, 'F', 'F', 'F', 'F', 0x00});
  EXPECT_TRUE(s.processIdSeen);
  ASSERT_TRUE(s.hasReport);
  EXPECT_FALSE(s.report.paperEnd);

  s = Scan({0x37, 0x22, 'F', 'F', 'F', 'F', 0x00, 0x30, 0x00, 0x00, 0x00});
  EXPECT_TRUE(s.processIdSeen);
  EXPECT_TRUE(s.report.coverOpen);

  // Three stray bytes and the response: still no report.
  s = Scan({0x30, 0x00, 0x00, 0x37, 0x22, 'F', 'F', 'F', 'F', 0x00});
  EXPECT_TRUE(s.processIdSeen);
  EXPECT_FALSE(s.hasReport);

  // Another process ID is not ours.
  s = Scan({0x37, 0x22, 'F', 'F', 'F', 'E', 0x00});
  EXPECT_FALSE(s.processIdSeen);
}

}  // namespace
}  // namespace opos
