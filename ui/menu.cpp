// Popup menus in the skin's style. The chosen item's action is posted to the event loop, so it
// runs after the routine that opened the menu (and the one that chose it) has returned.
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPointer>

#include "ui/skin.h"

namespace ui {

namespace {
PopupMenu* g_lastOpened = nullptr;

void Post(const std::function<void()>& action) {
  if (!action || QCoreApplication::instance() == nullptr) return;
  QMetaObject::invokeMethod(QCoreApplication::instance(), [action] { action(); }, Qt::QueuedConnection);
}

const QString kMenuStyle = QStringLiteral(
    "QMenu { background: rgba(252,253,255,240); border: 1px solid rgba(0,0,0,80); "
    "border-radius: 6px; padding: 4px 3px; }"
    "QMenu::item { color: rgb(30,30,30); padding: 5px 26px 5px 22px; border-radius: 4px; "
    "margin: 0px 2px; }"
    "QMenu::item:selected { background: rgba(60,130,210,210); color: white; }"
    "QMenu::item:disabled { color: rgba(0,0,0,95); }"
    "QMenu::item:disabled:selected { background: rgba(0,0,0,20); color: rgba(0,0,0,95); }"
    "QMenu::separator { height: 1px; background: rgba(0,0,0,40); margin: 4px 10px; }");
}  // namespace

struct PopupMenu::Impl {
  Text holder;
  QMenu* menu = nullptr;
  struct Item {
    Text text;  // "-" for a separator
    QAction* action = nullptr;
    std::function<void()> run;
  };
  std::vector<Item> items;
};

PopupMenu::PopupMenu(const Text& holder) : impl_(std::make_unique<Impl>()) {
  impl_->holder = common::AsText(holder);
  impl_->menu = new QMenu();
  impl_->menu->setWindowFlags(impl_->menu->windowFlags() | Qt::FramelessWindowHint |
                              Qt::NoDropShadowWindowHint);
  impl_->menu->setAttribute(Qt::WA_TranslucentBackground, true);
  impl_->menu->setFont(SkinFont());
  impl_->menu->setStyleSheet(kMenuStyle);
  impl_->menu->setTitle(ToQ(impl_->holder));
}

PopupMenu::~PopupMenu() {
  if (g_lastOpened == this) g_lastOpened = nullptr;
  delete impl_->menu;
}

void PopupMenu::AddItem(const Text& text, std::function<void()> action) {
  Impl::Item item;
  item.text = common::AsText(text);
  item.run = std::move(action);
  item.action = impl_->menu->addAction(ToQ(item.text));
  std::function<void()> run = item.run;
  QObject::connect(item.action, &QAction::triggered, impl_->menu, [run] { Post(run); });
  impl_->items.push_back(std::move(item));
}

void PopupMenu::AddSeparator() {
  Impl::Item item;
  item.text = "-";
  item.action = impl_->menu->addSeparator();
  impl_->items.push_back(std::move(item));
}

Text PopupMenu::Holder() const { return impl_->holder; }

std::vector<Text> PopupMenu::Items() const {
  std::vector<Text> out;
  out.reserve(impl_->items.size());
  for (const auto& item : impl_->items) out.push_back(item.text);
  return out;
}

void PopupMenu::SetItemEnabled(const Text& text, bool enabled) {
  for (auto& item : impl_->items) {
    if (item.text == text && item.text != "-") item.action->setEnabled(enabled);
  }
}

bool PopupMenu::IsItemEnabled(const Text& text) const {
  for (const auto& item : impl_->items) {
    if (item.text == text && item.text != "-") return item.action->isEnabled();
  }
  return false;
}

void PopupMenu::Popup(QPoint screenPosition) {
  g_lastOpened = this;
  if (impl_->menu->isVisible()) impl_->menu->hide();
  impl_->menu->popup(screenPosition);
}

void PopupMenu::Choose(const Text& text) {
  for (const auto& item : impl_->items) {
    if (item.text != text || item.text == "-") continue;
    if (!item.action->isEnabled()) return;
    if (impl_->menu->isVisible()) impl_->menu->hide();
    Post(item.run);
    return;
  }
}

bool PopupMenu::IsOpen() const { return impl_->menu->isVisible(); }

QMenu* PopupMenu::Menu() const { return impl_->menu; }

PopupMenu* PopupMenu::LastOpened() { return g_lastOpened; }

void PopupMenu::ClearLastOpened() { g_lastOpened = nullptr; }

}  // namespace ui
