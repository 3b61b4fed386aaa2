#include "ui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <QVBoxLayout>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/files.h"
#include "platform/paths.h"
#include "ui/skin.h"
#include "ui/skin_widgets.h"

namespace ui {

using namespace common::literals;

std::vector<MessageButton> MessageButtons(int buttonSet) {
  static const Text kOk = "确认"_gbk, kCancel = "取消"_gbk, kAbort = "放弃"_gbk,
                    kRetry = "重试"_gbk, kIgnore = "忽略"_gbk, kYes = "是"_gbk, kNo = "否"_gbk;
  switch (buttonSet) {
    case 1: return {{kOk, 0}, {kCancel, 1}};
    case 2: return {{kAbort, 2}, {kRetry, 3}, {kIgnore, 4}};
    case 3: return {{kYes, 5}, {kNo, 6}, {kCancel, 1}};
    case 4: return {{kYes, 5}, {kNo, 6}};
    case 5: return {{kRetry, 3}, {kCancel, 1}};
    default: return {{kOk, 0}};
  }
}

Text DefaultMessageTitle() { return "提示："_gbk; }

// ---------------------------------------------------------------------------------------------
// Test seams

namespace testing {
namespace {
Answerer& CurrentAnswerer() {
  static Answerer answerer;
  return answerer;
}
std::vector<ShownDialog>& ShownList() {
  static std::vector<ShownDialog> shown;
  return shown;
}
}  // namespace

void SetAnswerer(Answerer answerer) { CurrentAnswerer() = std::move(answerer); }
const std::vector<ShownDialog>& Shown() { return ShownList(); }
void ClearShown() { ShownList().clear(); }

bool InstallAnswererFromEnvironment() {
  const char* log = std::getenv("VELMORA_TEST_DIALOG_LOG");
  if (log == nullptr || *log == '\0') return false;
  std::string logPath = log;
  SetAnswerer([logPath](const ShownDialog& dialog) {
    std::string line = common::GbkToUtf8(dialog.title) + "\t" + common::GbkToUtf8(dialog.text);
    std::string escaped;
    for (char c : line) {
      if (c == '\n') escaped += "\\n";
      else if (c != '\r') escaped += c;
    }
    std::ofstream(logPath, std::ios::binary | std::ios::app) << escaped << '\n';
    DialogAnswer answer;
    std::vector<MessageButton> buttons = MessageButtons(dialog.buttonSet);
    if (!buttons.empty()) answer.button = buttons.front().result;
    return answer;
  });
  return true;
}
}  // namespace testing

namespace {

// Records the dialog and asks the installed answerer; nothing when no answerer is installed.
std::optional<testing::DialogAnswer> Answered(const testing::ShownDialog& dialog) {
  testing::Answerer answerer = testing::CurrentAnswerer();
  if (!answerer) return std::nullopt;
  testing::ShownList().push_back(dialog);
  return answerer(dialog);
}

// ---------------------------------------------------------------------------------------------
// The skinned message box

class SkinMessageDialog : public QDialog {
 public:
  SkinMessageDialog(QWidget* owner, const Text& text, int buttonSet, const Text& title)
      : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground, true);
    setFont(SkinFont());
    setModal(true);
    setObjectName(QStringLiteral("skinMessageBox"));
    setWindowTitle(ToQ(title));

    std::optional<std::string> bytes = platform::ReadFileBytes("皮肤图片\\0.png"_gbk);
    if (bytes) {
      picture_.loadFromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<int>(bytes->size()));
    }
    if (!picture_.isNull()) {
      int x = std::min(picture_.width() - 1, static_cast<int>(picture_.width() * 0.85));
      int y = std::min(picture_.height() - 1, static_cast<int>(picture_.height() * 0.85));
      theme_ = picture_.pixelColor(x, y);
      theme_.setAlpha(255);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, SkinWindow::kCaptionHeight + 14, 18, 14);
    layout->setSpacing(16);

    auto* titleLabel = new QLabel(ToQ(title), this);
    titleLabel->setObjectName(QStringLiteral("messageTitle"));
    titleLabel->setGeometry(12, 0, 300, SkinWindow::kCaptionHeight);
    QPalette titlePalette = titleLabel->palette();
    titlePalette.setColor(QPalette::WindowText, detail::ContrastColour(theme_));
    titleLabel->setPalette(titlePalette);
    titleLabel_ = titleLabel;

    QString shown = ToQ(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    auto* textLabel = new QLabel(shown, this);
    textLabel->setObjectName(QStringLiteral("messageText"));
    textLabel->setTextFormat(Qt::PlainText);
    textLabel->setWordWrap(true);
    textLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    textLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    textLabel->setMinimumWidth(260);
    textLabel->setMaximumWidth(520);
    textLabel->setStyleSheet(QStringLiteral(
        "QLabel { color: rgb(20,20,20); background: rgba(255,255,255,175); "
        "border: 1px solid rgba(0,0,0,40); border-radius: 4px; padding: 10px 12px; }"));
    layout->addWidget(textLabel, 1);

    auto* row = new QHBoxLayout();
    row->setSpacing(10);
    row->addStretch(1);
    bool first = true;
    for (const MessageButton& button : MessageButtons(buttonSet)) {
      auto* push = new QPushButton(ToQ(button.text), this);
      push->setMinimumSize(72, 26);
      push->setCursor(Qt::PointingHandCursor);
      push->setProperty("velmoraResult", button.result);
      push->setStyleSheet(QStringLiteral(
          "QPushButton { color: rgb(25,25,25); background: qlineargradient(x1:0,y1:0,x2:0,y2:1,"
          " stop:0 rgba(255,255,255,235), stop:1 rgba(230,234,240,225)); border: 1px solid "
          "rgba(0,0,0,80); border-radius: 4px; padding: 2px 14px; }"
          "QPushButton:hover { border-color: rgba(60,130,210,220); background: "
          "qlineargradient(x1:0,y1:0,x2:0,y2:1, stop:0 white, stop:1 rgba(225,238,252,240)); }"
          "QPushButton:pressed { background: rgba(205,218,232,240); }"
          "QPushButton:default { border: 1px solid rgba(50,115,200,230); }"
          "QPushButton:focus { outline: none; }"));
      int result = button.result;
      connect(push, &QPushButton::clicked, this, [this, result] { done(result); });
      if (first) {
        push->setDefault(true);
        push->setAutoDefault(true);
        push->setFocus();
        first = false;
      } else {
        push->setAutoDefault(false);
      }
      row->addWidget(push);
    }
    row->addStretch(1);
    layout->addLayout(row);

    auto* close = new detail::CaptionButton(this, kCaptionClose);
    close->setObjectName(QStringLiteral("messageClose"));
    close->glyphColour = detail::ContrastColour(theme_);
    closeButton_ = close;
    connect(close, &QAbstractButton::clicked, this, [this] { done(kAnswerCancel); });

    adjustSize();
    resize(std::max(width(), 320), std::max(height(), 150));
  }

  // Esc and any close without a button answer 1.
  void reject() override { done(kAnswerCancel); }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    closeButton_->setGeometry(width() - 34, 3, 28, 22);
    titleLabel_->setGeometry(12, 0, std::max(0, width() - 52), SkinWindow::kCaptionHeight);
    QDialog::resizeEvent(event);
  }

  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 6, 6);
    p.setClipPath(shape);
    if (!picture_.isNull()) {
      QImage shown = picture_;
      if (shown.width() < width() || shown.height() < height()) {
        shown = shown.scaled(size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
      }
      p.drawImage(0, 0, shown, 0, 0, width(), height());
    } else {
      QLinearGradient g(0, 0, 0, height());
      g.setColorAt(0, QColor(236, 244, 252));
      g.setColorAt(1, QColor(214, 228, 244));
      p.fillRect(rect(), g);
    }
    QColor veil = theme_;
    veil.setAlpha(160);
    p.fillRect(QRect(0, 0, width(), SkinWindow::kCaptionHeight), veil);
    p.setClipping(false);
    p.setPen(QPen(QColor(0, 0, 0, 120), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && event->position().y() < SkinWindow::kCaptionHeight) {
      dragging_ = true;
      dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
      return;
    }
    QDialog::mousePressEvent(event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
      move(event->globalPosition().toPoint() - dragOffset_);
      return;
    }
    QDialog::mouseMoveEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    dragging_ = false;
    QDialog::mouseReleaseEvent(event);
  }

 private:
  QImage picture_;
  QColor theme_{70, 130, 200};
  QLabel* titleLabel_ = nullptr;
  QAbstractButton* closeButton_ = nullptr;
  bool dragging_ = false;
  QPoint dragOffset_;
};

void CentreOnScreen(QWidget* dialog, QWidget* owner) {
  QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect area = screen->availableGeometry();
  dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
}

int RunMessageBox(QWidget* owner, const Text& text, int buttonSet, const Text& title) {
  SkinMessageDialog dialog(owner, text, buttonSet, title);
  dialog.setWindowModality(Qt::ApplicationModal);
  CentreOnScreen(&dialog, owner);
  return dialog.exec();
}

}  // namespace

int MessageBox(QWidget* owner, const Text& text, int buttonSet, const Text& title) {
  // Asked from a worker thread, the box opens on the user-interface thread and the worker
  // waits for the answer.
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() != app->thread()) {
    int answer = kAnswerCancel;
    QMetaObject::invokeMethod(
        app, [&] { answer = MessageBox(owner, text, buttonSet, title); }, Qt::BlockingQueuedConnection);
    return answer;
  }
  if (buttonSet < 0 || buttonSet > 5) buttonSet = 0;
  Text shownTitle = common::AsText(title).empty() ? DefaultMessageTitle() : common::AsText(title);
  testing::ShownDialog shown{testing::DialogKind::MessageBox, owner, shownTitle, common::AsText(text),
                             buttonSet};
  if (auto answer = Answered(shown)) return answer->button;
  return RunMessageBox(owner, text, buttonSet, shownTitle);
}

void SystemMessageBox(const Text& caption, const Text& text) {
  testing::ShownDialog shown{testing::DialogKind::SystemBox, nullptr, common::AsText(caption),
                             common::AsText(text), 0};
  if (Answered(shown)) return;
  QString body = ToQ(text);
  body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  QMessageBox box(QMessageBox::NoIcon, ToQ(caption), body, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.setFont(SkinFont());
  box.exec();
}

Text ChooseFolder(QWidget* owner, const Text& title) {
  testing::ShownDialog shown{testing::DialogKind::FolderChooser, owner, common::AsText(title), {}, 0};
  if (auto answer = Answered(shown)) return answer->path.value_or(Text());
  QString caption = ToQ(title);
  caption.replace(QLatin1String("\r\n"), QLatin1String("  "));
  QString folder = QFileDialog::getExistingDirectory(
      owner, caption.simplified(), QStandardPaths::writableLocation(QStandardPaths::HomeLocation),
      QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
  if (folder.isEmpty()) return {};
  return platform::ProgramPath(std::filesystem::path(folder.toStdU16String()));
}

namespace {
// "caption|*.jpg;*.png|other|*.x" as the toolkit's "caption (*.jpg *.png);;other (*.x)".
QString ToolkitFilter(const Text& filter) {
  std::vector<Text> parts = common::Split(filter, "|");
  QStringList out;
  for (std::size_t i = 0; i < parts.size(); i += 2) {
    QString caption = ToQ(parts[i]);
    QString patterns = i + 1 < parts.size() ? ToQ(parts[i + 1]) : QStringLiteral("*");
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << QStringLiteral("%1 (%2)").arg(caption, patterns.simplified());
  }
  return out.join(QStringLiteral(";;"));
}
}  // namespace

std::optional<Text> ChooseOpenFile(QWidget* owner, const Text& filter) {
  testing::ShownDialog shown{testing::DialogKind::FileDialog, owner, common::AsText(filter), {}, 0};
  if (auto answer = Answered(shown)) {
    if (!answer->path || answer->path->empty()) return std::nullopt;
    return answer->path;
  }
  QString file = QFileDialog::getOpenFileName(owner, QString(),
                                              QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                                              ToolkitFilter(filter), nullptr,
                                              QFileDialog::DontUseNativeDialog);
  if (file.isEmpty()) return std::nullopt;
  return platform::ProgramPath(std::filesystem::path(file.toStdU16String()));
}

// ---------------------------------------------------------------------------------------------
// The shell copy

namespace {
constexpr std::uintmax_t kProgressThreshold = 8u * 1024u * 1024u;
constexpr std::size_t kChunk = 1u << 20;

std::filesystem::path TemporaryBeside(const std::filesystem::path& target) {
  std::random_device device;
  std::uniform_int_distribution<unsigned> digits(0, 0xFFFFFF);
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate = target;
    candidate += ".velmora-copy-" + std::to_string(digits(device));
    std::error_code error;
    if (!std::filesystem::exists(candidate, error)) return candidate;
  }
  std::filesystem::path candidate = target;
  candidate += ".velmora-copy";
  return candidate;
}
}  // namespace

CopyOutcome CopyFileIntoFolder(QWidget* owner, const Text& sourcePath, const Text& folder) {
  std::error_code error;
  std::filesystem::path source = platform::NativePath(sourcePath);
  std::filesystem::path folderPath = platform::NativePath(folder);
  if (!std::filesystem::is_regular_file(source, error) || !std::filesystem::is_directory(folderPath, error)) {
    return CopyOutcome::Failed;
  }
  std::filesystem::path target = folderPath / source.filename();
  if (std::filesystem::exists(target, error)) {
    if (std::filesystem::equivalent(source, target, error)) return CopyOutcome::Copied;
    if (!std::filesystem::is_regular_file(target, error)) return CopyOutcome::Failed;
    Text name = platform::ProgramPath(source.filename());
    Text question = "目标文件夹中已有同名文件“"_gbk + name + "”,要替换吗？"_gbk;
    testing::ShownDialog shown{testing::DialogKind::ReplaceQuestion, owner, DefaultMessageTitle(), question, 4};
    int answer = 0;
    if (auto given = Answered(shown)) {
      answer = given->button;
    } else {
      answer = RunMessageBox(owner, question, 4, DefaultMessageTitle());
    }
    if (answer != kAnswerYes) return CopyOutcome::Declined;
  }

  std::uintmax_t size = std::filesystem::file_size(source, error);
  if (error) return CopyOutcome::Failed;
  std::filesystem::path temporary = TemporaryBeside(target);
  auto discard = [&] {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
  };

  std::ifstream in(source, std::ios::binary);
  std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
  if (!in || !out) {
    out.close();
    discard();
    return CopyOutcome::Failed;
  }
  std::unique_ptr<QProgressDialog> progress;
  if (size > kProgressThreshold && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    progress = std::make_unique<QProgressDialog>(
        ToQ("正在复制 "_gbk + platform::ProgramPath(source.filename())), ToQ("取消"_gbk), 0, 1000, owner);
    progress->setWindowTitle(ToQ(DefaultMessageTitle()));
    progress->setWindowModality(Qt::ApplicationModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setFont(SkinFont());
    progress->setValue(0);
  }
  std::vector<char> buffer(kChunk);
  std::uintmax_t done = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    std::streamsize got = in.gcount();
    if (got <= 0) break;
    out.write(buffer.data(), got);
    if (!out) break;
    done += static_cast<std::uintmax_t>(got);
    if (progress) {
      progress->setValue(static_cast<int>(size == 0 ? 1000 : done * 1000 / size));
      QCoreApplication::processEvents();
      if (progress->wasCanceled()) {
        out.close();
        discard();
        return CopyOutcome::Cancelled;
      }
    }
  }
  bool readAll = !in.bad() && done == size;
  out.close();
  if (!out || !readAll) {
    discard();
    return CopyOutcome::Failed;
  }
  // The copy keeps the time of the file's last change, as the shell copy does.
  auto changed = std::filesystem::last_write_time(source, error);
  if (!error) std::filesystem::last_write_time(temporary, changed, error);
  std::filesystem::rename(temporary, target, error);
  if (error) {
    discard();
    return CopyOutcome::Failed;
  }
  return CopyOutcome::Copied;
}

}  // namespace ui
