// The Service Objects' dialogs as Qt dialogs: buttons in order, presses that
// keep the dialog open, the closing button's answer and the dialog's timer.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/prompt.h"
#include "setup/gui/service_prompt.h"

namespace opos::setup::gui {
namespace {

platform::PromptDialog HealthDialog(int timeoutMs) {
  return {"CheckHealth", "Press Start to print.", {{7, "Start", false}, {9, "Close", true}}, timeoutMs};
}

// Clicks the button labelled `text` of the modal dialog once it is shown.
void ClickLater(const QString& text, int afterMs) {
  QTimer::singleShot(afterMs, [text] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
      if (b->text() == text) {
        b->click();
        return;
      }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
  });
}

TEST(ServicePrompt, PressesRunAndTheClosingButtonAnswers) {
  platform::PromptHook hook = MakeQtPromptHook();
  std::vector<int> presses;
  ClickLater("Start", 10);
  ClickLater("Start", 30);
  ClickLater("Close", 60);
  const int answer = hook(HealthDialog(5000), [&](int id) { presses.push_back(id); });
  EXPECT_EQ(answer, 9);
  EXPECT_EQ(presses, (std::vector<int>{7, 7}));
}

TEST(ServicePrompt, UnansweredItClosesOnItsTimer) {
  platform::PromptHook hook = MakeQtPromptHook();
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(hook(HealthDialog(150), {}), platform::kPromptUnanswered);
  EXPECT_GE(clock.elapsed(), 140);
  EXPECT_LT(clock.elapsed(), 3000);
  // A dialog without time closes at once, without showing.
  EXPECT_EQ(hook(HealthDialog(0), {}), platform::kPromptUnanswered);
}

TEST(ServicePrompt, InstalledItServesEveryPrompt) {
  platform::SetPromptHook(MakeQtPromptHook());
  ClickLater("Close", 10);
  EXPECT_EQ(platform::ShowPrompt(HealthDialog(5000), {}), 9);
  platform::SetPromptHook({});
}

}  // namespace
}  // namespace opos::setup::gui
