// Crop and Save, the export of checked frames and the BMP save of the view, as the user starts them,
// with ffmpeg, ffprobe and Pillow reading what was written.
#include <QTest>
#include <csignal>
#include <filesystem>

#include <sys/resource.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <algorithm>

#include "app/MainFrame.h"
#include "dialogs/PickDialogs.h"
#include "dialogs/SelectVideoFrames.h"
#include "image/dib.h"
#include "output/FrameExport.h"
#include "tests/support/TestCli.h"
#include "tests/viewops/ViewOpsFixture.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kFrames = 12;
const QString kAviFilter = "AVI Files (*.avi)|*.avi|All Files (*.*)|*.*||";

class ExportTest : public ViewOpsTest {
protected:
    void SetUp() override {
        ViewOpsTest::SetUp();
        const std::string made = testsupport::MakeTestVideo("viewops-64x48x12", kWidth, kHeight, kFrames);
        ASSERT_FALSE(made.empty());
        // A copy of its own, so the test can watch its bytes and time.
        video = WorkFile("clip.avi").toStdString();
        ASSERT_TRUE(opstest::WriteFileBytes(video, opstest::ReadFileBytes(made)));
        timespec old{};
        old.tv_sec = 1'500'000'000;
        old.tv_nsec = 0;
        std::string error;
        ASSERT_TRUE(SetModificationTime(video.c_str(), old, &error)) << error;
        sourceHash = opstest::FileHash(video);
        view = OpenVideo(video);
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(opstest::FileHash(video), sourceHash) << "the source video changed";
        ViewOpsTest::TearDown();
    }

    void Drag(QPoint from, QPoint to) {
        QWidget* surface = view->viewport();
        QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(surface, (from + to) / 2);
        QTest::mouseMove(surface, to);
        QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, to);
    }
    void CropAndSave() { frame()->Action(ID_CROP_AND_SAVE)->trigger(); }
    void Export(const std::vector<int>& frames) { view->ExportChecked(frames); }
    std::vector<QString> Progress() const {
        std::vector<QString> texts;
        for (const QString& text : ui.statusTexts)
            if (text.startsWith("Processing")) texts.push_back(text);
        return texts;
    }
    // The frame index each decoded picture shows.
    static std::vector<int> Indices(const std::string& path) {
        std::vector<int> indices;
        for (const opstest::Bytes& picture : opstest::FfmpegFrames(path, kWidth, kHeight)) {
            std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + picture.size());
            BITMAPINFOHEADER header{};
            header.biSize = sizeof header;
            header.biWidth = kWidth;
            header.biHeight = -kHeight;
            header.biPlanes = 1;
            header.biBitCount = 24;
            std::memcpy(block.data(), &header, sizeof header);
            std::memcpy(block.data() + sizeof header, picture.data(), picture.size());
            indices.push_back(testsupport::ReadFrameIndex(block.data()));
        }
        return indices;
    }

    std::string video;
    uint64_t sourceHash = 0;
    CTessaronView* view = nullptr;
};

TEST_F(ExportTest, CropAndSaveWritesTheBoxOfEveryFrameWhicheverWayItWasDragged) {
    Drag(QPoint(17, 25), QPoint(10, 20));
    ASSERT_EQ(QPoint(view->m_boxX1, view->m_boxY1), QPoint(17, 25));
    ASSERT_EQ(QPoint(view->m_boxX2, view->m_boxY2), QPoint(10, 20));
    const std::string out = WorkFile("up.avi").toStdString();
    ui.fileAnswers.push_back(QString::fromStdString(out));
    CropAndSave();

    ASSERT_EQ(ui.fileRequests.size(), 1u);
    const FileDialogRequest& request = ui.fileRequests[0];
    EXPECT_TRUE(request.save);
    EXPECT_EQ(request.proposedName, WorkFile("clipx.avi"));
    EXPECT_EQ(request.defaultExtension, "avi");
    EXPECT_EQ(request.flags, unsigned(OFN_OVERWRITEPROMPT));
    EXPECT_EQ(request.filter, kAviFilter);
    EXPECT_TRUE(ui.messages.empty());
    const std::vector<QString> progress = Progress();
    ASSERT_EQ(progress.size(), size_t(kFrames));
    EXPECT_EQ(progress[0], "Processing Frame    0");
    EXPECT_EQ(progress[11], "Processing Frame   11");

    // 7 x 5 pixels, rows of 24 bytes, at the source's rate, every frame the box of the source's.
    const opstest::ProbeInfo probe = opstest::Probe(out);
    EXPECT_EQ(probe.width, 7);
    EXPECT_EQ(probe.height, 5);
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.decodedFrames, kFrames);
    const opstest::CommandRun packets = opstest::RunCapture(
        "ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 " + testsupport::ShellQuote(out));
    EXPECT_EQ(packets.out, [] {
        std::string sizes;
        for (int i = 0; i < kFrames; ++i) sizes += "120\n";
        return sizes;
    }());
    const std::vector<opstest::Bytes> source = opstest::FfmpegFrames(video, kWidth, kHeight);
    const std::vector<opstest::Bytes> cropped = opstest::FfmpegFrames(out, 7, 5);
    ASSERT_EQ(source.size(), size_t(kFrames));
    ASSERT_EQ(cropped.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(cropped[size_t(i)], opstest::BoxOf(source[size_t(i)], kWidth, 10, 20, 17, 25)) << "frame " << i;
    EXPECT_TRUE(testsupport::SameTime(testsupport::ModificationTime(out), testsupport::ModificationTime(video)));

    // The same box dragged from its other corner gives the same file (a click away from the box
    // removes it first; a press on its corner would resize it).
    Drag(QPoint(40, 40), QPoint(40, 40));
    Drag(QPoint(10, 20), QPoint(17, 25));
    const std::string out2 = WorkFile("down.avi").toStdString();
    ui.fileAnswers.push_back(QString::fromStdString(out2));
    CropAndSave();
    EXPECT_EQ(opstest::ReadFileBytes(out2), opstest::ReadFileBytes(out));
    EXPECT_TRUE(ui.unexpected.empty());
}

TEST_F(ExportTest, CropAndSaveWantsABoxWithWidthAndHeight) {
    const QString text = "You must first create a crop box by clicking \nand dragging the cursor over the image...";
    CropAndSave();
    Drag(QPoint(10, 20), QPoint(30, 20));  // no height
    CropAndSave();
    EXPECT_EQ(ui.MessageTexts(), (std::vector<QString>{text, text}));
    for (const auto& message : ui.messages) {
        EXPECT_EQ(message.caption, "Cannot create AVI file...");
        EXPECT_EQ(message.style & 0xFu, unsigned(MB_OK));
    }
    EXPECT_TRUE(ui.fileRequests.empty());
}

TEST_F(ExportTest, ABoxDraggedAt50And200PercentCropsTheSameFileAsAt100) {
    // The frame box (10, 20)-(40, 36), dragged at each zoom where its corners show; the name typed
    // with another suffix or none gets ".avi".
    struct Row {
        int zoomSteps;  // Zoom In (+) or Zoom Out (-) presses from 100 %
        QPoint away, from, to;
        const char* typed;
        const char* written;
    } rows[] = {{0, {60, 44}, {10, 20}, {40, 36}, "z100.avi", "z100.avi"},
                {-2, {30, 22}, {5, 10}, {20, 18}, "z50.mp4", "z50.avi"},
                {+2, {120, 90}, {20, 40}, {80, 72}, "z200", "z200.avi"}};
    for (const Row& row : rows) {
        frame()->Action(ID_ZOOM_ACTUAL)->trigger();
        for (int i = 0; i < std::abs(row.zoomSteps); ++i)
            frame()->Action(row.zoomSteps > 0 ? ID_ZOOM_IN : ID_ZOOM_OUT)->trigger();
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(0);
        Drag(row.away, row.away);
        Drag(row.from, row.to);
        ASSERT_EQ(QRect(QPoint(view->m_boxX1, view->m_boxY1), QPoint(view->m_boxX2, view->m_boxY2)),
                  QRect(QPoint(10, 20), QPoint(40, 36)))
            << row.typed;
        ui.fileAnswers.push_back(WorkFile(row.typed));
        CropAndSave();
        EXPECT_TRUE(QFile::exists(WorkFile(row.written))) << row.written;
        EXPECT_TRUE(ui.statusTexts.back().startsWith(QString("Wrote 12 frames to %1 (").arg(row.written)))
            << ui.statusTexts.back().toStdString();
    }
    EXPECT_TRUE(ui.statusTexts.back().endsWith("z200 is written as z200.avi: the file holds AVI data."));
    EXPECT_FALSE(QFile::exists(WorkFile("z50.mp4")));
    EXPECT_EQ(opstest::ReadFileBytes(WorkFile("z50.avi").toStdString()),
              opstest::ReadFileBytes(WorkFile("z100.avi").toStdString()));
    EXPECT_EQ(opstest::ReadFileBytes(WorkFile("z200.avi").toStdString()),
              opstest::ReadFileBytes(WorkFile("z100.avi").toStdString()));
    const opstest::ProbeInfo probe = opstest::Probe(WorkFile("z100.avi").toStdString());
    EXPECT_EQ(probe.width, 30);
    EXPECT_EQ(probe.height, 16);
    // The dialogs start in the folder of the last save.
    EXPECT_EQ(ui.fileRequests.back().directory, QFileInfo(WorkFile("z50.avi")).absolutePath());

    // A frame saved as "frame7.png" is a BMP file named frame7.bmp; an existing one is asked about.
    ui.fileAnswers = {WorkFile("frame7.png"), WorkFile("frame7.png")};
    ui.messageAnswers = {IDNO};
    view->SaveDisplayedFrame(7);
    EXPECT_TRUE(QFile::exists(WorkFile("frame7.bmp")));
    EXPECT_FALSE(QFile::exists(WorkFile("frame7.png")));
    EXPECT_TRUE(ui.statusTexts.back().startsWith("Wrote frame 7 to frame7.bmp ("))
        << ui.statusTexts.back().toStdString();
    view->SaveDisplayedFrame(7);
    EXPECT_EQ(ui.MessageTexts().back(),
              QString("%1 already exists.\nDo you want to replace it?").arg(WorkFile("frame7.bmp")));
    EXPECT_EQ(view->m_pSelector->StatusText(), "Save cancelled.");
}

TEST_F(ExportTest, CheckedFramesAreWrittenInListOrderAndUnreadableOnesReported) {
    const std::string out = WorkFile("checked.avi").toStdString();
    ui.fileAnswers.push_back(QString::fromStdString(out));
    Export({7, 2, 99, 5});

    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].proposedName, "Untitled.avi");
    EXPECT_EQ(ui.fileRequests[0].flags, unsigned(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT));
    EXPECT_EQ(ui.fileRequests[0].filter, kAviFilter);
    // Decoded in ascending order; the count is of the list's frames done.
    EXPECT_EQ(Progress(), (std::vector<QString>{"Processing Frame    0 [Original frame:     2]",
                                                "Processing Frame    1 [Original frame:     5]",
                                                "Processing Frame    2 [Original frame:     7]"}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Frames that could not be read:\n99\n");
    EXPECT_EQ(ui.messages[0].caption, "Info");

    EXPECT_EQ(Indices(out), (std::vector<int>{7, 2, 5}));
    const opstest::ProbeInfo probe = opstest::Probe(out);
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.width, kWidth);
    EXPECT_TRUE(testsupport::SameTime(testsupport::ModificationTime(out), testsupport::ModificationTime(video)));
    EXPECT_EQ(ui.WaitCursorCount(), 0);
}

TEST_F(ExportTest, ATerminatedExportIsAValidShorterFile) {
    const std::string out = WorkFile("short.avi").toStdString();
    ui.fileAnswers.push_back(QString::fromStdString(out));
    view->m_frameOrder[0].swap(view->m_frameOrder[1]);
    const std::vector<std::string> orderBefore = view->m_frameOrder;
    PressEscapeAt(view, "Processing Frame    2 [Original frame:     2]");
    Export({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});

    EXPECT_EQ(ui.MessageTexts(), (std::vector<QString>{"Terminate the Action?", "Operation terminated."}));
    EXPECT_EQ(Indices(out), (std::vector<int>{0, 1, 2}));
    const opstest::ProbeInfo probe = opstest::Probe(out);
    EXPECT_TRUE(probe.ok);
    EXPECT_EQ(probe.decodedFrames, 3);
    EXPECT_TRUE(testsupport::SameTime(testsupport::ModificationTime(out), testsupport::ModificationTime(video)));
    // The order the user arranged stays.
    EXPECT_EQ(view->m_pSelector->OrderReset(), 0);
    EXPECT_EQ(view->m_frameOrder, orderBefore);
}

TEST_F(ExportTest, AnOutputThatCannotBeCreatedIsToldAtOnce) {
    const QString out = WorkFile("no-such-folder/out.avi");
    ui.fileAnswers.push_back(out);
    Export({1, 2});
    ui.fileAnswers.push_back(out);
    Drag(QPoint(1, 1), QPoint(20, 20));
    CropAndSave();

    ASSERT_EQ(ui.messages.size(), 2u);
    for (const auto& message : ui.messages) {
        EXPECT_TRUE(message.text.startsWith("Cannot create " + out + ": ")) << message.text.toStdString();
        EXPECT_TRUE(message.text.contains("No such file or directory")) << message.text.toStdString();
        EXPECT_EQ(message.caption, "Cannot create AVI file...");
    }
    EXPECT_TRUE(Progress().empty());
    EXPECT_FALSE(QFile::exists(out));

    // The video itself, though the dialog was told to write over it: refused, the video stays as it was.
    ui.messages.clear();
    ui.fileAnswers.push_back(QString::fromStdString(video));
    Export({1, 2});
    EXPECT_EQ(ui.MessageTexts(), std::vector<QString>{"Nothing written: the output file is the video being read."});
}

TEST_F(ExportTest, AFileSizeLimitEndsTheExportWithTheFramesWrittenSoFar) {
    const std::string out = WorkFile("full.avi").toStdString();
    ui.fileAnswers.push_back(QString::fromStdString(out));
    // Files of this process may grow to 40 kB: room for about four frames of 9 kB.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 40'000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Export({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(ui.messages.size(), 1u);
    const QString text = ui.messages[0].text;
    EXPECT_EQ(ui.messages[0].caption, "File size limit exceeded");
    ASSERT_TRUE(text.startsWith(QString::fromStdString("Writing " + out + " stopped after "))) << text.toStdString();
    EXPECT_TRUE(text.contains("File too large")) << text.toStdString();
    const int written = text.section(' ', 4, 4).toInt();
    EXPECT_GT(written, 0);
    EXPECT_LT(written, kFrames);
    EXPECT_TRUE(text.endsWith(QString("The %1 frames written before stay readable.").arg(written)))
        << text.toStdString();
    // The file that stays is a valid AVI file with exactly those frames.
    std::vector<int> expected;
    for (int i = 0; i < written; ++i) expected.push_back(i);
    EXPECT_EQ(Indices(out), expected);
    EXPECT_EQ(opstest::Probe(out).decodedFrames, written);
}

TEST_F(ExportTest, TheDisplayedFrameIsSavedAsABmpFileOrTheReasonIsGiven) {
    const QString out = WorkFile("frame.bmp");
    ui.fileAnswers = {out, std::nullopt, WorkFile("no-such-folder/frame.bmp")};
    view->m_pSelector->show();
    view->SaveDisplayedFrame(3);
    EXPECT_EQ(view->m_currentFrame, 3);
    EXPECT_EQ(view->m_pSelector->StatusText(), QString("Frame 3 saved to %1.").arg(out));
    ASSERT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ui.fileRequests[0].proposedName, WorkFile("clip-3.bmp"));
    EXPECT_EQ(ui.fileRequests[0].defaultExtension, "bmp");
    EXPECT_EQ(ui.fileRequests[0].flags, unsigned(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT));
    EXPECT_EQ(ui.fileRequests[0].filter, "BMP Files (*.bmp)|*.bmp|All Files (*.*)|*.*||");

    // Pillow reads frame 3 of the source, as ffmpeg decodes it.
    const opstest::CommandRun pillow = opstest::RunCapture(
        "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "sys.stdout.write('%dx%d %s\\n' % (im.size[0], im.size[1], im.mode)); sys.stdout.flush(); "
        "sys.stdout.buffer.write(im.convert('RGB').tobytes())\" " +
        testsupport::ShellQuote(out.toStdString()));
    ASSERT_EQ(pillow.status, 0);
    const size_t newline = pillow.out.find('\n');
    ASSERT_NE(newline, std::string::npos);
    EXPECT_EQ(pillow.out.substr(0, newline), "64x48 RGB");
    const opstest::Bytes frame3 = opstest::FfmpegFrames(video, kWidth, kHeight).at(3);
    opstest::Bytes rgb;
    for (size_t i = 0; i + 2 < frame3.size(); i += 3) rgb.insert(rgb.end(), {frame3[i + 2], frame3[i + 1], frame3[i]});
    EXPECT_EQ(opstest::Bytes(pillow.out.begin() + long(newline) + 1, pillow.out.end()), rgb);

    view->SaveDisplayedFrame(5);
    EXPECT_EQ(view->m_pSelector->StatusText(), "Save cancelled.");
    view->SaveDisplayedFrame(6);
    EXPECT_EQ(view->m_pSelector->StatusText(), QString("Frame 6 could not be saved to %1.\nNo such file or directory")
                                                   .arg(WorkFile("no-such-folder/frame.bmp")));
    view->m_pSelector->hide();
}

TEST_F(ViewOpsTest, AThreeByTwoFrameMakesA78ByteBmpFile) {
    opstest::Bytes picture = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const std::string video = opstest::MakeVideo("tiny", 3, 2, {picture, picture});
    ASSERT_FALSE(video.empty());
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    const QString out = WorkFile("tiny.bmp");
    ui.fileAnswers.push_back(out);
    view->SaveDisplayedFrame(1);
    EXPECT_EQ(ui.fileRequests.at(0).proposedName, QString::fromStdString(video.substr(0, video.size() - 4) + "-1.bmp"));
    const opstest::Bytes bmp = opstest::ReadFileBytes(out.toStdString());
    ASSERT_EQ(bmp.size(), 78u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(bmp[10], 54);
    // Bottom row first, each row padded to 12 bytes.
    const opstest::Bytes rows(bmp.begin() + 54, bmp.end());
    EXPECT_EQ(opstest::Bytes(rows.begin(), rows.begin() + 9), opstest::Bytes(picture.begin() + 9, picture.end()));
    EXPECT_EQ(opstest::Bytes(rows.begin() + 12, rows.begin() + 21),
              opstest::Bytes(picture.begin(), picture.begin() + 9));
}

}  // namespace

// "Check best..." sorts when no sort has run and checks what tessaron-cli pick chooses; "Save checked
// frames as images..." writes them through the export loop, asks once before replacing, and both keep
// their choices in the INI file.
TEST_F(ExportTest, CheckBestAndSaveImagesGoThroughTheSelector) {
    const QString ini = WorkFile("Tessaron.ini");
    SetImageSetIniPath(ini);
    SelectVideoFrames* selector = view->m_pSelector;
    selector->SetListRange(0, kFrames);
    selector->show();
    ui.dialogs.push_back([](QDialog* dialog) {
        auto* best = dynamic_cast<CheckBestDialog*>(dialog);
        if (!best) return int(QDialog::Rejected);
        EXPECT_EQ(best->RuleBox()->currentIndex(), int(PickRule::EverySeconds));  // the default
        best->RuleBox()->setCurrentIndex(int(PickRule::EveryFrames));
        best->CountBox()->setValue(5);
        return int(QDialog::Accepted);
    });
    selector->CheckBestButton()->click();
    const testsupport::CommandRun pick = testsupport::RunCli(TESSARON_CLI,
                                                             "pick " + testsupport::ShellQuote(video) + " --every 5",
                                                             true);
    std::vector<int> expected, checked(selector->CheckedFrames(), selector->CheckedFrames() + selector->CheckedCount());
    for (size_t at = 0; at < pick.out.size(); at = pick.out.find('\n', at) + 1)
        expected.push_back(std::atoi(pick.out.c_str() + at));
    std::sort(checked.begin(), checked.end());
    EXPECT_EQ(checked, expected);
    EXPECT_EQ(view->m_pickQuality, 25);
    EXPECT_EQ(selector->windowTitle(), "Video Frame Selector - Sorted by 'JPEG size'.");
    EXPECT_EQ(LoadPickSettings().rule, PickRule::EveryFrames);
    EXPECT_FALSE(SaveScreenshot(selector, QStringLiteral("selector_check_best")).isEmpty());

    // The folder offered is <stem>_frames beside the video; one that is not there is made after asking.
    selector->SetVideoPath(QString::fromStdString(video));
    const QString folder = WorkFile("images/set");
    QString offered;
    const auto save = [&](const char* pattern) {
        ui.dialogs.push_back([&, pattern](QDialog* dialog) {
            auto* images = dynamic_cast<SaveImagesDialog*>(dialog);
            if (!images) return int(QDialog::Rejected);
            EXPECT_FALSE(images->BoxCheck()->isEnabled());  // no crop box drawn
            offered = images->FolderEdit()->text();
            images->FolderEdit()->setText(folder);
            images->FormatBox()->setCurrentIndex(2);  // TIFF
            images->PatternEdit()->setText(QString::fromLatin1(pattern));
            return int(QDialog::Accepted);
        });
        selector->SaveImagesButton()->click();
    };
    ui.messageAnswers.push_back(IDYES);
    save("f{frame}.tif");
    const QFileInfo source(QString::fromStdString(video));
    EXPECT_EQ(offered, source.absolutePath() + "/" + source.completeBaseName() + "_frames");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "The folder " + folder + " does not exist.\nCreate it?");
    ui.messages.clear();
    EXPECT_EQ(testsupport::FilesIn(folder.toStdString()).size(), expected.size() + 1);
    EXPECT_EQ(ui.statusTexts.back(), QString("%1 images written to %2").arg(expected.size()).arg(folder));
    const auto written = [&] {
        return std::count_if(ui.statusTexts.begin(), ui.statusTexts.end(),
                             [](const QString& text) { return text.contains("[Original frame:"); });
    };
    EXPECT_EQ(size_t(written()), expected.size());
    EXPECT_TRUE(ui.messages.empty());
    // Again: one question for all, answered No; nothing is written.
    ui.messageAnswers.push_back(IDNO);
    const auto progressBefore = written();
    save("f{frame}.tif");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].text.contains("Replace them?")) << ui.messages[0].text.toStdString();
    EXPECT_EQ(written(), progressBefore);
    EXPECT_EQ(LoadImageSaveChoices().encoding.format, ImageFormat::Tiff);
    EXPECT_EQ(LoadImageSaveChoices().pattern, "f{frame}.tif");
    EXPECT_EQ(LoadImageSaveChoices(QString::fromStdString(video)).folder, folder);  // the last one used
    selector->hide();
    SetImageSetIniPath(QString());
}
