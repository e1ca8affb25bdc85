// "Sort" and the quality preview in the view, checked against tessaron-cli rank, cjpeg and djpeg.
#include <QFile>
#include <QImage>
#include <QTest>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "app/MainFrame.h"
#include "image/dib.h"
#include "video/FrameBitmap.h"
#include "tests/viewops/ViewOpsFixture.h"

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kFrames = 12;
// How much detail each frame has: a square of noise whose side grows with the level over a smooth
// background. Frames 9 and 10 are the same picture, the most detailed one.
constexpr int kLevel[kFrames] = {3, 7, 1, 10, 0, 5, 8, 2, 6, 11, 11, 4};

opstest::Bytes DetailPicture(int level) {
    opstest::Bytes picture(size_t(3) * kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &picture[size_t(3) * (size_t(y) * kWidth + x)];
            p[0] = uint8_t(2 * x);
            p[1] = uint8_t(3 * y);
            p[2] = uint8_t(x + y);
        }
    const int side = 6 + 5 * level;
    uint32_t seed = 7u + uint32_t(level);
    for (int y = 0; y < side && y < kHeight; ++y)
        for (int x = 0; x < side && x < kWidth; ++x)
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                picture[size_t(3) * (size_t(y) * kWidth + x) + size_t(c)] = uint8_t(seed >> 24);
            }
    return picture;
}

// The frames sorted by detail, most detailed first; equal pictures in the text order of their numbers.
const std::vector<int> kDetailOrder = {10, 9, 3, 6, 1, 8, 5, 11, 0, 7, 2, 4};

std::string DetailVideo() {
    std::vector<opstest::Bytes> pictures;
    for (int level : kLevel) pictures.push_back(DetailPicture(level));
    return opstest::MakeVideo("detail", kWidth, kHeight, pictures);
}

std::vector<int> FramesOf(const std::vector<std::pair<int, int>>& keys) {
    std::vector<int> frames;
    for (const auto& key : keys) frames.push_back(key.second);
    return frames;
}

// The frame copy of a view, header and rows.
opstest::Bytes FrameCopy(CTessaronView* view) {
    const uint8_t* copy = view->m_pFrameCopy.get();
    if (!copy) return {};
    BITMAPINFOHEADER header;
    std::memcpy(&header, copy, sizeof header);
    return opstest::Bytes(copy, copy + FrameBlockSize(header.biWidth, header.biHeight));
}

// What the view shows at (0, 0) in the frame's size, top-down BGR.
opstest::Bytes Shown(CTessaronView* view, int width, int height) {
    const QImage image = view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    opstest::Bytes picture;
    if (image.width() < width || image.height() < height) return picture;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const QRgb c = image.pixel(x, y);
            picture.push_back(uint8_t(qBlue(c)));
            picture.push_back(uint8_t(qGreen(c)));
            picture.push_back(uint8_t(qRed(c)));
        }
    return picture;
}

// The picture after "cjpeg -quality q -baseline" and djpeg, top-down BGR; empty when a tool fails.
opstest::Bytes CjpegRoundTrip(const opstest::Bytes& picture, int width, int height, int quality) {
    const std::string ppm = opstest::Scratch("roundtrip.ppm"), jpg = opstest::Scratch("roundtrip.jpg"),
                      out = opstest::Scratch("roundtrip-out.ppm");
    opstest::Bytes file;
    const std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    file.insert(file.end(), head.begin(), head.end());
    for (size_t i = 0; i + 2 < picture.size(); i += 3) {
        file.push_back(picture[i + 2]);
        file.push_back(picture[i + 1]);
        file.push_back(picture[i]);
    }
    if (!opstest::WriteFileBytes(ppm, file)) return {};
    const std::string command = "cjpeg -quality " + std::to_string(quality) + " -baseline " +
                                testsupport::ShellQuote(ppm) + " > " + testsupport::ShellQuote(jpg) +
                                " && djpeg -pnm " + testsupport::ShellQuote(jpg) + " > " + testsupport::ShellQuote(out);
    if (testsupport::RunCommand(command) != 0) return {};
    const opstest::Bytes decoded = opstest::ReadFileBytes(out);
    const size_t pixels = size_t(3) * size_t(width) * size_t(height);
    if (decoded.size() < pixels) return {};
    opstest::Bytes result;
    for (size_t i = decoded.size() - pixels; i + 2 < decoded.size(); i += 3) {
        result.push_back(decoded[i + 2]);
        result.push_back(decoded[i + 1]);
        result.push_back(decoded[i]);
    }
    return result;
}

TEST_F(ViewOpsTest, SortGivesTheCliOrderAndShowsTheMostDetailedFrame) {
    const std::string video = DetailVideo();
    ASSERT_FALSE(video.empty());
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    view->ShowFrame(4);
    view->viewport()->repaint();
    const QString baseTitle = view->m_baseTitle;
    // While frame 5 is read the document is titled with the frame scored last.
    QString titleDuringSort;
    ui.onStatus = [&](const QString& text) {
        if (text == "Processing Frame    5") titleDuringSort = view->GetDocument()->GetTitle();
    };

    view->SortFrames();
    const Ranked cli = Rank(video, 25);
    ASSERT_EQ(cli.status, 0);
    EXPECT_EQ(Keys(view->m_frameOrder), cli.keys);
    EXPECT_EQ(FramesOf(Keys(view->m_frameOrder)), kDetailOrder);
    // Of the two most detailed (equal) frames the earlier one is shown, though 10 sorts first.
    EXPECT_EQ(view->m_currentFrame, 9);

    // One progress text per frame, then the pane is emptied; the busy cursor is off again; the next
    // paint titles the document with the best frame.
    std::vector<QString> progress;
    for (const QString& text : ui.statusTexts)
        if (text.startsWith("Processing")) progress.push_back(text);
    ASSERT_EQ(progress.size(), size_t(kFrames));
    EXPECT_EQ(progress.front(), "Processing Frame    0");
    EXPECT_EQ(progress.back(), "Processing Frame   11");
    EXPECT_EQ(ui.statusTexts.back(), "");
    EXPECT_EQ(titleDuringSort, baseTitle + " - Frame 4");
    EXPECT_EQ(ui.WaitCursorCount(), 0);
    EXPECT_TRUE(ui.messages.empty());
    view->viewport()->repaint();
    EXPECT_EQ(view->GetDocument()->GetTitle(), baseTitle + " - 9");
}

TEST_F(ViewOpsTest, TheSelectorsQualityDecidesTheScoresThroughItsLowEightBits) {
    const std::string video = DetailVideo();
    ASSERT_FALSE(video.empty());
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    view->m_pSelector->SetQuality(90);
    view->SortFrames();
    const Ranked at90 = Rank(video, 90);
    EXPECT_EQ(Keys(view->m_frameOrder), at90.keys);

    view->m_pSelector->SetQuality(256 + 25);
    view->SortFrames();
    const Ranked at25 = Rank(video, 25);
    EXPECT_EQ(Keys(view->m_frameOrder), at25.keys);
    EXPECT_NE(at25.keys, at90.keys);
}

TEST_F(ViewOpsTest, ATerminatedSortKeepsThePreviousOrderScoresAndFrame) {
    const std::string video = DetailVideo();
    ASSERT_FALSE(video.empty());
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    view->SortFrames();
    const std::vector<std::string> sorted = view->m_frameOrder;
    const std::vector<PickScore> scores = view->m_pickScores;
    view->ShowFrame(5);
    // A sharpness sort, ended by Escape while frame 3 is scored: the question comes before frame 4.
    view->m_pSelector->ScoreBox()->setCurrentIndex(1);
    PressEscapeAt(view, "Processing Frame    3");
    view->SortFrames();

    EXPECT_EQ(ui.MessageTexts(), (std::vector<QString>{"Terminate the Action?", "Operation terminated."}));
    EXPECT_EQ(view->m_pSelector->OrderReset(), 1);
    EXPECT_EQ(view->m_frameOrder, sorted);
    ASSERT_EQ(view->m_pickScores.size(), scores.size());
    EXPECT_EQ(view->m_pickScores[7].score.jpegBytes, scores[7].score.jpegBytes);
    EXPECT_EQ(view->m_pickScoring.kind, ScoreKind::Jpeg);
    EXPECT_EQ(view->m_currentFrame, 5);
    int progress = 0;
    for (const QString& text : ui.statusTexts) progress += text.startsWith("Processing") ? 1 : 0;
    EXPECT_EQ(progress, 12 + 4);
}

TEST_F(ViewOpsTest, AFileCutInTheMiddleOfAFrameEndsWithTheLastWholeOne) {
    // Cut off three quarters into the data of a frame: the part of a picture is no frame, so the sort
    // scores the whole frames before it and has nothing to report.
    const std::string whole = DetailVideo();
    ASSERT_FALSE(whole.empty());
    opstest::Bytes bytes = opstest::ReadFileBytes(whole);
    const std::string chunk = "00dc";
    auto at = bytes.begin();
    for (int i = 0; i <= 7 && at != bytes.end(); ++i)
        at = std::search(i == 0 ? at : at + 1, bytes.end(), chunk.begin(), chunk.end());
    ASSERT_NE(at, bytes.end());
    bytes.resize(size_t(at - bytes.begin()) + 8 + size_t(0.75 * 3 * kWidth * kHeight));
    const std::string cut = opstest::Scratch("detail-cut.avi");
    ASSERT_TRUE(opstest::WriteFileBytes(cut, bytes));
    const Ranked cli = Rank(cut, 25);
    ASSERT_EQ(cli.status, 0);
    const int wholeFrames = static_cast<int>(cli.keys.size());
    ASSERT_GT(wholeFrames, 0);

    CTessaronView* view = OpenVideo(cut);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->m_pFrameInfo->frameCount, wholeFrames);
    view->SortFrames();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(Keys(view->m_frameOrder), cli.keys);
    EXPECT_EQ(view->m_currentFrame, BestOf(cli, wholeFrames));
}

TEST_F(ViewOpsTest, AFrameInTheMiddleThatDoesNotDecodeIsSkippedAndNamedAtTheEnd) {
    const std::string video = testsupport::DamagedPacketMp4(64, 48, 30, 12);
    ASSERT_FALSE(video.empty());
    const Ranked cli = Rank(video, 25);
    ASSERT_EQ(cli.status, 0);
    ASSERT_EQ(cli.keys.size(), 29u);
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    view->SortFrames();
    EXPECT_EQ(ui.MessageTexts(),
              std::vector<QString>{"These frames could not be read and are left out of the sort:\n12\n"});
    EXPECT_EQ(Keys(view->m_frameOrder), cli.keys);
    EXPECT_EQ(view->m_currentFrame, BestOf(cli, 30));
}

TEST_F(ViewOpsTest, ASortThatScoresNoFrameLeavesTheCurrentFrame) {
    // A copy of the video that disappears under the open view: not even frame 0 can be read again.
    const std::string video = opstest::Scratch("vanishing.avi");
    ASSERT_TRUE(opstest::WriteFileBytes(video, opstest::ReadFileBytes(DetailVideo())));
    // Our AVI reader keeps no decoded frames ahead, so none can be scored from memory either.
    setenv("TESSARON_MEDIA_DETECTOR", "0", 1);
    CTessaronView* view = OpenVideo(video);
    unsetenv("TESSARON_MEDIA_DETECTOR");
    ASSERT_NE(view, nullptr);
    view->ShowFrame(5);
    view->viewport()->repaint();
    ASSERT_TRUE(opstest::WriteFileBytes(video, opstest::Bytes()));

    view->SortFrames();
    ASSERT_EQ(ui.MessageTexts(), std::vector<QString>{"Cannot handle frames beyond frame 0"});
    EXPECT_TRUE(view->m_frameOrder.empty());
    EXPECT_EQ(view->m_currentFrame, 5);
}

TEST_F(ViewOpsTest, ThePreviewShowsTheJpegRoundTripAndChangesNothingElse) {
    const std::string video = DetailVideo();
    ASSERT_FALSE(video.empty());
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    view->SortFrames();
    const std::vector<std::string> sorted = view->m_frameOrder;
    view->ShowFrame(3);
    view->viewport()->repaint();
    const opstest::Bytes copy = FrameCopy(view);
    const opstest::Bytes plain = opstest::PictureOf(copy.data(), kWidth, kHeight);
    ASSERT_EQ(Shown(view, kWidth, kHeight), plain);

    // The selector open, "View" checked at quality 40.
    view->m_pSelector->SetQuality(40);
    view->m_pSelector->show();
    view->QualityPreview(true);
    EXPECT_EQ(view->m_previewOn, 1);
    EXPECT_EQ(view->m_pSelector->StatusText(),
              "Viewing effect of quality parameter\non compression/decompression of frame:  3 ");
    ProcessPendingEvents();
    const opstest::Bytes reference = CjpegRoundTrip(plain, kWidth, kHeight, 40);
    ASSERT_FALSE(reference.empty());
    EXPECT_NE(reference, plain);
    EXPECT_EQ(Shown(view, kWidth, kHeight), reference);
    // Every paint while the preview is on shows the round trip again.
    view->viewport()->repaint();
    EXPECT_EQ(Shown(view, kWidth, kHeight), reference);
    EXPECT_EQ(FrameCopy(view), copy);
    EXPECT_EQ(view->m_frameOrder, sorted);

    // "View" again: the frame itself.
    view->QualityPreview(false);
    EXPECT_EQ(view->m_previewOn, 0);
    EXPECT_EQ(view->m_pSelector->StatusText(), "Displaying frame:  3");
    ProcessPendingEvents();
    EXPECT_EQ(Shown(view, kWidth, kHeight), plain);
    EXPECT_EQ(FrameCopy(view), copy);
    view->m_pSelector->hide();

    // Sorting with the preview on gives the same scores.
    view->QualityPreview(true);
    view->m_pSelector->SetQuality(25);
    view->SortFrames();
    EXPECT_EQ(view->m_frameOrder, sorted);
}

TEST_F(ViewOpsTest, EachViewPreviewsAndSavesItsOwnFrame) {
    const std::string small = DetailVideo();
    const std::string large = testsupport::MakeTestVideo("viewops-200x150", 200, 150, 6);
    ASSERT_FALSE(small.empty());
    ASSERT_FALSE(large.empty());
    CTessaronView* a = OpenVideo(small);
    CTessaronView* b = OpenVideo(large);
    ASSERT_TRUE(a && b);
    a->ShowFrame(2);
    a->viewport()->repaint();
    const opstest::Bytes plainA = opstest::FfmpegFrames(small, kWidth, kHeight).at(2);
    // The larger video paints last: the shared bitmap now holds its frame.
    b->ShowFrame(4);
    b->viewport()->repaint();
    ASSERT_EQ(sharedFrameBitmap.GetHeader()->biWidth, 200);

    a->QualityPreview(true);
    ProcessPendingEvents();
    EXPECT_EQ(Shown(a, kWidth, kHeight), CjpegRoundTrip(plainA, kWidth, kHeight, 25));
    a->QualityPreview(false);

    // The BMP of A holds A's frame 2, though B painted last.
    b->viewport()->repaint();
    ASSERT_EQ(sharedFrameBitmap.GetHeader()->biWidth, 200);
    const QString out = WorkFile("a-2.bmp");
    ui.fileAnswers.push_back(out);
    a->SaveDisplayedFrame(2);
    const opstest::Bytes bmp = opstest::ReadFileBytes(out.toStdString());
    ASSERT_EQ(bmp.size(), size_t(54 + 3 * kWidth * kHeight));
    EXPECT_EQ(opstest::PictureOf(bmp.data() + 14, kWidth, kHeight), plainA);
}

TEST_F(ViewOpsTest, SortWithThePreviewOnShowsRoundTripsAndEndsWithThePreviewOff) {
    const std::string video = DetailVideo();
    ASSERT_FALSE(video.empty());
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    const std::vector<opstest::Bytes> frames = opstest::FfmpegFrames(video, kWidth, kHeight);
    ASSERT_EQ(frames.size(), size_t(kFrames));
    // While frame 5 is read, the view shows frame 4 as it comes out of the JPEG round trip.
    opstest::Bytes shownDuringSort;
    ui.onStatus = [&](const QString& text) {
        if (text == "Processing Frame    5") shownDuringSort = Shown(view, kWidth, kHeight);
    };
    ui.dialogs.push_back([&](QDialog* dialog) {
        auto* selector = qobject_cast<SelectVideoFrames*>(dialog);
        EXPECT_NE(selector, nullptr);
        if (!selector) return int(QDialog::Rejected);
        QTest::mouseClick(&selector->ViewButton(), Qt::LeftButton);
        EXPECT_EQ(view->m_previewOn, 1);
        QTest::mouseClick(selector->SortButton(), Qt::LeftButton);
        EXPECT_EQ(view->m_previewOn, 0);
        EXPECT_FALSE(selector->ViewButton().isChecked());
        EXPECT_EQ(selector->StatusText(), "Displaying frame:  9");
        EXPECT_EQ(view->m_currentFrame, 9);
        ProcessPendingEvents();
        EXPECT_EQ(Shown(view, kWidth, kHeight), frames[9]);
        return int(QDialog::Accepted);
    });
    frame()->Action(ID_FRAME_SELECTOR)->trigger();
    EXPECT_TRUE(ui.dialogs.empty());
    EXPECT_EQ(shownDuringSort, CjpegRoundTrip(frames[4], kWidth, kHeight, 25));
    EXPECT_TRUE(ui.unexpected.empty());
}

}  // namespace

// After a sort by either score the status bar gives the shown frame's score in words and its rank; while
// the sort runs, every paint shows the frame that both titles and the frame pane name.
TEST_F(ViewOpsTest, TheStatusBarGivesTheScoreInWordsAndStaysInStepDuringTheSort) {
    const std::string video = DetailVideo();
    ASSERT_FALSE(video.empty());
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    SelectVideoFrames* selector = view->m_pSelector;
    struct Row {
        int scoreIndex;
        const char* group;
        bool qualityEnabled;
    } rows[] = {{0, "Apply \"JPEG-size\" frame sorting algorithm", true},
                {1, "Apply \"Sharpness\" frame sorting algorithm", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.group);
        selector->ScoreBox()->setCurrentIndex(row.scoreIndex);
        EXPECT_EQ(selector->SortGroup()->title(), row.group);
        EXPECT_EQ(selector->QualitySpin()->isEnabled(), row.qualityEnabled);

        // Between two frames of the sort (when the next is read) the titles and the pane name the frame shown.
        int rounds = 0;
        ui.onStatus = [&](const QString& text) {
            if (!text.startsWith("Processing Frame") || text.endsWith(" 0")) return;
            ++rounds;
            const QString title = view->GetDocument()->GetTitle();
            EXPECT_TRUE(title.endsWith(QString(" - Frame %1").arg(view->m_currentFrame))) << title.toStdString();
            EXPECT_TRUE(frame()->windowTitle().endsWith(title));
            EXPECT_TRUE(mainStatusBar->FrameText().startsWith(QString("Frame %1 of ").arg(view->m_currentFrame)));
        };
        view->SortFrames();
        ui.onStatus = nullptr;
        EXPECT_EQ(rounds, kFrames - 1);

        int score = 0, third = 0;
        ASSERT_EQ(ParseFrameOrderKey(view->m_frameOrder[2].c_str(), &score, &third), 2);
        view->ShowFrame(third);
        const JpegScore& s = view->m_pickScores[static_cast<size_t>(third)].score;
        const QString words =
            row.scoreIndex == 0
                ? QString("JPEG %1 bytes at quality 25").arg(QLocale(QLocale::English).toString(s.jpegBytes))
                : QString("sharpness %1").arg(s.sharpness, 0, 'f', 1);
        ASSERT_GT(s.jpegBytes + s.sharpness, 0);
        EXPECT_TRUE(view->FrameStatusText().endsWith(QString("   %1, rank 3 of %2   100 %").arg(words).arg(kFrames)))
            << view->FrameStatusText().toStdString();
    }
    EXPECT_FALSE(SaveScreenshot(frame(), QStringLiteral("status-after-sharpness-sort")).isEmpty());
}
