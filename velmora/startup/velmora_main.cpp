// Velmora: the start window and its version gate, then the launcher and the cleanup window until
// the launcher's "退出所有程序" ends the program.
#include <QApplication>
#include <QFont>

#include "ui/dialogs.h"
#include "ui/skin.h"
#include "velmora/cleanup/cleanup_window.h"
#include "velmora/startup/start_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // A test that runs the program as a process has its dialogs answered and logged.
  ui::testing::InstallAnswererFromEnvironment();
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  // Closing the last visible window (the cleanup window hides itself) never ends the program;
  // only the launcher's menu and the update path do.
  QApplication::setQuitOnLastWindowClosed(false);

  // The pack's default font; SkinFont puts CJK families behind it for every character it lacks.
  QApplication::setFont(ui::SkinFont());

  int exitCode = 0;
  {
    velmora::StartUp startUp;
    startUp.Run();
    exitCode = startUp.Ended() ? startUp.ExitCode() : QApplication::exec();
    velmora::CleanupWindow::Unload();
  }
  return exitCode;
}
