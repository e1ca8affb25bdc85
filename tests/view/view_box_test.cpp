// The crop box: drags, status texts, the inverted outline and its repaint.
#include <QSpinBox>
#include <QTest>

#include "dialogs/ViewDialogs.h"
#include "tests/view/ViewTestFixture.h"

namespace {

const char* const kHint = "(%1, %2)  -  (Click and drag to create crop box...)";

class BoxTest : public ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        if (HasFatalFailure()) return;
        view = OpenView(video);
        ASSERT_NE(view, nullptr);
        Paint(view);
        plain = Shown(view);
    }
    QWidget* Surface() const { return view->viewport(); }
    QString Status() const { return mainStatusBar->GetPaneText(0); }
    void Press(QPoint p) { QTest::mousePress(Surface(), Qt::LeftButton, Qt::NoModifier, p); }
    void Move(QPoint p) { QTest::mouseMove(Surface(), p); }
    void Release(QPoint p) { QTest::mouseRelease(Surface(), Qt::LeftButton, Qt::NoModifier, p); }

    // Pixels that differ from the plain frame, and whether each of them is exactly inverted.
    QList<QPoint> Changed(const QImage& shown, bool* allInverted) const {
        QList<QPoint> changed;
        *allInverted = true;
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                if (shown.pixel(x, y) == plain.pixel(x, y)) continue;
                changed << QPoint(x, y);
                if (shown.pixel(x, y) != Inverted(plain.pixel(x, y))) *allInverted = false;
            }
        }
        return changed;
    }
    // The outline of the rectangle with corners (l, t) and (r, b), each pixel once.
    static QList<QPoint> Outline(int l, int t, int r, int b) {
        QList<QPoint> pts;
        for (int y = t; y <= b; ++y) {
            for (int x = l; x <= r; ++x) {
                if (x == l || x == r || y == t || y == b) pts << QPoint(x, y);
            }
        }
        return pts;
    }
    static QList<QPoint> Sorted(QList<QPoint> pts) {
        std::sort(pts.begin(), pts.end(),
                  [](QPoint a, QPoint b) { return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x(); });
        return pts;
    }

    CTessaronView* view = nullptr;
    QImage plain;
};

TEST_F(BoxTest, AClickWithoutAMoveMakesNoBox) {
    Press(QPoint(30, 40));
    EXPECT_EQ(view->m_dragging, 1);
    Release(QPoint(30, 40));
    EXPECT_EQ(view->m_dragging, 0);
    EXPECT_EQ(QPoint(view->m_boxX1, view->m_boxY1), QPoint(30, 40));
    EXPECT_EQ(QPoint(view->m_boxX2, view->m_boxY2), QPoint(30, 40));
    EXPECT_EQ(Status(), QString(kHint).arg(30).arg(40));
    // The status follows the pointer while there is no box.
    Move(QPoint(7, 9));
    EXPECT_EQ(Status(), QString(kHint).arg(7).arg(9));
    bool inverted = false;
    EXPECT_TRUE(Changed(Shown(view), &inverted).isEmpty());
    EXPECT_EQ(Surface()->cursor().shape(), Qt::CrossCursor);
}

TEST_F(BoxTest, ADragShowsTheBoxInvertedAndItsCornersInTheStatusBar) {
    Press(QPoint(100, 80));
    Move(QPoint(70, 50));
    Move(QPoint(40, 20));
    Release(QPoint(40, 20));
    EXPECT_EQ(Status(), "Box Corner Points: ( 100,   80), (  40,   20) - Box Size:    60 by   60");
    EXPECT_EQ(view->m_boxX1, 100);
    EXPECT_EQ(view->m_boxY1, 80);
    EXPECT_EQ(view->m_boxX2, 40);
    EXPECT_EQ(view->m_boxY2, 20);
    ProcessPendingEvents();
    bool inverted = false;
    EXPECT_EQ(Sorted(Changed(Shown(view), &inverted)), Sorted(Outline(40, 20, 100, 80)));
    EXPECT_TRUE(inverted);
    // Once a box exists the status shows it wherever the pointer goes.
    Move(QPoint(5, 5));
    EXPECT_EQ(Status(), "Box Corner Points: ( 100,   80), (  40,   20) - Box Size:    60 by   60");

    // A repaint over a fresh frame draws the outline once more, not twice.
    Paint(view);
    EXPECT_EQ(Sorted(Changed(Shown(view), &inverted)), Sorted(Outline(40, 20, 100, 80)));
    EXPECT_TRUE(inverted);
}

TEST_F(BoxTest, DraggingBackOntoTheAnchorRemovesTheBox) {
    Press(QPoint(50, 50));
    Move(QPoint(80, 70));
    EXPECT_TRUE(Status().startsWith("Box Corner Points:"));
    Move(QPoint(50, 50));
    EXPECT_EQ(Status(), QString(kHint).arg(50).arg(50));
    Release(QPoint(50, 50));
    ProcessPendingEvents();
    bool inverted = false;
    EXPECT_TRUE(Changed(Shown(view), &inverted).isEmpty());
}

TEST_F(BoxTest, ASecondPressRemovesTheOldOutline) {
    Press(QPoint(10, 10));
    Move(QPoint(60, 40));
    Release(QPoint(60, 40));
    Press(QPoint(200, 150));
    ProcessPendingEvents();
    bool inverted = false;
    EXPECT_TRUE(Changed(Shown(view), &inverted).isEmpty());
    Move(QPoint(210, 170));
    Release(QPoint(210, 170));
    ProcessPendingEvents();
    EXPECT_EQ(Sorted(Changed(Shown(view), &inverted)), Sorted(Outline(200, 150, 210, 170)));
}

TEST_F(BoxTest, AReleaseOutsideTheViewEndsTheDragAtTheFramesEdge) {
    Press(QPoint(100, 80));
    Move(QPoint(-30, 400));
    Release(QPoint(-30, 400));
    EXPECT_EQ(view->m_dragging, 0);
    EXPECT_EQ(QPoint(view->m_boxX2, view->m_boxY2), QPoint(0, kHeight));
    // Moving afterwards changes nothing.
    Move(QPoint(20, 20));
    EXPECT_EQ(QPoint(view->m_boxX2, view->m_boxY2), QPoint(0, kHeight));
}

TEST_F(BoxTest, CornersAreFramePixelsWhenTheViewIsScrolled) {
    CChildFrame* child = Frame(view);
    child->resize(child->width() - 120, child->height() - 100);
    ProcessPendingEvents();
    view->horizontalScrollBar()->setValue(30);
    view->verticalScrollBar()->setValue(20);
    ProcessPendingEvents();
    Press(QPoint(5, 6));
    Move(QPoint(25, 36));
    Release(QPoint(25, 36));
    EXPECT_EQ(QPoint(view->m_boxX1, view->m_boxY1), QPoint(35, 26));
    EXPECT_EQ(QPoint(view->m_boxX2, view->m_boxY2), QPoint(55, 56));
    // Drawn where the frame pixels are, that is shifted back by the scroll position.
    ProcessPendingEvents();
    QImage shown = Shown(view);
    QImage unboxed = plain.copy(30, 20, shown.width(), shown.height());
    EXPECT_EQ(shown.pixel(5, 6), Inverted(unboxed.pixel(5, 6)));
    EXPECT_EQ(shown.pixel(15, 16), unboxed.pixel(15, 16));
}

TEST_F(BoxTest, FrameSelectorKeepsTheBox) {
    Press(QPoint(10, 10));
    Move(QPoint(60, 40));
    Release(QPoint(60, 40));
    fw.dialogs.push_back([](QDialog*) { return static_cast<int>(QDialog::Rejected); });
    frame()->Action(ID_FRAME_SELECTOR)->trigger();
    EXPECT_EQ(view->m_dragging, 0);
    EXPECT_EQ(QRect(QPoint(view->m_boxX1, view->m_boxY1), QPoint(view->m_boxX2, view->m_boxY2)),
              QRect(QPoint(10, 10), QPoint(60, 40)));
    ProcessPendingEvents();
    bool inverted = false;
    EXPECT_EQ(Sorted(Changed(Shown(view), &inverted)), Sorted(Outline(10, 10, 60, 40)));
}

TEST_F(BoxTest, TheBoxMovesAndResizesByItsEdgesAndCornersAndCanBeTyped) {
    // Each row starts from the box (40, 30)-(120, 90): a press at from, a drag by delta.
    struct Row {
        QPoint from, delta;
        QRect box;  // left, top, right, bottom after the drag
    } rows[] = {
        {{80, 60}, {10, 5}, QRect(QPoint(50, 35), QPoint(130, 95))},              // inside: moved
        {{80, 60}, {-100, -100}, QRect(QPoint(0, 0), QPoint(80, 60))},            // moved, kept in the frame
        {{40, 60}, {-15, 0}, QRect(QPoint(25, 30), QPoint(120, 90))},             // left edge
        {{121, 60}, {20, 0}, QRect(QPoint(40, 30), QPoint(140, 90))},             // right edge, grabbed a pixel off
        {{80, 90}, {0, 12}, QRect(QPoint(40, 30), QPoint(120, 102))},             // bottom edge
        {{40, 30}, {-10, -20}, QRect(QPoint(30, 10), QPoint(120, 90))},           // top left corner
        {{120, 90}, {500, 500}, QRect(QPoint(40, 30), QPoint(kWidth, kHeight))},  // corner to the frame's end
        {{200, 200}, {10, 10}, QRect(QPoint(200, 200), QPoint(210, 210))},        // outside: a new box
    };
    for (const Row& row : rows) {
        view->SetBox(40, 30, 120, 90);
        Press(row.from);
        Move(row.from + row.delta / 2);
        Move(row.from + row.delta);
        Release(row.from + row.delta);
        const QRect box(QPoint(std::min(view->m_boxX1, view->m_boxX2), std::min(view->m_boxY1, view->m_boxY2)),
                        QPoint(std::max(view->m_boxX1, view->m_boxX2), std::max(view->m_boxY1, view->m_boxY2)));
        EXPECT_EQ(box, row.box) << row.from.x() << "," << row.from.y();
    }

    // Tools > Crop Box... offers the box and takes what is typed, within the frame.
    view->SetBox(40, 30, 120, 90);
    fw.dialogs.push_back([](QDialog* dialog) {
        auto* typed = qobject_cast<CropBoxDialog*>(dialog);
        EXPECT_NE(typed, nullptr);
        if (!typed) return static_cast<int>(QDialog::Rejected);
        EXPECT_EQ(typed->XBox()->value(), 40);
        EXPECT_EQ(typed->WidthBox()->value(), 80);
        typed->XBox()->setValue(300);
        EXPECT_EQ(typed->WidthBox()->maximum(), kWidth - 300);
        typed->YBox()->setValue(7);
        typed->WidthBox()->setValue(15);
        typed->HeightBox()->setValue(9);
        return static_cast<int>(QDialog::Accepted);
    });
    frame()->Action(ID_CROP_BOX)->trigger();
    EXPECT_EQ(QRect(QPoint(view->m_boxX1, view->m_boxY1), QPoint(view->m_boxX2, view->m_boxY2)),
              QRect(QPoint(300, 7), QPoint(315, 16)));
    EXPECT_EQ(Status(), "Box Corner Points: ( 300,    7), ( 315,   16) - Box Size:    15 by    9");
}

TEST_F(BoxTest, ScreenshotWithADraggedBox) {
    Press(QPoint(60, 50));
    for (int i = 1; i <= 10; ++i) Move(QPoint(60 + 18 * i, 50 + 12 * i));
    Release(QPoint(240, 170));
    ProcessPendingEvents();
    QString shot = SaveScreenshot(frame(), "main-window-with-crop-box");
    EXPECT_FALSE(shot.isEmpty());
    std::printf("screenshot: %s\n", qPrintable(shot));
}

TEST_F(ViewTest, TheBoxCanBeDraggedOverAnEmptyView) {
    app()->OnFileNew();
    auto* view = qobject_cast<CTessaronView*>(app()->DocTemplate()->GetDocuments().first()->GetViews().first());
    ASSERT_NE(view, nullptr);
    ProcessPendingEvents();
    QTest::mousePress(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
    QTest::mouseMove(view->viewport(), QPoint(50, 45));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 45));
    EXPECT_EQ(mainStatusBar->GetPaneText(0), "Box Corner Points: (  20,   30), (  50,   45) - Box Size:    30 by   15");
    ProcessPendingEvents();
    QImage shown = Shown(view);
    QRgb background = view->palette().color(QPalette::Window).rgb();
    EXPECT_EQ(shown.pixel(35, 30), Inverted(background));
    EXPECT_EQ(shown.pixel(35, 35), background);
}

}  // namespace
