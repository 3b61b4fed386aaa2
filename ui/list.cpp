// The list element: a table view over rows of GBK texts. Texts become toolkit strings only when
// a cell is drawn, so that filling 20,000 rows costs no conversion.
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <algorithm>

#include "ui/skin.h"
#include "ui/skin_widgets.h"

namespace ui {

namespace detail {

struct ListColumn {
  Text title;
  int width = 100;
  bool centre = false;
};

class ListModel : public QAbstractTableModel {
 public:
  std::vector<ListColumn> columns;
  std::vector<std::vector<Text>> rows;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(columns.size());
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= static_cast<int>(rows.size())) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
      const auto& row = rows[static_cast<std::size_t>(index.row())];
      if (index.column() >= static_cast<int>(row.size())) return QString();
      return ToQ(row[static_cast<std::size_t>(index.column())]);
    }
    if (role == Qt::TextAlignmentRole) {
      bool centre = index.column() < static_cast<int>(columns.size()) &&
                    columns[static_cast<std::size_t>(index.column())].centre;
      return static_cast<int>((centre ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    return {};
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns.size())) return {};
    if (role == Qt::DisplayRole) return ToQ(columns[static_cast<std::size_t>(section)].title);
    if (role == Qt::TextAlignmentRole) {
      return static_cast<int>((columns[static_cast<std::size_t>(section)].centre ? Qt::AlignHCenter
                                                                                 : Qt::AlignLeft) |
                              Qt::AlignVCenter);
    }
    return {};
  }
  Qt::ItemFlags flags(const QModelIndex& index) const override {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  }

  // Model edits with their notifications.
  void AddColumn(ListColumn column) {
    int at = static_cast<int>(columns.size());
    beginInsertColumns(QModelIndex(), at, at);
    columns.push_back(std::move(column));
    endInsertColumns();
  }
  int Append(std::vector<std::vector<Text>> added) {
    if (added.empty()) return static_cast<int>(rows.size());
    int first = static_cast<int>(rows.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
    if (rows.empty()) {
      rows = std::move(added);
    } else {
      rows.reserve(rows.size() + added.size());
      for (auto& row : added) rows.push_back(std::move(row));
    }
    endInsertRows();
    return static_cast<int>(rows.size());
  }
  void SetCell(int row, int column, Text text) {
    auto& cells = rows[static_cast<std::size_t>(row)];
    if (cells.size() <= static_cast<std::size_t>(column)) cells.resize(static_cast<std::size_t>(column) + 1);
    cells[static_cast<std::size_t>(column)] = std::move(text);
    QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
  }
  void Remove(int row) {
    beginRemoveRows(QModelIndex(), row, row);
    rows.erase(rows.begin() + row);
    endRemoveRows();
  }
  void Clear() {
    beginResetModel();
    rows.clear();
    rows.shrink_to_fit();
    endResetModel();
  }
};

// The table: translucent so the skin shows through, uniform rows, and the right-button rule.
class ListView : public QTableView {
 public:
  explicit ListView(QWidget* parent) : QTableView(parent) {}
  std::function<void()> rightClick;
  QColor colour{90, 150, 220};

  // The selection rule of a right click on a 0-based row (-1: below the last row).
  void RightPress(int row, Qt::KeyboardModifiers modifiers) {
    QItemSelectionModel* selection = selectionModel();
    if (row >= 0 && row < model()->rowCount()) {
      QModelIndex at = model()->index(row, 0);
      if (!selection->isSelected(at)) {
        if (modifiers & Qt::ShiftModifier) {
          QModelIndex anchor = selection->currentIndex();
          int from = anchor.isValid() ? anchor.row() : row;
          QItemSelection range(model()->index(std::min(from, row), 0),
                               model()->index(std::max(from, row), model()->columnCount() - 1));
          auto command = QItemSelectionModel::Select | QItemSelectionModel::Rows;
          if (!(modifiers & Qt::ControlModifier)) command |= QItemSelectionModel::Clear;
          selection->select(range, command);
          selection->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
        } else if (modifiers & Qt::ControlModifier) {
          selection->setCurrentIndex(at, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        } else {
          selection->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
      } else {
        selection->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
      }
    } else {
      // Empty space: the selection stays, and no row is current.
      selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    auto handler = rightClick;
    if (handler) handler();
  }

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::RightButton) {
      QModelIndex at = indexAt(event->position().toPoint());
      RightPress(at.isValid() ? at.row() : -1, event->modifiers());
      event->accept();
      return;
    }
    QTableView::mousePressEvent(event);
  }
  void contextMenuEvent(QContextMenuEvent* event) override { event->accept(); }
};

}  // namespace detail

struct List::Impl {
  detail::ListModel* model = nullptr;
  detail::ListView* view = nullptr;
  int suspended = 0;
};

namespace {
void StyleList(detail::ListView* view, const QColor& colour) {
  QColor header = colour;
  header.setAlpha(200);
  QColor headerEnd = colour.darker(112);
  headerEnd.setAlpha(210);
  QColor headerText = detail::ContrastColour(colour);
  // The selection must stand out from the rows even when the theme is pale: keep its hue and
  // bring its lightness down.
  int hue = colour.hslHue() < 0 ? 210 : colour.hslHue();
  int saturation = colour.hslSaturation() < 40 ? 40 : colour.hslSaturation();
  QColor selected = QColor::fromHsl(hue, saturation, std::min(colour.lightness(), 140), 215);
  QColor selectedText = detail::ContrastColour(selected);
  QColor hover = colour;
  hover.setAlpha(70);
  auto css = [](const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
  };
  view->setStyleSheet(
      QStringLiteral(
          "QTableView { background: rgba(255,255,255,85); alternate-background-color: "
          "rgba(255,255,255,135); color: rgba(0,0,0,235); border: 1px solid rgba(0,0,0,70); "
          "gridline-color: rgba(0,0,0,25); outline: 0; }"
          "QTableView::item { padding: 0px; border: none; }"
          "QTableView::item:hover { background: %4; }"
          "QTableView::item:selected { background: %1; color: %2; }"
          "QHeaderView { background: transparent; }"
          "QHeaderView::section { background: qlineargradient(x1:0,y1:0,x2:0,y2:1, stop:0 %5, "
          "stop:1 %6); color: %3; border: none; border-right: 1px solid rgba(255,255,255,90); "
          "border-bottom: 1px solid rgba(0,0,0,60); padding: 0px 1px; height: 22px; }"
          "QScrollBar:vertical { background: rgba(255,255,255,70); width: 11px; margin: 0; }"
          "QScrollBar:horizontal { background: rgba(255,255,255,70); height: 11px; margin: 0; }"
          "QScrollBar::handle { background: rgba(0,0,0,75); border-radius: 4px; min-height: 24px; "
          "min-width: 24px; margin: 2px; }"
          "QScrollBar::handle:hover { background: rgba(0,0,0,120); }"
          "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
          "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"
          "QTableCornerButton::section { background: transparent; border: none; }")
          .arg(css(selected), css(selectedText), css(headerText), css(hover), css(header), css(headerEnd)));
}
}  // namespace

List::List(SkinWindow* window, int x, int y, int width, int height)
    : Element(window, new detail::ListView(window), x, y, width, height), impl_(std::make_unique<Impl>()) {
  auto* view = static_cast<detail::ListView*>(widget_);
  impl_->view = view;
  impl_->model = new detail::ListModel();
  impl_->model->setParent(view);
  view->setModel(impl_->model);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->setAlternatingRowColors(true);
  view->setCornerButtonEnabled(false);
  view->setTextElideMode(Qt::ElideRight);
  view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  view->setMouseTracking(true);
  view->setAttribute(Qt::WA_TranslucentBackground, true);
  view->viewport()->setAutoFillBackground(false);
  QHeaderView* rows = view->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(20);
  rows->setMinimumSectionSize(16);
  QHeaderView* header = view->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  header->setHighlightSections(false);
  header->setSectionsClickable(false);
  header->setFixedHeight(22);
  header->setMinimumSectionSize(10);
  if (window != nullptr) view->colour = ToQColor(window->ThemeColour());
  StyleList(view, view->colour);
}

List::~List() = default;

void List::SetColour(Colour colour) {
  if (!Alive()) return;
  impl_->view->colour = ToQColor(colour);
  StyleList(impl_->view, impl_->view->colour);
}

void List::AddColumn(const Text& title, int width, bool alignCentre) {
  if (!Alive()) return;
  impl_->model->AddColumn({common::AsText(title), width, alignCentre});
  impl_->view->horizontalHeader()->resizeSection(static_cast<int>(impl_->model->columns.size()) - 1,
                                                 std::max(0, width));
}

int List::ColumnCount() const { return Alive() ? static_cast<int>(impl_->model->columns.size()) : 0; }

Text List::ColumnTitle(int column) const {
  if (!Alive() || column < 1 || column > ColumnCount()) return {};
  return impl_->model->columns[static_cast<std::size_t>(column - 1)].title;
}

int List::ColumnWidth(int column) const {
  if (!Alive() || column < 1 || column > ColumnCount()) return 0;
  return impl_->view->horizontalHeader()->sectionSize(column - 1);
}

bool List::ColumnCentred(int column) const {
  if (!Alive() || column < 1 || column > ColumnCount()) return false;
  return impl_->model->columns[static_cast<std::size_t>(column - 1)].centre;
}

int List::AppendRow() {
  if (!Alive()) return 0;
  std::vector<std::vector<Text>> one(1);
  return impl_->model->Append(std::move(one));
}

void List::AppendRows(std::vector<std::vector<Text>> rows) {
  if (!Alive()) return;
  for (auto& row : rows) {
    for (auto& cell : row) cell = common::AsText(cell);
  }
  impl_->model->Append(std::move(rows));
}

void List::SetCell(int row, int column, const Text& text) {
  if (!Alive() || row < 1 || row > Count() || column < 1) return;
  impl_->model->SetCell(row - 1, column - 1, common::AsText(text));
}

Text List::Cell(int row, int column) const {
  if (!Alive() || row < 1 || row > Count() || column < 1) return {};
  const auto& cells = impl_->model->rows[static_cast<std::size_t>(row - 1)];
  if (static_cast<std::size_t>(column) > cells.size()) return {};
  return cells[static_cast<std::size_t>(column - 1)];
}

int List::Count() const { return Alive() ? static_cast<int>(impl_->model->rows.size()) : 0; }

int List::FindRow(const Text& text, int fromRow) const {
  if (!Alive()) return 0;
  Text wanted = common::AsText(text);
  const auto& rows = impl_->model->rows;
  for (std::size_t i = static_cast<std::size_t>(std::max(fromRow, 1) - 1); i < rows.size(); ++i) {
    const Text& first = rows[i].empty() ? Text() : rows[i][0];
    if (first == wanted) return static_cast<int>(i) + 1;
  }
  return 0;
}

void List::DeleteRow(int row) {
  if (!Alive() || row < 1 || row > Count()) return;
  impl_->model->Remove(row - 1);
}

void List::RemoveAll() {
  if (Alive()) impl_->model->Clear();
}

int List::CurrentRow() const {
  if (!Alive()) return 0;
  QModelIndex current = impl_->view->selectionModel()->currentIndex();
  return current.isValid() ? current.row() + 1 : 0;
}

void List::SetCurrentRow(int row) {
  if (!Alive()) return;
  QItemSelectionModel* selection = impl_->view->selectionModel();
  if (row < 1 || row > Count() || ColumnCount() == 0) {
    selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    return;
  }
  QModelIndex at = impl_->model->index(row - 1, 0);
  selection->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
  impl_->view->scrollTo(at);
}

bool List::IsSelected(int row) const {
  if (!Alive() || row < 1 || row > Count() || ColumnCount() == 0) return false;
  return impl_->view->selectionModel()->isSelected(impl_->model->index(row - 1, 0));
}

void List::SetSelected(int row, bool selected) {
  if (!Alive() || row < 1 || row > Count() || ColumnCount() == 0) return;
  auto command = (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                 QItemSelectionModel::Rows;
  impl_->view->selectionModel()->select(impl_->model->index(row - 1, 0), command);
}

std::vector<int> List::SelectedRows() const {
  std::vector<int> out;
  if (!Alive()) return out;
  const QItemSelection selection = impl_->view->selectionModel()->selection();
  for (const QItemSelectionRange& range : selection) {
    for (int r = range.top(); r <= range.bottom(); ++r) out.push_back(r + 1);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void List::SuspendRedraw() {
  if (!Alive()) return;
  if (impl_->suspended++ == 0) impl_->view->setUpdatesEnabled(false);
}

void List::ResumeRedraw() {
  if (!Alive() || impl_->suspended == 0) return;
  if (--impl_->suspended == 0) {
    impl_->view->setUpdatesEnabled(true);
    impl_->view->viewport()->update();
  }
}

void List::SetRightClickHandler(std::function<void()> handler) {
  if (Alive()) impl_->view->rightClick = std::move(handler);
}

void List::RightClickRow(int row, Qt::KeyboardModifiers modifiers) {
  if (!Alive()) return;
  impl_->view->RightPress(row >= 1 && row <= Count() ? row - 1 : -1, modifiers);
}

}  // namespace ui
