#include "dialogs/myCheckListBox.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <climits>

FrameListModel::FrameListModel(QObject* parent) : QAbstractListModel(parent) {}

int FrameListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_items.size());
}

QVariant FrameListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount()) return QVariant();
    switch (role) {
    case Qt::DisplayRole: return Text(index.row());
    case Qt::CheckStateRole: return m_checks[static_cast<size_t>(index.row())] ? Qt::Checked : Qt::Unchecked;
    default: return QVariant();
    }
}

bool FrameListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid()) return false;
    return SetCheck(index.row(), value.toInt() == Qt::Unchecked ? 0 : 1);
}

Qt::ItemFlags FrameListModel::flags(const QModelIndex& index) const {
    // Not "user checkable": the list toggles check boxes itself, on the press as a check-list does.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void FrameListModel::Clear() {
    if (m_items.empty()) return;
    beginResetModel();
    m_items.clear();
    m_checks.clear();
    endResetModel();
}

void FrameListModel::Append(const std::vector<Item>& items) {
    if (items.empty()) return;
    // Rows are ints: a list never holds more than that.
    const size_t room = static_cast<size_t>(INT_MAX) - m_items.size();
    const size_t count = std::min(items.size(), room);
    if (count == 0) return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(count) - 1);
    m_items.insert(m_items.end(), items.begin(), items.begin() + static_cast<std::ptrdiff_t>(count));
    m_checks.reserve(m_items.size());
    for (size_t i = 0; i < count; ++i) m_checks.push_back(items[i].checked ? 1 : 0);
    endInsertRows();
}

QString FrameListModel::Text(int row) const {
    if (row < 0 || row >= rowCount()) return QString();
    const Item& item = m_items[static_cast<size_t>(row)];
    return QString::asprintf("%d  -  Original Frame Number %d", item.position, item.frame);
}

int FrameListModel::Frame(int row) const {
    return row >= 0 && row < rowCount() ? m_items[static_cast<size_t>(row)].frame : -1;
}

int FrameListModel::Check(int row) const {
    return row >= 0 && row < rowCount() && m_checks[static_cast<size_t>(row)] ? 1 : 0;
}

bool FrameListModel::SetCheck(int row, int check) {
    if (row < 0 || row >= rowCount()) return false;
    uint8_t wanted = check ? 1 : 0;
    uint8_t& state = m_checks[static_cast<size_t>(row)];
    if (state == wanted) return true;
    state = wanted;
    QModelIndex changed = index(row);
    emit dataChanged(changed, changed, {Qt::CheckStateRole});
    emit checkChanged(row);
    return true;
}

myCheckListBox::myCheckListBox(QWidget* parent) : QListView(parent), m_model(new FrameListModel(this)) {
    setObjectName(QStringLiteral("myCheckListBox"));
    setModel(m_model);
    // Every item has the same height: the view lays out any number of items without measuring them.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideRight);
    setFocusPolicy(Qt::StrongFocus);
}

myCheckListBox::~myCheckListBox() = default;

void myCheckListBox::ResetContent() {
    m_pressedCheck = -1;
    m_lastToggled = -1;
    m_model->Clear();
}

void myCheckListBox::AddFrameItems(const std::vector<FrameListModel::Item>& items) { m_model->Append(items); }

int myCheckListBox::GetCount() const { return m_model->rowCount(); }

QString myCheckListBox::GetText(int index) const { return m_model->Text(index); }

int myCheckListBox::GetCheck(int index) const { return m_model->Check(index); }

void myCheckListBox::SetCheck(int index, int check) { m_model->SetCheck(index, check); }

void myCheckListBox::CheckAll() {
    m_model->SetChecks(0, GetCount() - 1, [](int, uint8_t) { return true; });
}

void myCheckListBox::CheckNone() {
    m_model->SetChecks(0, GetCount() - 1, [](int, uint8_t) { return false; });
}

void myCheckListBox::InvertChecks() {
    m_model->SetChecks(0, GetCount() - 1, [](int, uint8_t old) { return old == 0; });
}

void myCheckListBox::CheckRangeToCaret() {
    const int caret = GetCaretIndex();
    if (caret < 0) return;
    if (m_lastToggled < 0 || m_lastToggled >= GetCount()) {
        SetCheck(caret, GetCheck(caret) ? 0 : 1);
    } else {
        const bool state = GetCheck(m_lastToggled) != 0;
        m_model->SetChecks(std::min(caret, m_lastToggled), std::max(caret, m_lastToggled),
                           [state](int, uint8_t) { return state; });
    }
    m_lastToggled = caret;
}

int myCheckListBox::GetCaretIndex() const {
    if (GetCount() == 0) return -1;
    QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : 0;
}

QRect myCheckListBox::CheckBoxRect(int index) const {
    QModelIndex item = m_model->index(index);
    if (!item.isValid()) return QRect();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(item);
    option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.checkState = GetCheck(index) ? Qt::Checked : Qt::Unchecked;
    option.text = GetText(index);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

bool myCheckListBox::OnCheckArea(const QModelIndex& item, const QPoint& point) const {
    if (!item.isValid()) return false;
    // The item's left end up to the box and as far again beyond it, so a click just beside the drawn
    // box still hits it.
    QRect box = CheckBoxRect(item.row());
    QRect row = visualRect(item);
    int right = box.right() + (box.left() - row.left());
    return point.x() >= row.left() && point.x() <= right && point.y() >= row.top() && point.y() <= row.bottom();
}

template <typename Handler>
void myCheckListBox::TrackInput(Handler handler) {
    if (m_inputDepth++ == 0) m_selectionMoved = false;
    handler();
    if (--m_inputDepth == 0 && m_selectionMoved) {
        m_selectionMoved = false;
        emit selectionChange();
    }
}

void myCheckListBox::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QListView::currentChanged(current, previous);
    if (m_inputDepth > 0) m_selectionMoved = true;
}

void myCheckListBox::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QListView::selectionChanged(selected, deselected);
    if (m_inputDepth > 0) m_selectionMoved = true;
}

void myCheckListBox::mousePressEvent(QMouseEvent* event) {
    m_pressedCheck = -1;
    QModelIndex item = indexAt(event->position().toPoint());
    bool onCheck = event->button() == Qt::LeftButton && OnCheckArea(item, event->position().toPoint());
    TrackInput([&] { QListView::mousePressEvent(event); });
    if (onCheck) {
        m_pressedCheck = item.row();
        m_lastToggled = item.row();
        SetCheck(item.row(), GetCheck(item.row()) ? 0 : 1);
        emit checkChange();
    }
}

void myCheckListBox::mouseMoveEvent(QMouseEvent* event) {
    // A drag that began on a check box does not sweep a selection over other items.
    if (m_pressedCheck >= 0 && (event->buttons() & Qt::LeftButton)) {
        event->accept();
        return;
    }
    TrackInput([&] { QListView::mouseMoveEvent(event); });
}

void myCheckListBox::mouseReleaseEvent(QMouseEvent* event) {
    TrackInput([&] { QListView::mouseReleaseEvent(event); });
    if (event->button() == Qt::LeftButton) m_pressedCheck = -1;
}

void myCheckListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    // A second click on a check box toggles it again, however fast it follows the first.
    QModelIndex item = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && OnCheckArea(item, event->position().toPoint())) {
        m_pressedCheck = item.row();
        m_lastToggled = item.row();
        SetCheck(item.row(), GetCheck(item.row()) ? 0 : 1);
        emit checkChange();
        event->accept();
        return;
    }
    TrackInput([&] { QListView::mouseDoubleClickEvent(event); });
}

void myCheckListBox::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Space && mods == Qt::ShiftModifier) {
        if (GetCount() > 0) {
            CheckRangeToCaret();
            emit checkChange();
        }
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Space && mods == Qt::NoModifier) {
        // The space bar toggles the caret item and gives every selected item the same state.
        int caret = GetCaretIndex();
        if (caret >= 0) {
            m_lastToggled = caret;
            int state = GetCheck(caret) ? 0 : 1;
            SetCheck(caret, state);
            for (const QModelIndex& selected : selectionModel()->selectedIndexes()) SetCheck(selected.row(), state);
            emit checkChange();
        }
        event->accept();
        return;
    }
    TrackInput([&] { QListView::keyPressEvent(event); });
}
