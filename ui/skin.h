// The skin layer: skinned windows and their drawn elements, in the interface pack's own terms.
//
// A skinned window is frameless. It paints its skin picture (or its background colour), a caption
// bar with the title text and the caption buttons that its flags ask for, and it can be dragged
// by the caption. Elements carry ids; clicks reach the window's one element-event callback with
// code 7 (an element was clicked) or code 1 (a caption button was pressed).
//
// Colours are Windows colour references 0x00BBGGRR. A colour may carry its alpha in the top byte
// (0xAABBGGRR); no alpha (0) means 254, and 255 is lowered to 254.
//
// Texts are GBK (common::Text). Only the UI thread may call into this layer.
#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"

class QString;
class QMenu;

namespace ui {

using common::Text;
using Colour = std::uint32_t;  // 0xAABBGGRR

constexpr Colour Rgb(int r, int g, int b) {
  return static_cast<Colour>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr Colour Rgba(int r, int g, int b, int a) {
  return Rgb(r, g, b) | (static_cast<Colour>(a & 0xFF) << 24);
}

// GBK texts to and from the toolkit.
QString ToQ(const Text& gbk);
Text FromQ(const QString& text);

// A colour reference 0xAABBGGRR as the toolkit's colour: alpha 0 (none given) and 255 become 254.
QColor ToQColor(Colour colour);
// The colour reference of a toolkit colour (its alpha in the top byte).
Colour FromQColor(const QColor& colour);

// A font of the pack: the family (GBK, e.g. "宋体" or "微软雅黑") at a pixel size, falling back to
// the platform's CJK family when the family is missing. The pack's default is 宋体 12 px.
QFont SkinFont(const Text& family = {}, int pixelSize = 12);

// A cursor from the bytes of a Windows .cur file (BMP or PNG payload, with its hot spot);
// nothing for bytes that are no cursor.
std::optional<QCursor> CursorFromCurBytes(const std::string& bytes);

// Caption-button flags.
enum CaptionFlag : int {
  kCaptionIcon = 1,
  kCaptionTitle = 2,
  kCaptionClose = 4,
  kCaptionMaximise = 8,
  kCaptionMinimise = 16,
  kCaptionMenu = 32,
  kCaptionSkin = 64,
};

constexpr int kEventCaptionPress = 1;
constexpr int kEventClick = 7;

class SkinWindow;

// Base of every drawn element: an id, a place, visibility.
//
// An element is owned by whoever created it. Its widget is a child of the window: deleting the
// element deletes the widget, and an element that outlives its window is harmless (its calls
// then do nothing).
class Element {
 public:
  virtual ~Element();
  Element(const Element&) = delete;
  Element& operator=(const Element&) = delete;
  int Id() const { return id_; }
  QWidget* Widget() const { return widget_; }
  void SetVisible(bool visible);
  bool IsVisible() const;
  void SetEnabled(bool enabled);
  bool IsEnabled() const;
  QRect Geometry() const;  // window coordinates
  void SetTip(const Text& tip);
  Text Tip() const;

 protected:
  Element(SkinWindow* window, QWidget* widget, int x, int y, int width, int height);
  SkinWindow* window_;
  QWidget* widget_;
  int id_;
  bool Alive() const { return !widgetGuard_.isNull(); }

 private:
  QPointer<QWidget> widgetGuard_;
  QPointer<SkinWindow> windowGuard_;
  Text tip_;
};

// Colour getters of the elements return the colour reference as it was given.
class Button : public Element {
 public:
  Button(SkinWindow* window, const Text& text, int x, int y, int width, int height);
  void SetText(const Text& text);
  Text GetText() const;
  void SetTextColour(Colour colour);
  Colour TextColour() const;
  void SetFont(const Text& family, int pixelSize = 12);
  void Click();  // as if the user clicked it (reports code 7 when enabled)
};

class EditBox : public Element {
 public:
  EditBox(SkinWindow* window, const Text& text, int x, int y, int width, int height);
  void SetText(const Text& text);
  Text GetText() const;
  // 0: none; 4: a dashed one-pixel frame, black at alpha 90.
  void SetBorderStyle(int style);
  void SetColours(Colour text, Colour background);
  int BorderStyle() const;
  // The colours as given (defaults: text black at alpha 230 on white at alpha 160).
  Colour TextColour() const;
  Colour BackgroundColour() const;
};

class Label : public Element {
 public:
  Label(SkinWindow* window, const Text& text, int x, int y, int width, int height);
  void SetText(const Text& text);
  Text GetText() const;
  void SetTextColour(Colour colour);
  Colour TextColour() const;
  void SetFont(const Text& family, int pixelSize = 12);
  Text FontFamily() const;
  void SetAlignment(Qt::Alignment alignment);
  void SetWrap(bool wrap);
  bool Wraps() const;
  void SetGradient(Colour top, Colour bottom);  // vertical gradient background
  void SetBorderStyle(int style);
};

// A read-only plain-text panel that stays fast with several megabytes of text (the script view).
// It draws like a Label: text colour, font, gradient background, border style, wrapping.
class TextView : public Element {
 public:
  TextView(SkinWindow* window, int x, int y, int width, int height);
  void SetText(const Text& text);
  Text GetText() const;
  void SetTextColour(Colour colour);
  Colour TextColour() const;
  void SetFont(const Text& family, int pixelSize = 12);
  Text FontFamily() const;
  void SetWrap(bool wrap);
  bool Wraps() const;
  void SetGradient(Colour top, Colour bottom);
  void SetBorderStyle(int style);
};

// A list with columns. Rows and columns are counted from 1. Model/view: 20,000 rows fill and
// scroll smoothly. Left click selects; Ctrl and Shift extend; a right click selects the row the
// way a left click does unless that row is already selected, then reports to the right-click
// handler.
class List : public Element {
 public:
  List(SkinWindow* window, int x, int y, int width, int height);
  ~List() override;
  void SetColour(Colour colour);  // drawing colour (the theme colour)
  void AddColumn(const Text& title, int width, bool alignCentre = false);
  int ColumnCount() const;
  Text ColumnTitle(int column) const;
  int ColumnWidth(int column) const;
  bool ColumnCentred(int column) const;

  int AppendRow();  // an empty row at the end; returns its number
  void AppendRows(std::vector<std::vector<Text>> rows);  // bulk append, one model reset
  void SetCell(int row, int column, const Text& text);
  Text Cell(int row, int column) const;
  int Count() const;
  // First row at or after `fromRow` whose column 1 equals text (byte for byte), or 0.
  int FindRow(const Text& text, int fromRow = 1) const;
  void DeleteRow(int row);
  void RemoveAll();

  int CurrentRow() const;  // 0 when there is none
  void SetCurrentRow(int row);
  bool IsSelected(int row) const;
  void SetSelected(int row, bool selected);
  std::vector<int> SelectedRows() const;  // ascending

  void SuspendRedraw();
  void ResumeRedraw();

  // Called when the right mouse button goes down over the list (after the selection rule).
  void SetRightClickHandler(std::function<void()> handler);
  // Simulates a right click on a row (0: below the last row), for tests and keyboard menus.
  void RightClickRow(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class ProgressBar : public Element {
 public:
  ProgressBar(SkinWindow* window, int x, int y, int width, int height);
  void SetPosition(double percent);  // 0..100, fractional
  double Position() const;
};

class Picture : public Element {
 public:
  Picture(SkinWindow* window, const std::string& bytes, int x, int y, int width, int height);
  void SetBytes(const std::string& bytes);
  bool HasPicture() const;
};

// The skinned window binding.
class SkinWindow : public QWidget {
  Q_OBJECT
 public:
  using EventCallback = std::function<void(int elementId, int eventCode)>;

  SkinWindow(int width, int height, int x = 50, int y = 50);
  ~SkinWindow() override;

  // Background picture from bytes (an empty or undecodable picture leaves the background
  // colour); background colour (none: taken from the picture); caption-button flags.
  void BindSkin(const std::string& pictureBytes, std::optional<Colour> background, int captionFlags,
                bool sizingBorder = false);
  // Redraw from new picture bytes; the theme colour is taken from the new picture.
  void Redraw(const std::string& pictureBytes);
  bool HasSkinPicture() const;
  // The theme colour: the pixel at 85 % of the skin picture's width and height; without a
  // picture the background colour (white when none was given).
  Colour ThemeColour() const;
  // The background colour drawn where there is no picture (white when none was given).
  Colour BackgroundColour() const;
  // Height of the caption bar in pixels.
  static constexpr int kCaptionHeight = 28;

  void SetTitle(const Text& title);
  Text Title() const;
  void SetCaptionTip(int flag, const Text& tip);
  Text CaptionTip(int flag) const;
  int CaptionFlags() const;
  // Element id of the caption button with this flag (0 when there is none).
  int CaptionButtonId(int flag) const;
  // Caption flag of an element id; 0 for an element that is no caption button.
  int CaptionFlag(int elementId) const;
  // As if the user pressed the caption button with this flag. The close button closes the
  // window (through the can-be-closed handler); the others report code 1.
  void PressCaptionButton(int flag);

  void SetWindowSetting(int value);  // stored for the pack; no visible effect
  int WindowSetting() const;

  void SetEventCallback(EventCallback callback);
  void ReportEvent(int elementId, int eventCode);

  // Mouse cursor from a Windows .cur file; a missing or bad file keeps the default cursor.
  void SetCursorFromFile(const Text& path);
  bool HasCustomCursor() const;

  // The can-be-closed event: return false to refuse the close.
  void SetCanCloseHandler(std::function<bool()> handler);
  // Files dropped on the window: the full paths, joined by "\r\n", as program path texts.
  void SetFilesDroppedHandler(std::function<void(const Text& paths)> handler);
  void DropFiles(const std::vector<Text>& paths);  // as if they were dropped (tests)

  int NextElementId();
  Element* FindElement(int id) const;
  void RegisterElement(Element* element);
  void UnregisterElement(Element* element);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Popup menus drawn in the skin's style. A chosen item's action runs after the opening routine
// has returned (queued), like a posted menu command.
class PopupMenu {
 public:
  explicit PopupMenu(const Text& holder);
  ~PopupMenu();
  void AddItem(const Text& text, std::function<void()> action);
  void AddSeparator();
  Text Holder() const;
  std::vector<Text> Items() const;  // "-" for a separator
  void SetItemEnabled(const Text& text, bool enabled);
  bool IsItemEnabled(const Text& text) const;
  // Opens at a screen position and returns at once; the choice is carried out later.
  void Popup(QPoint screenPosition);
  // As if the user chose the item (queued like a real choice). A disabled or unknown item does
  // nothing; an open menu closes.
  void Choose(const Text& text);
  bool IsOpen() const;
  // The toolkit menu (for looks and tests).
  QMenu* Menu() const;
  // The menu most recently opened with Popup() that still exists, or nullptr (for tests).
  static PopupMenu* LastOpened();
  // Forgets the last opened menu (tests start from a clean state).
  static void ClearLastOpened();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Processes pending events, at most about once every 15 ms.
void PumpEvents();

// Clipboard as plain text (GBK converted for the toolkit). False when it could not be set.
bool SetClipboardText(const Text& text);
Text ClipboardText();

// Opens an address in the user's web browser.
void OpenUrl(const Text& url);

}  // namespace ui
