// A started program with one video open whose frames show their own index, so a test can tell which
// frame the view drew; the frame selector opens through its menu command with the scripted framework.
#pragma once

#include <QApplication>
#include <QDockWidget>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "framework/ChildFrame.h"
#include "framework/Document.h"
#include "dialogs/SelectVideoFrames.h"
#include "tests/gui_support/AppTestFixture.h"
#include "tests/support/TestVideos.h"
#include "view/CTessaronView.h"

class SelectorTest : public AppTest {
protected:
    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;
    static constexpr int kFrames = 12;

    void SetUp() override {
        AppTest::SetUp();
        std::string path = testsupport::MakeTestVideo("selector-160x120x12", kWidth, kHeight, kFrames);
        ASSERT_FALSE(path.empty());
        video = QString::fromStdString(path);
        Start();
        view = OpenView(video);
        ASSERT_NE(view, nullptr);
        // The first draw sets the frame bounds the selector lists.
        view->viewport()->repaint();
        ASSERT_EQ(view->m_frameEnd, kFrames);
    }

    // Tools > Frame Selector...; body runs while the dialog is shown, then the dialog closes.
    void RunSelector(const std::function<void(SelectVideoFrames*)>& body) {
        fw.dialogs.push_back([&body](QDialog* dialog) {
            auto* selector = qobject_cast<SelectVideoFrames*>(dialog);
            EXPECT_NE(selector, nullptr);
            if (selector) body(selector);
            return static_cast<int>(QDialog::Accepted);
        });
        frame()->Action(ID_FRAME_SELECTOR)->trigger();
        EXPECT_TRUE(fw.dialogs.empty()) << "the selector did not open";
    }

    // The index drawn in the frame the view last copied.
    int DrawnFrame() const { return view->m_pFrameCopy ? testsupport::ReadFrameIndex(view->m_pFrameCopy.get()) : -1; }
    void Paint() const { view->viewport()->repaint(); }

    // Puts the view's frame order into the given list order, as a sort leaves it.
    void SetOrder(const std::vector<int>& frames) {
        view->m_frameOrder.clear();
        for (int frame : frames) view->m_frameOrder.push_back(MakeFrameOrderKey(1000 + frame, frame));
    }

    // Clicks item i's check box, or its text.
    static void ClickCheck(myCheckListBox& list, int i, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        list.scrollTo(list.model()->index(i, 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, mods, list.CheckBoxRect(i).center());
    }
    static void ClickText(myCheckListBox& list, int i, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        list.scrollTo(list.model()->index(i, 0));
        QRect row = list.visualRect(list.model()->index(i, 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, mods, QPoint(row.right() - 10, row.center().y()));
    }
    static std::vector<int> Checked(const int* values, int count) {
        return values ? std::vector<int>(values, values + count) : std::vector<int>();
    }

    QString video;
    CTessaronView* view = nullptr;
};
