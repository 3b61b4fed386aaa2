#include "velmora/cleanup/cleanup_window.h"

#include <QByteArray>
#include <QCursor>
#include <QImage>
#include <QTimer>
#include <utility>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "ui/dialogs.h"
#include "velmora/cleanup/file_actions.h"

namespace velmora {

using common::Text;
using namespace common::literals;

namespace {

CleanupWindow* g_instance = nullptr;

const Text& NivraTitle() {
  static const Text title = "Nivra提示："_gbk;
  return title;
}

// The file menu's items, in order ("-" separates).
std::vector<Text> FileMenuItems() {
  return {"复制文件名称"_gbk, "-", "复文件至桌面"_gbk, "移文件至桌面"_gbk, "-", "清空文件列表"_gbk,
          "-", "逐个文件清理"_gbk, "-", "清理全部文件"_gbk};
}

constexpr ui::Colour kWhite = 0xFFFFFF;
constexpr ui::Colour kBlue = 0xFF0000;  // colour reference: blue in the high byte
constexpr ui::Colour kRed = 0x0000FF;
constexpr int kCaptionFlags = 102;  // title text, close, menu, skin
constexpr ui::Colour kPathText = 0x00402A1E;  // dark slate, for skins whose theme colour is pale

// The path box writes in the theme colour unless that colour would not read on its white.
ui::Colour PathTextColour(ui::Colour theme) {
  const int red = static_cast<int>(theme & 0xFF);
  const int green = static_cast<int>((theme >> 8) & 0xFF);
  const int blue = static_cast<int>((theme >> 16) & 0xFF);
  const int luminance = (299 * red + 587 * green + 114 * blue) / 1000;
  return luminance > 150 ? kPathText : (theme & 0x00FFFFFF);
}

}  // namespace

struct CleanupWindow::Parts {
  // The window first, so that the elements on it go before it.
  std::unique_ptr<ui::SkinWindow> window;
  std::unique_ptr<ui::List> list;
  std::unique_ptr<ui::Button> browse;
  std::unique_ptr<ui::Button> contact;
  std::unique_ptr<ui::Button> packageScan;
  std::unique_ptr<ui::Button> crossServer;
  std::unique_ptr<ui::EditBox> path;
  std::unique_ptr<ui::Picture> mascot;
  std::unique_ptr<ui::ProgressBar> progress;

  std::unique_ptr<ui::PopupMenu> skinMenu;
  std::unique_ptr<ui::PopupMenu> mainMenu;
  std::unique_ptr<ui::PopupMenu> fileMenu;
  std::unique_ptr<ui::PopupMenu> pathMenu;

  NameTables tables;
  std::string lastChosenPicture;  // the picture most recently chosen as the skin
  bool hideOnClose = false;
  bool busy = false;
  std::vector<Text> waitingDrops;  // drops that arrived while a scan or a drop ran
};

CleanupWindow::CleanupWindow() : parts_(std::make_unique<Parts>()) { BuildMenus(); }

CleanupWindow::~CleanupWindow() {
  if (g_instance == this) g_instance = nullptr;
}

CleanupWindow* CleanupWindow::Load() {
  if (g_instance) return g_instance;
  std::unique_ptr<CleanupWindow> loaded(new CleanupWindow());
  g_instance = loaded.get();
  if (!loaded->OnCleanupWindowCreated()) {
    g_instance = nullptr;
    return nullptr;  // the game runs: the window is gone
  }
  return loaded.release();
}

CleanupWindow* CleanupWindow::Instance() { return g_instance; }

void CleanupWindow::Unload() { delete g_instance; }

ui::SkinWindow* CleanupWindow::Window() { return parts_->window.get(); }
ui::List* CleanupWindow::PackageList() { return parts_->list.get(); }
ui::EditBox* CleanupWindow::PathBox() { return parts_->path.get(); }
ui::ProgressBar* CleanupWindow::ScanProgress() { return parts_->progress.get(); }
ui::Button* CleanupWindow::BrowseButton() { return parts_->browse.get(); }
ui::Button* CleanupWindow::ContactButton() { return parts_->contact.get(); }
ui::Button* CleanupWindow::PackageScanButton() { return parts_->packageScan.get(); }
ui::Button* CleanupWindow::CrossServerButton() { return parts_->crossServer.get(); }
ui::Picture* CleanupWindow::Mascot() { return parts_->mascot.get(); }
ui::PopupMenu* CleanupWindow::FileMenu() { return parts_->fileMenu.get(); }
ui::PopupMenu* CleanupWindow::PathMenu() { return parts_->pathMenu.get(); }
ui::PopupMenu* CleanupWindow::SkinMenu() { return parts_->skinMenu.get(); }
ui::PopupMenu* CleanupWindow::MainMenu() { return parts_->mainMenu.get(); }
const NameTables& CleanupWindow::Tables() const { return parts_->tables; }

void CleanupWindow::SetHideOnClose(bool hide) { parts_->hideOnClose = hide; }
bool CleanupWindow::HidesOnClose() const { return parts_->hideOnClose; }
bool CleanupWindow::Busy() const { return parts_->busy; }

Text CleanupWindow::ContactAddress() { return "https://velmora.example.org/contact"; }

Text CleanupWindow::AboutText() {
  return "Velmora 清理工具 · Nivra 出品，愿你的游戏目录清清爽爽。"_gbk + "\r\n" +
         "联系作者："_gbk + ContactAddress() + "\r\n" + "本软件采用Ex_DUI模块制作界面。"_gbk;
}

Text CleanupWindow::BrowseTitle() {
  return "               【浏览游戏目录】\r\n      选择『地下城与勇士\\ImagePacks2』目录"_gbk;
}

void CleanupWindow::BuildMenus() {
  Parts& p = *parts_;
  // A chosen item runs later, from the event loop: by then this window may have been unloaded.
  auto run = [this](void (CleanupWindow::*handler)()) -> std::function<void()> {
    return [this, handler] {
      if (g_instance == this) (this->*handler)();
    };
  };

  p.skinMenu = std::make_unique<ui::PopupMenu>("lumo");
  p.skinMenu->AddItem("自定义皮肤"_gbk, run(&CleanupWindow::OnCustomSkin));

  p.mainMenu = std::make_unique<ui::PopupMenu>("rask");
  p.mainMenu->AddItem("关于"_gbk, run(&CleanupWindow::OnAbout));

  p.fileMenu = std::make_unique<ui::PopupMenu>("pelq");
  const std::vector<void (CleanupWindow::*)()> fileActions = {
      &CleanupWindow::CopyPackageName,      nullptr,
      &CleanupWindow::CopyPackageToDesktop, &CleanupWindow::MovePackageToDesktop,
      nullptr,                              &CleanupWindow::ClearPackageList,
      nullptr,                              &CleanupWindow::DeleteSelectedPackages,
      nullptr,                              &CleanupWindow::DeleteAllPackages};
  const std::vector<Text> fileItems = FileMenuItems();
  for (std::size_t i = 0; i < fileItems.size(); ++i) {
    if (fileItems[i] == "-") {
      p.fileMenu->AddSeparator();
    } else {
      p.fileMenu->AddItem(fileItems[i], run(fileActions[i]));
    }
  }

  p.pathMenu = std::make_unique<ui::PopupMenu>("路径"_gbk);
  p.pathMenu->AddItem("正式服路径"_gbk, run(&CleanupWindow::SelectLiveServerFolder));
  p.pathMenu->AddSeparator();
  p.pathMenu->AddItem("体验服路径"_gbk, run(&CleanupWindow::SelectTestServerFolder));
}

bool CleanupWindow::OnCleanupWindowCreated() {
  Parts& p = *parts_;
  p.window = std::make_unique<ui::SkinWindow>(718, 420, 50, 50);
  ui::SkinWindow* window = p.window.get();

  // The skin and its caption buttons.
  window->BindSkin(platform::ReadFileBytes("皮肤图片\\0.png"_gbk).value_or(std::string()), kWhite,
                   kCaptionFlags);
  window->SetCaptionTip(ui::kCaptionClose, "关闭"_gbk);
  window->SetCaptionTip(ui::kCaptionSkin, "换肤"_gbk);
  window->SetCaptionTip(ui::kCaptionMenu, "菜单"_gbk);
  window->SetWindowSetting(6);
  window->SetEventCallback([this](int element, int code) { OnCleanupWindowEvent(element, code); });
  window->SetCanCloseHandler([this] {
    if (!parts_->hideOnClose) return true;
    parts_->window->hide();
    return false;
  });

  const ui::Colour theme = window->ThemeColour();

  // The package list.
  p.list = std::make_unique<ui::List>(window, 9, 70, 700, 309);
  p.list->SetColour(theme);
  p.list->AddColumn(" 当前显示非官方文件名称："_gbk, 380);
  p.list->AddColumn(" 智能-ImagePacks2文件列表-名称核对"_gbk, 210);
  p.list->AddColumn("文件修改时间"_gbk, 100, true);
  p.list->SetRightClickHandler([this] { OnPackageListRightClick(); });

  // The four buttons.
  p.browse = std::make_unique<ui::Button>(window, "浏览目录"_gbk, 600, 38, 90, 22);
  p.browse->SetTextColour(theme);
  p.contact = std::make_unique<ui::Button>(window, "联系作者"_gbk, 630, 387, 71, 22);
  p.contact->SetTextColour(kBlue);
  p.contact->SetTip("联系作者"_gbk);
  p.packageScan = std::make_unique<ui::Button>(window, "非官方文件清理"_gbk, 12, 387, 100, 22);
  p.packageScan->SetTextColour(kRed);
  p.packageScan->SetTip("清理非官方文件"_gbk);
  p.crossServer = std::make_unique<ui::Button>(window, "跨服跳跃清理"_gbk, 124, 387, 100, 22);
  p.crossServer->SetTextColour(kRed);
  p.crossServer->SetTip("清理任何服"_gbk);

  // The path box: the game folder of the registry, then every "/" as "\".
  p.path = std::make_unique<ui::EditBox>(
      window, ServerPackageFolder(platform::ReadRegistryText(LiveServerPathValue())), 195, 39, 390, 20);
  p.path->SetColours(PathTextColour(theme), kWhite);

  p.mascot = std::make_unique<ui::Picture>(
      window, platform::ReadFileBytes("皮肤图片\\Tamsel启动.png"_gbk).value_or(std::string()), 60, 34,
      90, 30);

  p.progress = std::make_unique<ui::ProgressBar>(window, 236, 385, 370, 24);
  p.progress->SetVisible(false);

  // No cleaning while the game runs.
  if (platform::IsProcessRunning("DNF.exe")) {
    ui::MessageBox(window, "游戏正在进行,清理功能无法使用！"_gbk, 0, NivraTitle());
    return false;
  }

  // The drop is taken after the drop event has returned, so that the boxes it may show never run
  // inside the drag-and-drop exchange with the file manager.
  window->SetFilesDroppedHandler([this](const Text& paths) {
    QTimer::singleShot(0, parts_->window.get(), [this, paths] { OnFilesDropped(paths); });
  });

  const Text version =
      common::AsText(platform::ReadFileBytes("皮肤图片\\版本.txt"_gbk).value_or(std::string()));
  window->SetTitle("  Velmora " + version);
  window->SetCursorFromFile("皮肤图片\\01.cur"_gbk);

  // The window shows while the tables load; the scans wait for them.
  window->show();
  SetBusy(true);
  p.tables.LoadNameCheckTable(NameCheckTablePath(), ui::PumpEvents);
  p.tables.LoadOfficialNameList(OfficialNameListPath(), ui::PumpEvents);
  SetBusy(false);
  return true;
}

void CleanupWindow::SetBusy(bool busy) {
  Parts& p = *parts_;
  p.busy = busy;
  if (p.packageScan) p.packageScan->SetEnabled(!busy);
  if (p.crossServer) p.crossServer->SetEnabled(!busy);
  for (const Text& item : FileMenuItems()) {
    if (item != "-") p.fileMenu->SetItemEnabled(item, !busy);
  }
  if (!busy && !p.waitingDrops.empty() && p.window) {
    // A drop that came while the window was busy is taken now, after the running work.
    for (Text& paths : std::exchange(p.waitingDrops, {})) {
      QTimer::singleShot(0, p.window.get(), [this, paths] { OnFilesDropped(paths); });
    }
  }
}

void CleanupWindow::OnCleanupWindowEvent(int element, int code) {
  Parts& p = *parts_;
  if (code == ui::kEventCaptionPress) {
    if (p.window->CaptionFlag(element) == ui::kCaptionMenu) PopupAtCursor(p.mainMenu.get());
    if (p.window->CaptionFlag(element) == ui::kCaptionSkin) PopupAtCursor(p.skinMenu.get());
    return;
  }
  if (code != ui::kEventClick) return;
  if (element == p.browse->Id()) {
    p.path->SetText(ui::ChooseFolder(p.window.get(), BrowseTitle()));
  } else if (element == p.contact->Id()) {
    ui::OpenUrl(ContactAddress());
  } else if (element == p.packageScan->Id()) {
    PackageScan();
  } else if (element == p.crossServer->Id()) {
    CrossServerScan();
  }
}

void CleanupWindow::PopupAtCursor(ui::PopupMenu* menu) {
  menu->Popup(QCursor::pos() + QPoint(3, 3));
}

void CleanupWindow::OnPackageListRightClick() {
  Parts& p = *parts_;
  // The chosen item runs only after this routine returns, so the two tests see the same
  // selection and exactly one menu opens.
  int row = p.list->CurrentRow();
  if (row > 0 && p.list->IsSelected(row)) p.fileMenu->Popup(QCursor::pos());
  row = p.list->CurrentRow();
  if (row <= 0 || !p.list->IsSelected(row)) p.pathMenu->Popup(QCursor::pos());
}

void CleanupWindow::ShowRows(const std::vector<PackageRow>& rows) {
  std::vector<std::vector<Text>> cells;
  cells.reserve(rows.size());
  for (const PackageRow& row : rows) cells.push_back({row.name, row.label, row.date});
  ui::List& list = *parts_->list;
  list.SuspendRedraw();
  list.RemoveAll();
  list.AppendRows(std::move(cells));
  list.ResumeRedraw();
}

void CleanupWindow::PackageScan() {
  Parts& p = *parts_;
  if (p.busy) return;
  SetBusy(true);
  const Text folder = p.path->GetText();
  p.list->RemoveAll();
  const ScanResult result = RunPackageScan(folder, p.tables, ui::PumpEvents);
  if (result.officialListMissing) {
    // Without the official list every package of the game would look unofficial.
    p.list->RemoveAll();
    ui::MessageBox(p.window.get(), OfficialListFailedText(), 0, NivraTitle());
  } else {
    ShowRows(result.rows);
    ui::MessageBox(p.window.get(), ScanReportText(p.list->Count()), 0, ReportTitle());
  }
  SetBusy(false);
}

void CleanupWindow::CrossServerScan() {
  Parts& p = *parts_;
  if (p.busy) return;
  SetBusy(true);
  const Text folder = p.path->GetText();
  p.list->RemoveAll();
  p.progress->SetPosition(0);
  p.progress->SetVisible(true);
  const ScanResult result = RunCrossServerScan(
      folder, p.tables, [this](double percent) { parts_->progress->SetPosition(percent); },
      ui::PumpEvents);
  ShowRows(result.rows);
  ui::MessageBox(p.window.get(), ScanReportText(p.list->Count()), 0, ReportTitle());
  p.progress->SetVisible(false);
  SetBusy(false);
}

// --- The file menu -------------------------------------------------------------------------

void CleanupWindow::CopyPackageName() {
  Parts& p = *parts_;
  const int row = p.list->CurrentRow();
  if (p.busy || row <= 0) return;
  ui::SetClipboardText(p.list->Cell(row, 1));
}

void CleanupWindow::CopyPackageToDesktop() {
  Parts& p = *parts_;
  const int row = p.list->CurrentRow();
  if (p.busy || row <= 0) return;
  const Text name = p.list->Cell(row, 1);
  CopyPackage(PackagePath(p.path->GetText(), name), DesktopPackagePath(name));
}

void CleanupWindow::MovePackageToDesktop() {
  Parts& p = *parts_;
  const int row = p.list->CurrentRow();
  if (p.busy || row <= 0) return;
  const Text name = p.list->Cell(row, 1);
  const MoveOutcome outcome = MovePackage(PackagePath(p.path->GetText(), name), DesktopPackagePath(name));
  // The row goes only when the package has left the folder.
  if (outcome.leftFolder) p.list->DeleteRow(row);
}

void CleanupWindow::ClearPackageList() {
  if (parts_->busy) return;
  parts_->list->RemoveAll();
}

void CleanupWindow::DeleteSelectedPackages() { DeleteRows(true); }
void CleanupWindow::DeleteAllPackages() { DeleteRows(false); }

void CleanupWindow::DeleteRows(bool selectedOnly) {
  Parts& p = *parts_;
  if (p.busy) return;
  const Text question = selectedOnly ? "逐个文件清理,删除文件后无法恢复,确定删除吗？"_gbk
                                     : "全部文件清理,删除文件后无法恢复,确定删除吗？"_gbk;
  if (ui::MessageBox(p.window.get(), question, 4, NivraTitle()) != ui::kAnswerYes) return;

  ui::List& list = *p.list;
  const int count = list.Count();
  std::vector<bool> selected(static_cast<std::size_t>(count) + 1, !selectedOnly);
  std::vector<bool> wasSelected(static_cast<std::size_t>(count) + 1, false);
  for (int row : list.SelectedRows()) {
    wasSelected[static_cast<std::size_t>(row)] = true;
    if (selectedOnly) selected[static_cast<std::size_t>(row)] = true;
  }

  // From the last row to the first. A package that could not be deleted keeps its row; one
  // that is gone loses it.
  const Text folder = p.path->GetText();
  std::vector<bool> goes(static_cast<std::size_t>(count) + 1, false);
  bool anyGoes = false;
  for (int row = count; row >= 1; --row) {
    if (!selected[static_cast<std::size_t>(row)]) continue;
    if (RowGoes(DeletePackageFile(PackagePath(folder, list.Cell(row, 1))))) {
      goes[static_cast<std::size_t>(row)] = true;
      anyGoes = true;
    }
  }
  if (!anyGoes) return;

  // The list is rebuilt from the rows that stay in one step: taking thousands of rows out one
  // by one costs the list far more than filling it again.
  const int columns = list.ColumnCount();
  std::vector<std::vector<Text>> kept;
  std::vector<int> keptSelected;
  for (int row = 1; row <= count; ++row) {
    if (goes[static_cast<std::size_t>(row)]) continue;
    std::vector<Text> cells;
    for (int column = 1; column <= columns; ++column) cells.push_back(list.Cell(row, column));
    kept.push_back(std::move(cells));
    if (wasSelected[static_cast<std::size_t>(row)]) keptSelected.push_back(static_cast<int>(kept.size()));
  }
  list.SuspendRedraw();
  list.RemoveAll();
  list.AppendRows(std::move(kept));
  for (int row : keptSelected) list.SetSelected(row, true);
  list.ResumeRedraw();
}

// --- The path menu and dropped files -------------------------------------------------------

void CleanupWindow::SelectLiveServerFolder() {
  parts_->path->SetText(ServerPackageFolder(platform::ReadRegistryText(LiveServerPathValue())));
}

void CleanupWindow::SelectTestServerFolder() {
  parts_->path->SetText(ServerPackageFolder(platform::ReadRegistryText(TestServerPathValue())));
}

void CleanupWindow::OnFilesDropped(const Text& paths) {
  Parts& p = *parts_;
  if (p.busy) {
    p.waitingDrops.push_back(paths);
    return;
  }
  SetBusy(true);
  ui::List& list = *p.list;
  list.RemoveAll();
  int added = 0;
  int failed = 0;
  for (const Text& path : SplitDroppedPaths(paths)) {
    if (!IsPackagePath(path)) {
      ui::SystemMessageBox(NotPackageCaption(), NotPackageText());
      ++failed;
    } else {
      const Text folder = p.path->GetText();
      // Only a package that is in the folder afterwards gets a row and counts as added.
      if (ui::CopyFileIntoFolder(p.window.get(), path, folder) == ui::CopyOutcome::Copied) {
        const Text name = DroppedName(path);
        const int row = list.AppendRow();
        list.SetCell(row, 1, name);
        list.SetCell(row, 2, DroppedNoLabelText());
        list.SetCell(row, 3, platform::ModifiedDateText(PackagePath(p.path->GetText(), name)));
        ++added;
      } else {
        ++failed;
      }
    }
    ui::PumpEvents();
  }
  ui::MessageBox(p.window.get(), DropReportText(added, failed));
  SetBusy(false);
}

// --- The skin menu and the main menu -------------------------------------------------------

void CleanupWindow::OnCustomSkin() {
  Parts& p = *parts_;
  const std::optional<Text> chosen = ui::ChooseOpenFile(p.window.get(), SkinPictureFilter());
  if (!chosen || chosen->empty()) return;
  const std::optional<std::string> bytes = platform::ReadFileBytes(*chosen);
  // A file that is no picture would leave every later start without a skin: the skin stays.
  if (!bytes || QImage::fromData(QByteArray::fromRawData(bytes->data(), static_cast<qsizetype>(bytes->size())))
                    .isNull()) {
    return;
  }
  p.lastChosenPicture = *bytes;
  // Kept for the next start beside the program; this run shows the picture either way.
  StoreSkinPicture(*chosen);
  p.window->Redraw(p.lastChosenPicture);
  // The elements drawn in the theme colour follow the new picture.
  const ui::Colour theme = p.window->ThemeColour();
  p.list->SetColour(theme);
  p.browse->SetTextColour(theme);
  p.path->SetColours(PathTextColour(theme), kWhite);
}

void CleanupWindow::OnAbout() {
  ui::MessageBox(parts_->window.get(), AboutText(), 0, NivraTitle());
}

}  // namespace velmora
