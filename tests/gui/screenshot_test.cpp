// Pictures of the main window and the settings dialog as the offscreen platform
// draws them; written to $OPOS_GUI_SCREENSHOTS when set, for a person to look at.
#include <QImage>
#include <QPixmap>
#include <cstdlib>
#include <set>

#include "setup/gui/settings_dialog.h"
#include "tests/gui/window_fixture.h"

namespace opos::setup::gui {
namespace {

using namespace testing;

// Distinct colours in the picture: a window drawn with its widgets has many.
size_t Colours(const QImage& image) {
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  }
  return colours.size();
}

void Keep(const QPixmap& picture, const char* name) {
  const char* dir = std::getenv("OPOS_GUI_SCREENSHOTS");
  if (dir != nullptr && *dir != '\0') {
    EXPECT_TRUE(picture.save(QString(dir) + "/" + name, "PNG")) << name;
  }
}

TEST_F(SetupWindow, MainWindowAndSettingsDialogAreDrawn) {
  Make("QMT500S", {"Receipt", "Front"});
  Make("Z9S");
  Make("StandardCashS", {"Till"});
  Open();
  window->resize(820, 420);
  Select("POSPrinter", "QMT500S");
  QPixmap main = window->grab();
  ASSERT_FALSE(main.isNull());
  EXPECT_GE(main.width(), 600);
  EXPECT_GT(Colours(main.toImage()), 8u);
  Keep(main, "main_window.png");

  Select("CashDrawer", "StandardCashS");
  Click(window.get(), "cmdExecute2");
  ASSERT_EQ(window->SettingsDialogs().size(), 1u);
  SettingsDialog* d = window->SettingsDialogs().front();
  d->adjustSize();
  QPixmap settings = d->grab();
  ASSERT_FALSE(settings.isNull());
  EXPECT_GT(Colours(settings.toImage()), 8u);
  Keep(settings, "settings_dialog.png");
}

}  // namespace
}  // namespace opos::setup::gui
