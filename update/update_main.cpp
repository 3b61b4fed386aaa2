// UpDate: finishes an install that a kill cut short, then opens the updater window until the
// user cancels or the update has been installed.
#include <QApplication>
#include <QFont>
#include <QTimer>
#include <cstdlib>

#include "common/text.h"
#include "platform/paths.h"
#include "ui/dialogs.h"
#include "ui/skin.h"
#include "update/install.h"
#include "update/updater_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("UpDate"));
  // The window's destroyed event ends the program; nothing else does.
  QApplication::setQuitOnLastWindowClosed(false);

  // The pack's default font; SkinFont puts CJK families behind it for every character it lacks.
  QApplication::setFont(ui::SkinFont());

  update::RecoverInterruptedInstall(platform::NativePath(platform::RunDirectory()).string());
  ui::testing::InstallAnswererFromEnvironment();

  update::UpdaterWindow updater;
  // For the end-to-end tests: VELMORA_TEST_CLICK names a button (UTF-8) that is clicked once the
  // release check has finished, when the button is enabled.
  const char* click = std::getenv("VELMORA_TEST_CLICK");
  if (click != nullptr && *click != '\0') {
    const common::Text buttonText = common::Utf8ToGbkText(click);
    updater.SetCheckFinishedHandler([&updater, buttonText] {
      QTimer::singleShot(0, [&updater, buttonText] {
        for (ui::Button* button : {updater.UpdateButton(), updater.CancelButton()}) {
          if (button != nullptr && button->GetText() == buttonText && button->IsEnabled()) {
            button->Click();
            return;
          }
        }
      });
    });
  }
  updater.Load();
  return updater.Ended() ? updater.ExitCode() : QApplication::exec();
}
