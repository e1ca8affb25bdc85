// The frame selector's check-list: one item per list position, "%d  -  Original Frame Number %d", each
// with a check box in front. Items keep the order in which they were added. A list over a model of its
// own, so an hour of video (90,000 frames) fills and scrolls at once: the items hold two numbers each
// and their texts are made only when an item is drawn or asked for.
#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <algorithm>
#include <cstdint>
#include <vector>

// Items of the check-list and their check states.
class FrameListModel : public QAbstractListModel {
    Q_OBJECT
public:
    struct Item {
        int position;         // list position shown in the text
        int frame;            // original frame number shown in the text
        uint8_t checked = 0;  // check state it is added with
    };

    explicit FrameListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void Clear();
    // Appends items, with their check states, in the order given.
    void Append(const std::vector<Item>& items);
    QString Text(int row) const;
    // The original frame number of a row; -1 for a row that does not exist.
    int Frame(int row) const;
    int Check(int row) const;
    // Returns false for a row that does not exist; signals the change when the state differs.
    bool SetCheck(int row, int check);
    // Gives rows first to last (inclusive, clamped to the list) the state state(row, old state), with one
    // change notification for all of them and no checkChanged: fast on any number of rows.
    template <typename State>
    void SetChecks(int first, int last, State state) {
        first = std::max(first, 0);
        last = std::min(last, rowCount() - 1);
        if (first > last) return;
        for (int row = first; row <= last; ++row) {
            uint8_t& check = m_checks[static_cast<size_t>(row)];
            check = state(row, check) ? 1 : 0;
        }
        emit dataChanged(index(first), index(last), {Qt::CheckStateRole});
    }

signals:
    // A check state changed.
    void checkChanged(int row);

private:
    std::vector<Item> m_items;
    std::vector<uint8_t> m_checks;
};

class myCheckListBox : public QListView {
    Q_OBJECT
public:
    explicit myCheckListBox(QWidget* parent = nullptr);
    ~myCheckListBox() override;

    // Removes every item.
    void ResetContent();
    // Adds items "%d  -  Original Frame Number %d" (position, frame) at the end, in order, with one
    // notification to the view for all of them.
    void AddFrameItems(const std::vector<FrameListModel::Item>& items);

    int GetCount() const;
    // The item's text; empty for an index out of range.
    QString GetText(int index) const;
    // 0 unchecked, 1 checked; 0 for an index out of range.
    int GetCheck(int index) const;
    void SetCheck(int index, int check);
    // Checks every item, none, or turns every check over.
    void CheckAll();
    void CheckNone();
    void InvertChecks();
    // Gives the items from the last one the user toggled to the caret item the state of the last toggle
    // (Shift+Space); with no toggle yet it toggles the caret item.
    void CheckRangeToCaret();
    // The item with the focus rectangle (the one that counts in an extended selection); -1 when the list
    // is empty.
    int GetCaretIndex() const;

    FrameListModel* Model() const { return m_model; }
    // Where the item's check box is drawn, in viewport coordinates.
    QRect CheckBoxRect(int index) const;

signals:
    // The user changed the selection or the caret item (one signal per key press or mouse action).
    void selectionChange();
    // The user toggled a check box.
    void checkChange();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    // Whether point (viewport coordinates) falls on the item's check box.
    bool OnCheckArea(const QModelIndex& item, const QPoint& point) const;
    // Runs one input handler and reports a selection change it caused, once.
    template <typename Handler>
    void TrackInput(Handler handler);

    FrameListModel* m_model;
    int m_inputDepth = 0;           // inside a user input handler
    bool m_selectionMoved = false;  // the selection or caret moved during that input
    int m_pressedCheck = -1;        // item whose check box took the last press
    int m_lastToggled = -1;         // item the user toggled last: the far end of a Shift+Space range
};
