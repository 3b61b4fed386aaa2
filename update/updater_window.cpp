#include "update/updater_window.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "common/fetch.h"
#include "common/release.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "ui/dialogs.h"
#include "update/share_link.h"
#include "update/updater.h"
#include "velmora/startup/version_gate.h"

namespace update {

using namespace common::literals;

namespace {

// What the window shares with the threads that work for it. Everything but `owner` may be read
// on any thread; `owner` is read and written on the UI thread only.
struct Shared {
  std::atomic<bool> gone{false};  // the window has been destroyed
  std::mutex notesLock;           // writing the notes file against deleting it with the window
  Text runDirectory;
  std::atomic<double> totalSize{0.0};
  std::atomic<bool> installing{false};
  UpdaterWindow* owner = nullptr;
};

std::atomic<int> g_backgroundRoutines{0};

// Hands work to the UI thread. It runs there only while the window still exists.
void Post(const std::shared_ptr<Shared>& shared, std::function<void(UpdaterWindow&)> work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  QMetaObject::invokeMethod(
      app,
      [shared, work = std::move(work)] {
        if (shared->gone.load() || shared->owner == nullptr) return;
        work(*shared->owner);
      },
      Qt::QueuedConnection);
}

// Sleeps on a background thread; false as soon as the window has gone.
bool WaitUnlessGone(const Shared& shared, int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!shared.gone.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        deadline - now, std::chrono::milliseconds(10)));
  }
  return false;
}

// Starts a background routine on a new thread; false when no thread could be had.
bool StartRoutine(std::function<void()> routine) {
  ++g_backgroundRoutines;
  try {
    std::thread([routine = std::move(routine)] {
      routine();
      --g_backgroundRoutines;
    }).detach();
    return true;
  } catch (...) {
    --g_backgroundRoutines;
    return false;
  }
}

// Lets the window handle its events for a while (the waits of the update button).
void WaitPumping(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

void EndProcess(int exitCode) {
  // Threads that still fetch or download are abandoned with the process.
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace

struct UpdaterWindow::Parts {
  Options options;
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();

  ui::SkinWindow* window = nullptr;  // owned; deleted after its elements
  std::unique_ptr<ui::List> statusList;
  std::unique_ptr<ui::Label> versionLabel;
  std::unique_ptr<ui::Label> sizeLabel;
  std::unique_ptr<ui::Label> progressLabel;
  std::unique_ptr<ui::ProgressBar> progressBar;
  std::unique_ptr<ui::Button> updateButton;
  std::unique_ptr<ui::Button> cancelButton;
  QTimer* timer = nullptr;  // a child of the window

  Text remoteVersion;
  Text localVersion;
  bool checkFinished = false;
  std::function<void()> checkFinishedHandler;

  int busy = 0;
  bool endPending = false;
  int pendingExitCode = 0;
  bool ended = false;
  int exitCode = 0;

  // Destroyed first (explicitly), while everything its handler reaches is intact.
  std::unique_ptr<DownloadFacility> downloads = std::make_unique<DownloadFacility>();
};

UpdaterWindow::UpdaterWindow() : UpdaterWindow(Options{}) {}

UpdaterWindow::UpdaterWindow(Options options) : parts_(std::make_unique<Parts>()) {
  parts_->options = std::move(options);
  parts_->shared->runDirectory = parts_->options.runDirectory
                                     ? common::AsText(*parts_->options.runDirectory)
                                     : platform::RunDirectory();
  parts_->shared->owner = this;
}

UpdaterWindow::~UpdaterWindow() {
  parts_->shared->gone = true;
  parts_->shared->owner = nullptr;
  DestroyWindow();
  // Stops a running task; a question it is waiting for is answered "give up" once the window
  // has gone.
  parts_->downloads.reset();
}

void UpdaterWindow::Load() {
  if (parts_->window != nullptr || parts_->ended || parts_->shared->gone) return;
  parts_->window = new ui::SkinWindow(kWidth, kHeight, 50, 50);
  parts_->window->setWindowTitle(ui::ToQ("Kestrune更新"_gbk));
  OnUpdaterWindowCreated();
  if (parts_->window != nullptr) parts_->window->show();
}

ui::SkinWindow* UpdaterWindow::Window() const { return parts_->window; }
ui::List* UpdaterWindow::StatusList() const { return parts_->statusList.get(); }
ui::Label* UpdaterWindow::VersionLabel() const { return parts_->versionLabel.get(); }
ui::Label* UpdaterWindow::SizeLabel() const { return parts_->sizeLabel.get(); }
ui::Label* UpdaterWindow::ProgressLabel() const { return parts_->progressLabel.get(); }
ui::ProgressBar* UpdaterWindow::ProgressBar() const { return parts_->progressBar.get(); }
ui::Button* UpdaterWindow::UpdateButton() const { return parts_->updateButton.get(); }
ui::Button* UpdaterWindow::CancelButton() const { return parts_->cancelButton.get(); }
QTimer* UpdaterWindow::ProgressTimer() const { return parts_->timer; }
const Text& UpdaterWindow::RunDirectory() const { return parts_->shared->runDirectory; }
const Text& UpdaterWindow::RemoteVersion() const { return parts_->remoteVersion; }
const Text& UpdaterWindow::LocalVersion() const { return parts_->localVersion; }
double UpdaterWindow::TotalSize() const { return parts_->shared->totalSize.load(); }
DownloadFacility& UpdaterWindow::Downloads() { return *parts_->downloads; }
bool UpdaterWindow::CheckFinished() const { return parts_->checkFinished; }
void UpdaterWindow::SetCheckFinishedHandler(std::function<void()> handler) {
  parts_->checkFinishedHandler = std::move(handler);
}
bool UpdaterWindow::Installing() const { return parts_->shared->installing.load(); }
bool UpdaterWindow::Ended() const { return parts_->ended; }
int UpdaterWindow::ExitCode() const { return parts_->exitCode; }
int UpdaterWindow::BackgroundRoutines() { return g_backgroundRoutines.load(); }

void UpdaterWindow::OnUpdaterWindowCreated() {
  Parts& p = *parts_;
  ui::SkinWindow* window = p.window;

  const std::string skin = platform::ReadFileBytes("皮肤图片\\0.png"_gbk).value_or(std::string());
  window->BindSkin(skin, std::nullopt, ui::kCaptionTitle, /*sizingBorder=*/false);
  window->SetEventCallback(
      [this](int elementId, int eventCode) { OnUpdaterWindowEvent(elementId, eventCode); });
  // Closed by other means than "取消" (the system's close): UpDate ends the same way. The end
  // runs after the close event has returned.
  window->SetCanCloseHandler([this] {
    std::shared_ptr<Shared> shared = parts_->shared;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [shared] {
          if (shared->owner != nullptr) shared->owner->EndProgram(0);
        },
        Qt::QueuedConnection);
    return true;
  });

  // The created event waits for the page.
  const Text page = common::AsText(common::FetchPage(common::ReleasePageUrl()));
  const Text remote = velmora::RemoteVersionOf(page);

  p.statusList = std::make_unique<ui::List>(window, 9, 85, 297, 176);
  p.statusList->SetColour(window->ThemeColour());
  p.statusList->AddColumn("更新状态信息："_gbk, 291);

  p.versionLabel = std::make_unique<ui::Label>(window, "当前版本："_gbk + velmora::ReadLocalVersion(),
                                               100, 40, 110, 24);
  p.versionLabel->SetFont("微软雅黑"_gbk);

  p.sizeLabel = std::make_unique<ui::Label>(window, Text(), 16, 334, 136, 20);
  p.sizeLabel->SetTextColour(ui::Rgba(0, 0, 255, 254));
  p.sizeLabel->SetFont("微软雅黑"_gbk);
  p.progressLabel = std::make_unique<ui::Label>(window, Text(), 161, 334, 136, 20);
  p.progressLabel->SetTextColour(ui::Rgba(255, 0, 0, 254));
  p.progressLabel->SetFont("微软雅黑"_gbk);
  p.progressBar = std::make_unique<ui::ProgressBar>(window, 16, 305, 281, 20);
  p.progressBar->SetPosition(0);

  p.updateButton = std::make_unique<ui::Button>(window, "立即更新"_gbk, 230, 270, 70, 24);
  p.updateButton->SetFont("微软雅黑"_gbk);
  p.cancelButton = std::make_unique<ui::Button>(window, "取消"_gbk, 12, 270, 70, 24);
  p.cancelButton->SetFont("微软雅黑"_gbk);

  // "时钟1" stays idle until a download starts.
  p.timer = new QTimer(window);
  p.timer->setObjectName(QString::fromUtf8("时钟1"));
  p.timer->setInterval(0);
  QObject::connect(p.timer, &QTimer::timeout, window, [this] { ShowProgress(); });

  p.remoteVersion = remote;
  p.localVersion = velmora::ReadLocalVersion();
  p.updateButton->SetEnabled(UpdateButtonEnabled(p.localVersion, p.remoteVersion));

  window->SetTitle("Kestrune更新"_gbk);
  StartCheckRelease();
}

void UpdaterWindow::OnUpdaterWindowEvent(int elementId, int eventCode) {
  Parts& p = *parts_;
  if (eventCode != ui::kEventClick || p.window == nullptr || p.endPending) return;
  Enter();
  if (p.updateButton && elementId == p.updateButton->Id()) {
    p.window->setFixedHeight(kDownloadHeight);
    OnUpdateClicked();
  } else if (p.cancelButton && elementId == p.cancelButton->Id()) {
    // The window is destroyed once the click has been handled, not inside its own button.
    std::shared_ptr<Shared> shared = p.shared;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [shared] {
          if (shared->owner != nullptr) shared->owner->EndProgram(0);
        },
        Qt::QueuedConnection);
  }
  Leave();
}

void UpdaterWindow::OnUpdaterWindowDestroyed() {
  Shared& shared = *parts_->shared;
  std::lock_guard<std::mutex> lock(shared.notesLock);
  shared.gone = true;
  platform::DeleteFileAt(NotesPath(shared.runDirectory));
}

void UpdaterWindow::StartCheckRelease() {
  std::shared_ptr<Shared> shared = parts_->shared;
  StartRoutine([shared] {
    ReleaseCheckHooks hooks;
    hooks.wait = [&shared](int milliseconds) { return WaitUnlessGone(*shared, milliseconds); };
    hooks.appendRow = [&shared](const Text& row) {
      Post(shared, [row](UpdaterWindow& self) { self.AppendStatusRow(row); });
    };
    hooks.storeNotes = [&shared](const std::string& notes) {
      // Never written once the window has gone (its destroyed event deletes the file).
      std::lock_guard<std::mutex> lock(shared->notesLock);
      if (shared->gone.load()) return false;
      platform::WriteFileBytes(NotesPath(shared->runDirectory), notes);
      return true;
    };
    const ReleaseCheckEnd end = RunReleaseCheck(hooks);
    if (end == ReleaseCheckEnd::Stopped) return;
    if (end != ReleaseCheckEnd::NotesStored) {
      Post(shared, [](UpdaterWindow& self) { self.FinishCheck(); });
      return;
    }
    // ShowNotes: the list is replaced by the lines of the notes file.
    const bool started = StartRoutine([shared] {
      const std::string bytes =
          platform::ReadFileBytes(NotesPath(shared->runDirectory)).value_or(std::string());
      std::vector<Text> items = NotesItems(bytes);
      Post(shared, [items = std::move(items)](UpdaterWindow& self) {
        self.ShowNotesRows(items);
        self.FinishCheck();
      });
    });
    if (!started) Post(shared, [](UpdaterWindow& self) { self.FinishCheck(); });
  });
}

void UpdaterWindow::AppendStatusRow(const Text& row) {
  ui::List* list = parts_->statusList.get();
  if (list == nullptr) return;
  const int n = list->AppendRow();
  list->SetCell(n, 1, row);
}

void UpdaterWindow::ShowNotesRows(const std::vector<Text>& items) {
  ui::List* list = parts_->statusList.get();
  if (list == nullptr) return;
  list->RemoveAll();
  for (const Text& item : items) {
    list->AppendRow();
    list->SetCell(list->Count(), 1, item);
  }
}

void UpdaterWindow::FinishCheck() {
  if (parts_->checkFinished) return;
  parts_->checkFinished = true;
  if (parts_->checkFinishedHandler) {
    std::function<void()> handler = parts_->checkFinishedHandler;
    handler();
  }
}

void UpdaterWindow::OnUpdateClicked() {
  const std::shared_ptr<Shared> shared = parts_->shared;
  const Text page = common::AsText(common::FetchPage(common::ReleasePageUrl()));
  const Text address = ShareAddress(PackageShareValue(page));
  const Text record = ResolveShareLink(address);
  if (shared->gone.load()) return;
  WaitPumping(100);
  if (shared->gone.load()) return;  // "取消" while waiting
  StartDownload(record, ArchivePath(shared->runDirectory));
}

void UpdaterWindow::StartDownload(const Text& address, const Text& target) {
  Parts& p = *parts_;
  DownloadSettings settings;
  settings.taskKind = 4096;
  settings.connections = 5;
  settings.connectTimeoutMs = 5000;
  settings.receiveTimeoutMs = 10000;
  settings.sendTimeoutMs = 5001;
  settings.stopWaitMs = 1000;
  settings.receiveBlock = 10240;
  // Each task carries its own record, for the checks of a leftover archive when it ends.
  settings.eventHandler = [this, record = common::AsText(address)](const DownloadEvent& event) {
    return OnDownloadEvent(event, record);
  };

  if (p.timer != nullptr) {
    p.timer->setInterval(1000);
    if (!p.timer->isActive()) p.timer->start();
  }

  settings.address = address;
  settings.target = target;
  // A task that has ended is still being installed: no download may write the archive now.
  if (p.shared->installing.load()) return;
  if (!p.downloads->Running()) p.shared->totalSize = 0.0;
  p.downloads->AddTask(settings);
}

void UpdaterWindow::ShowProgress() {
  Parts& p = *parts_;
  if (p.progressLabel == nullptr || p.progressBar == nullptr) return;
  const ProgressView view = ProgressOf(p.downloads->DoneLength(), p.shared->totalSize.load());
  p.progressLabel->SetText(view.label);
  p.progressBar->SetPosition(view.position);
}

int UpdaterWindow::OnDownloadEvent(const DownloadEvent& event, const Text& linkRecord) {
  const std::shared_ptr<Shared> shared = parts_->shared;
  switch (event.code) {
    case kEventTotalSize: {
      const double size = static_cast<double>(event.value);
      shared->totalSize = size;
      Post(shared, [size](UpdaterWindow& self) {
        if (self.parts_->sizeLabel) self.parts_->sizeLabel->SetText(SizeLabelText(size));
      });
      return 0;
    }
    case kEventTargetExists: {
      // The question is asked on the UI thread; this thread waits for the answer, and gives the
      // task up when the window goes away meanwhile.
      auto answer = std::make_shared<std::atomic<int>>(-1);
      Post(shared, [answer](UpdaterWindow& self) {
        self.Enter();
        answer->store(ui::MessageBox(self.parts_->window, "文件已存在,继续下载吗?"_gbk, 4,
                                     "提示："_gbk));
        self.Leave();
      });
      while (answer->load() < 0) {
        if (shared->gone.load()) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      return answer->load() == ui::kAnswerYes ? 0 : 1;
    }
    case kEventTaskEnded: {
      // Installing a large archive takes a while: it runs here, off the UI thread.
      shared->installing = true;
      DownloadOutcome outcome;
      if (event.outcome != nullptr) outcome = *event.outcome;
      const InstallVerdict verdict = InstallDownloadedArchive(
          outcome, linkRecord, ArchivePath(shared->runDirectory), shared->runDirectory);
      const bool installed = verdict.installed;
      Post(shared, [installed](UpdaterWindow& self) { self.FinishInstall(installed); });
      if (shared->gone.load()) shared->installing = false;
      return 0;
    }
    default:
      return 0;
  }
}

void UpdaterWindow::FinishInstall(bool installed) {
  Parts& p = *parts_;
  Enter();
  p.shared->installing = false;
  if (installed) {
    const Text commandLine = VelmoraCommandLine(p.shared->runDirectory);
    if (p.options.startProgram) {
      p.options.startProgram(commandLine);
    } else {
      platform::StartProgram(commandLine);
    }
    ui::MessageBox(p.window, "安装完成！请使用！"_gbk, 0, "提示："_gbk);
    EndProgram(0);
  } else {
    // Nothing was installed and the archive is gone; the player may try again.
    ui::MessageBox(p.window, "更新失败,请稍后重试！"_gbk, 0, "提示："_gbk);
    if (p.updateButton) p.updateButton->SetEnabled(true);
  }
  Leave();
}

void UpdaterWindow::Enter() { ++parts_->busy; }

void UpdaterWindow::Leave() {
  if (--parts_->busy == 0 && parts_->endPending && !parts_->ended) CompleteEnd();
}

void UpdaterWindow::EndProgram(int exitCode) {
  Parts& p = *parts_;
  if (p.ended || p.endPending) return;
  p.endPending = true;
  p.pendingExitCode = exitCode;
  // The window goes at once for the user and for the threads; it is deleted once no handler of
  // it runs any more.
  if (p.window != nullptr) {
    OnUpdaterWindowDestroyed();
    p.window->hide();
  }
  if (p.busy == 0) CompleteEnd();
}

void UpdaterWindow::CompleteEnd() {
  Parts& p = *parts_;
  DestroyWindow();
  p.ended = true;
  p.exitCode = p.pendingExitCode;
  if (p.options.endProgram) {
    p.options.endProgram(p.exitCode);
    return;
  }
  EndProcess(p.exitCode);
}

void UpdaterWindow::DestroyWindow() {
  Parts& p = *parts_;
  if (p.window == nullptr) return;
  OnUpdaterWindowDestroyed();
  p.statusList.reset();
  p.versionLabel.reset();
  p.sizeLabel.reset();
  p.progressLabel.reset();
  p.progressBar.reset();
  p.updateButton.reset();
  p.cancelButton.reset();
  p.timer = nullptr;
  delete p.window;
  p.window = nullptr;
}

}  // namespace update
