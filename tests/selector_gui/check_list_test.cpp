// The check-list on its own: item texts, check boxes, extended selection and its notifications, and
// an hour of video's worth of items.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include "dialogs/myCheckListBox.h"

namespace {

class CheckListTest : public ::testing::Test {
protected:
    void SetUp() override {
        list.resize(300, 200);
        list.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    }
    void Fill(int count) {
        std::vector<FrameListModel::Item> items;
        for (int i = 0; i < count; ++i) items.push_back({i, count - 1 - i});
        list.AddFrameItems(items);
    }
    QPoint TextPoint(int i) {
        list.scrollTo(list.model()->index(i, 0));
        QRect row = list.visualRect(list.model()->index(i, 0));
        return QPoint(row.right() - 10, row.center().y());
    }
    QPoint CheckPoint(int i) {
        list.scrollTo(list.model()->index(i, 0));
        return list.CheckBoxRect(i).center();
    }

    myCheckListBox list;
};

TEST_F(CheckListTest, EachUserActionIsReportedOnceAndTheProgramsOwnChangesNot) {
    Fill(20);
    QSignalSpy checks(&list, &myCheckListBox::checkChange);
    QSignalSpy selections(&list, &myCheckListBox::selectionChange);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, CheckPoint(2));
    EXPECT_EQ(list.GetCheck(2), 1);
    EXPECT_EQ(list.GetCaretIndex(), 2);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, TextPoint(4));
    EXPECT_EQ(list.GetCheck(4), 0);
    EXPECT_EQ(checks.count(), 1);
    EXPECT_EQ(selections.count(), 2);

    list.SetCheck(5, 1);
    list.setCurrentIndex(list.Model()->index(7));
    list.ResetContent();
    EXPECT_EQ(checks.count(), 1);
    EXPECT_EQ(selections.count(), 2);
    EXPECT_EQ(list.GetCaretIndex(), -1);
    EXPECT_EQ(list.GetCheck(5), 0);
}

TEST_F(CheckListTest, ShiftAndCtrlExtendTheSelectionAndTheCaretFollowsTheLastClick) {
    Fill(20);
    QSignalSpy selections(&list, &myCheckListBox::selectionChange);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, TextPoint(3));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ShiftModifier, TextPoint(6));
    EXPECT_EQ(list.GetCaretIndex(), 6);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ((list.selectionModel()->isSelected(list.Model()->index(i)) ? 1 : 0), i >= 3 && i <= 6 ? 1 : 0) << i;
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, TextPoint(10));
    EXPECT_EQ(list.GetCaretIndex(), 10);
    EXPECT_EQ((list.selectionModel()->isSelected(list.Model()->index(10)) ? 1 : 0), 1);
    EXPECT_EQ((list.selectionModel()->isSelected(list.Model()->index(5)) ? 1 : 0), 1);
    // One notification per click, however many items changed.
    EXPECT_EQ(selections.count(), 3);

    QSignalSpy checks(&list, &myCheckListBox::checkChange);
    QTest::keyClick(&list, Qt::Key_Space);
    EXPECT_EQ(checks.count(), 1);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(list.GetCheck(i), (i >= 3 && i <= 6) || i == 10 ? 1 : 0) << i;
    QTest::keyClick(&list, Qt::Key_Space);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(list.GetCheck(i), 0) << i;
}

TEST_F(CheckListTest, AnHourOfFramesFillsAndScrollsToItsEnd) {
    constexpr int kItems = 90000;
    Fill(kItems);
    ASSERT_EQ(list.GetCount(), kItems);
    EXPECT_EQ(list.GetText(kItems - 1), "89999  -  Original Frame Number 0");
    list.scrollToBottom();
    QModelIndex last = list.model()->index(kItems - 1, 0);
    EXPECT_TRUE(list.viewport()->rect().intersects(list.visualRect(last)));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, CheckPoint(kItems - 1));
    EXPECT_EQ(list.GetCheck(kItems - 1), 1);
    EXPECT_EQ(list.GetCaretIndex(), kItems - 1);
    // Every item has the height of the first, so the scroll range is exact.
    QScrollBar* bar = list.verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_FALSE(list.viewport()->grab().isNull());
}

}  // namespace
