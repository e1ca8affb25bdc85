// A started program with one small uncompressed video open in its view.
#pragma once

#include <QImage>
#include <QScrollBar>

#include "framework/ChildFrame.h"
#include "framework/Document.h"
#include "tests/gui_support/AppTestFixture.h"
#include "view/CTessaronView.h"

class ViewTest : public AppTest {
protected:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;
    static constexpr int kFrames = 12;

    void SetUp() override {
        AppTest::SetUp();
        video = WorkFile("clip.avi");
        ASSERT_TRUE(MakeRawAvi(video, kWidth, kHeight, kFrames));
        Start();
    }

    CChildFrame* Frame(CTessaronView* view) const { return view->GetParentFrame(); }

    // Paints the view now, as the screen would.
    static void Paint(CTessaronView* view) { view->viewport()->repaint(); }
    // What the view shows, one image pixel per device pixel.
    static QImage Shown(CTessaronView* view) {
        return view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Pixel (x, y) of a frame block (bottom-up BGR rows) as a colour.
    static QRgb BlockPixel(const uint8_t* block, int width, int height, int x, int y) {
        const uint8_t* p = block + kDibHeaderSize + DibStride24(width) * (height - 1 - y) + 3 * x;
        return qRgb(p[2], p[1], p[0]);
    }
    // Pixel (x, y) of top-down BGR rows as ffmpeg writes them.
    static QRgb RawPixel(const QByteArray& rows, int width, int x, int y) {
        const auto* p = reinterpret_cast<const uint8_t*>(rows.constData()) + 3 * (width * y + x);
        return qRgb(p[2], p[1], p[0]);
    }
    static QRgb Inverted(QRgb c) { return qRgb(255 - qRed(c), 255 - qGreen(c), 255 - qBlue(c)); }

    QString video;
};
