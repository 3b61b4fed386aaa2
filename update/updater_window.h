// UpDate's one window: the installed version, a status list that reports the release check and
// then shows the update notes, "立即更新" and "取消". "立即更新" grows the window to show the size,
// the progress and a progress bar while the package downloads; once the task ends the archive is
// installed over the run directory, Velmora is started and UpDate ends.
//
// The release check and the notes run on threads of their own, and the download facility on its
// threads; none of them touches a widget. They hand rows, texts and questions to the UI thread,
// where nothing of theirs runs once the window has been destroyed.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/text.h"
#include "ui/skin.h"
#include "update/download.h"

class QTimer;

namespace update {

using common::Text;

class UpdaterWindow {
 public:
  static constexpr int kWidth = 314;
  static constexpr int kHeight = 305;
  static constexpr int kDownloadHeight = 370;

  struct Options {
    // The folder of the notes file and the archive, and where the update is installed; the
    // folder of the running executable when not given.
    std::optional<Text> runDirectory;
    // Called once the window has been destroyed and UpDate must end, with the exit code. The
    // default ends the process at once. Tests intercept the end here.
    std::function<void(int exitCode)> endProgram;
    // Starts a program from its command line; the default is platform::StartProgram.
    std::function<void(const Text& commandLine)> startProgram;
  };

  UpdaterWindow();
  explicit UpdaterWindow(Options options);
  // Destroys the window if it is still there (without ending the program) and stops a running
  // download.
  ~UpdaterWindow();
  UpdaterWindow(const UpdaterWindow&) = delete;
  UpdaterWindow& operator=(const UpdaterWindow&) = delete;

  // Loads the window: its created event reads the release page, builds the elements, decides
  // whether "立即更新" is usable and starts the release check; then the window is shown.
  void Load();

  // The window and its elements while the window exists (nullptr once it has been destroyed).
  ui::SkinWindow* Window() const;
  ui::List* StatusList() const;
  ui::Label* VersionLabel() const;
  ui::Label* SizeLabel() const;
  ui::Label* ProgressLabel() const;
  ui::ProgressBar* ProgressBar() const;
  ui::Button* UpdateButton() const;
  ui::Button* CancelButton() const;
  QTimer* ProgressTimer() const;  // "时钟1"

  const Text& RunDirectory() const;
  // The program-wide texts of the created event.
  const Text& RemoteVersion() const;
  const Text& LocalVersion() const;
  // The package size the download facility reported (0 until it has).
  double TotalSize() const;
  DownloadFacility& Downloads();

  // True once the release check has shown its last row or the notes.
  bool CheckFinished() const;
  // Called on the UI thread when the release check has finished (at most once).
  void SetCheckFinishedHandler(std::function<void()> handler);
  // True from the end of a download task until its archive has been dealt with.
  bool Installing() const;

  // Destroys the window (its destroyed event deletes the notes file), then ends the program.
  // Later calls do nothing.
  void EndProgram(int exitCode = 0);
  bool Ended() const;
  int ExitCode() const;

  // Release check and notes routines still running on their threads, in the whole process.
  static int BackgroundRoutines();

  // Events of the window.
  void OnUpdaterWindowCreated();
  void OnUpdaterWindowEvent(int elementId, int eventCode);
  void OnUpdaterWindowDestroyed();
  void OnUpdateClicked();
  void StartDownload(const Text& address, const Text& target);
  void ShowProgress();
  // Called on the download facility's threads.
  int OnDownloadEvent(const DownloadEvent& event, const Text& linkRecord);

 private:
  struct Parts;
  // Handlers that may open a nested event loop count themselves busy; a window destroyed meanwhile
  // is deleted, and the program ended, when the last of them has returned.
  void Enter();
  void Leave();
  void CompleteEnd();
  void DestroyWindow();
  void StartCheckRelease();
  void AppendStatusRow(const Text& row);
  void ShowNotesRows(const std::vector<Text>& items);
  void FinishCheck();
  void FinishInstall(bool installed);
  std::unique_ptr<Parts> parts_;
};

}  // namespace update
