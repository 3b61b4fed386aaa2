// Velmora's start: the start window, the launcher, and the version gate that either opens the
// cleanup window or hands over to UpDate and ends the program.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "common/text.h"
#include "ui/skin.h"

namespace velmora {

class LauncherWindow;

class StartUp {
 public:
  struct Options {
    // The folder that holds UpDate; the folder of the running executable when not given.
    std::optional<common::Text> runDirectory;
    // Called once the program has closed all its windows and must end, with the exit code.
    // The default ends the process at once. Tests intercept the end here.
    std::function<void(int exitCode)> endProgram;
  };

  StartUp();
  explicit StartUp(Options options);
  ~StartUp();
  StartUp(const StartUp&) = delete;
  StartUp& operator=(const StartUp&) = delete;

  // Loads the start window; its created event opens the launcher and runs the version gate,
  // all before Run returns.
  void Run();

  // The start window while it exists (nullptr once the gate has destroyed it).
  ui::SkinWindow* StartWindow() const;
  LauncherWindow* Launcher() const;

  // The program-wide version texts of the gate.
  const common::Text& RemoteVersion() const;
  const common::Text& LocalVersion() const;

  // Ends the program: every window closes (script, cleanup, launcher and start window), then
  // the end hook runs (by default the process ends). Later calls do nothing.
  void EndProgram(int exitCode = 0);
  bool Ended() const;
  int ExitCode() const;

  // Events of the start window.
  void OnStartWindowCreated();
  void CheckForUpdate();

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace velmora
