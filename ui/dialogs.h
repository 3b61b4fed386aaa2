// Modal dialogs of the skin layer and the system, with the seams that let a test answer them.
//
// Without an answerer the real dialog opens. A test installs an answerer; every dialog asked for
// is then recorded (kind, owner, title, text, buttons) and answered by it instead.
#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"

namespace ui {

using common::Text;

// Button sets of the skinned message box, left to right, with the numbers they return:
// 0: 确认 (0); 1: 确认 (0), 取消 (1); 2: 放弃 (2), 重试 (3), 忽略 (4); 3: 是 (5), 否 (6), 取消 (1);
// 4: 是 (5), 否 (6); 5: 重试 (3), 取消 (1). Closing the box without a button returns 1.
struct MessageButton {
  Text text;
  int result;
};
std::vector<MessageButton> MessageButtons(int buttonSet);

constexpr int kAnswerOk = 0;
constexpr int kAnswerCancel = 1;  // also: closed without a button
constexpr int kAnswerYes = 5;
constexpr int kAnswerNo = 6;

// The skinned message box: modal, centred on the screen over its owner (disabled meanwhile).
// The first button is the default; Enter presses it, Esc closes the box. Default title "提示：".
// Called from another thread, the box opens on the user-interface thread and the caller waits.
int MessageBox(QWidget* owner, const Text& text, int buttonSet = 0, const Text& title = {});
Text DefaultMessageTitle();  // "提示："

// The plain system message box (one OK button, no owner).
void SystemMessageBox(const Text& caption, const Text& text);

// The folder chooser with an edit field; returns the chosen folder as a program path text, or an
// empty text when cancelled.
Text ChooseFolder(QWidget* owner, const Text& title);

// The open-file dialog. The filter is in the system's form "caption|*.a;*.b". Returns the chosen
// file as a program path text, or nothing when cancelled.
std::optional<Text> ChooseOpenFile(QWidget* owner, const Text& filter);

// The shell copy of a dropped file into a folder: asks with the skinned box before it replaces a
// file of the same name and shows a progress dialog, which the user can cancel, for large files.
// Returns true when the file is in the folder afterwards as a complete copy.
enum class CopyOutcome { Copied, Declined, Cancelled, Failed };
CopyOutcome CopyFileIntoFolder(QWidget* owner, const Text& sourcePath, const Text& folder);

namespace testing {

enum class DialogKind { MessageBox, SystemBox, FolderChooser, FileDialog, ReplaceQuestion };

struct ShownDialog {
  DialogKind kind;
  QWidget* owner = nullptr;
  Text title;    // message title, system caption, chooser title, or dialog filter
  Text text;     // message text
  int buttonSet = 0;
};

// The answer given to a dialog: a button number for boxes, a path for choosers (empty: cancel).
struct DialogAnswer {
  int button = 0;
  std::optional<Text> path;
};

using Answerer = std::function<DialogAnswer(const ShownDialog&)>;

// Installs an answerer for all later dialogs (nullptr removes it).
void SetAnswerer(Answerer answerer);
// Every dialog asked for since the last ClearShown(), in order.
const std::vector<ShownDialog>& Shown();
void ClearShown();

// For tests that run the built programs as processes: when the environment variable
// VELMORA_TEST_DIALOG_LOG names a file, installs an answerer that answers every dialog with the
// first button of its set (choosers: cancel) and appends one line per dialog to that file, in
// UTF-8: the title, a tab, the text with line breaks written as "\n". Does nothing otherwise.
// Returns true when it installed the answerer.
bool InstallAnswererFromEnvironment();

// Installs an answerer for the lifetime of the object and removes it afterwards.
class ScopedAnswerer {
 public:
  explicit ScopedAnswerer(Answerer answerer) { SetAnswerer(std::move(answerer)); ClearShown(); }
  ~ScopedAnswerer() { SetAnswerer(nullptr); }
  ScopedAnswerer(const ScopedAnswerer&) = delete;
  ScopedAnswerer& operator=(const ScopedAnswerer&) = delete;
};

}  // namespace testing

}  // namespace ui
