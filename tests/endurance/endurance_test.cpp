// One run of the program opens and closes 100 small videos; on every tenth it sorts the frames in the
// frame selector and exports the checked ones, with Crop and Save, a BMP save and the quality preview on
// some of them. Resident memory after the run must stay within 10 % of what it was after the first
// video, and every file handle the run opened must be closed again.
#include <QFileInfo>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "framework/ChildFrame.h"
#include "framework/Document.h"
#include "app/MainFrame.h"
#include "dialogs/SelectVideoFrames.h"
#include "tests/gui_support/AppTestFixture.h"
#include "tests/ops/OpsTestSupport.h"
#include "tests/support/TestVideos.h"
#include "view/CTessaronView.h"

// AddressSanitizer keeps freed memory in quarantine and adds shadow memory, so resident memory says
// nothing about leaks there; its leak check at exit does that job instead.
#if defined(__SANITIZE_ADDRESS__)
#define ENDURANCE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ENDURANCE_UNDER_ASAN 1
#endif
#endif
#ifndef ENDURANCE_UNDER_ASAN
#define ENDURANCE_UNDER_ASAN 0
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kVideos = 100;
constexpr int kOpsEvery = 10;
constexpr int kFrames = 10;

struct Source {
    std::string path;
    std::string extension;
    int width;
    int height;
    bool ownReader;  // opened with TESSARON_MEDIA_DETECTOR=0 (our AVI reader)
};

// Resident memory in KiB.
long ResidentKiB() {
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return -1;
    const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    if (read != 2) return -1;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Open descriptors and what they point at, without the listing's own.
std::map<int, std::string> OpenDescriptors() {
    std::map<int, std::string> fds;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc/self/fd", ec)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(entry.path(), linkError);
        if (linkError) continue;  // closed meanwhile
        const std::string text = target.string();
        if (text == "/proc/" + std::to_string(getpid()) + "/fd") continue;  // the listing itself
        fds[std::stoi(entry.path().filename().string())] = text;
    }
    return fds;
}

// Bytes the main heap has handed out and not taken back.
size_t HeapInUse() { return mallinfo2().uordblks; }

std::string Describe(const std::map<int, std::string>& fds) {
    std::string text;
    for (const auto& [fd, target] : fds) text += "  " + std::to_string(fd) + " -> " + target + "\n";
    return text;
}

// What after holds that before did not.
std::map<int, std::string> Added(const std::map<int, std::string>& before, const std::map<int, std::string>& after) {
    std::map<int, std::string> added;
    for (const auto& [fd, target] : after) {
        auto it = before.find(fd);
        if (it == before.end() || it->second != target) added[fd] = target;
    }
    return added;
}

class EnduranceTest : public AppTest {
protected:
    // Small videos of a few kinds, made once with ffmpeg.
    static std::vector<Source> MakeSources() {
        struct Recipe {
            const char* name;
            int width, height;
            const char* args;
            const char* extension;
            bool ownReader;
        };
        const Recipe recipes[] = {
            {"endurance-h264-64x48", 64, 48, "-c:v libx264 -preset veryfast -crf 18 -bf 2 -g 5 -pix_fmt yuv420p", "mp4",
             false},
            {"endurance-raw-64x48", 64, 48, "-c:v rawvideo -pix_fmt bgr24", "avi", false},
            {"endurance-raw-70x52", 70, 52, "-c:v rawvideo -pix_fmt bgr24", "avi", true},
            {"endurance-mjpeg-80x60", 80, 60, "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p", "avi", false},
        };
        std::vector<Source> sources;
        for (const Recipe& r : recipes) {
            testsupport::TestVideoRecipe recipe;
            recipe.name = r.name;
            recipe.width = r.width;
            recipe.height = r.height;
            recipe.frames = kFrames;
            recipe.outputArgs = r.args;
            recipe.extension = r.extension;
            const std::string path = testsupport::MakeTestVideo(recipe);
            if (path.empty()) return {};
            sources.push_back({path, r.extension, r.width, r.height, r.ownReader});
        }
        return sources;
    }

    CTessaronView* Open(const Source& source, const QString& path) {
        if (source.ownReader)
            qputenv("TESSARON_MEDIA_DETECTOR", "0");
        else
            qunsetenv("TESSARON_MEDIA_DETECTOR");
        CTessaronView* view = OpenView(path);
        // The first paint reads the frame and sets the bounds the selector lists.
        if (view) view->viewport()->repaint();
        return view;
    }

    static void ClickCheck(myCheckListBox& list, int i) {
        list.scrollTo(list.model()->index(i, 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.CheckBoxRect(i).center());
    }
    static void ClickText(myCheckListBox& list, int i) {
        list.scrollTo(list.model()->index(i, 0));
        const QRect row = list.visualRect(list.model()->index(i, 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(row.right() - 10, row.center().y()));
    }

    // Sort, check three frames and export them; round decides the extras. Returns the files written.
    std::vector<std::string> RunOperations(CTessaronView* view, const Source& source, int round) {
        std::vector<std::string> written;
        const std::string exported = WorkFile(QString("export-%1.avi").arg(round)).toStdString();
        const std::string bmp = WorkFile(QString("frame-%1.bmp").arg(round)).toStdString();
        // The BMP save comes before the export.
        if (round % 2 == 0) fw.fileAnswers.push_back(QString::fromStdString(bmp));
        fw.fileAnswers.push_back(QString::fromStdString(exported));
        bool selectorShown = false;
        fw.dialogs.push_back([&](QDialog* dialog) {
            auto* selector = qobject_cast<SelectVideoFrames*>(dialog);
            if (!selector) return int(QDialog::Rejected);
            selectorShown = true;
            QTest::mouseClick(selector->SortButton(), Qt::LeftButton);
            EXPECT_EQ(view->m_frameOrder.size(), size_t(kFrames)) << "round " << round;
            for (int i : {0, 2, 5}) ClickCheck(selector->FrameList(), i);
            EXPECT_EQ(selector->CheckedCount(), 3) << "round " << round;
            if (round % 2 == 0) {
                ClickText(selector->FrameList(), 1);
                QTest::mouseClick(selector->SaveButton(), Qt::LeftButton);
            } else {
                QTest::mouseClick(&selector->ViewButton(), Qt::LeftButton);  // quality preview
            }
            QTest::mouseClick(selector->CreateButton(), Qt::LeftButton);
            return int(QDialog::Accepted);
        });
        frame()->Action(ID_FRAME_SELECTOR)->trigger();
        EXPECT_TRUE(selectorShown) << "round " << round;

        const opstest::ProbeInfo probe = opstest::Probe(exported);
        EXPECT_EQ(probe.decodedFrames, 3) << "round " << round;
        EXPECT_EQ(probe.width, source.width) << "round " << round;
        written.push_back(exported);
        if (round % 2 == 0) {
            EXPECT_EQ(QFileInfo(QString::fromStdString(bmp)).size(),
                      qint64(54 + DibStride24(source.width) * source.height))
                << "round " << round;
            written.push_back(bmp);
        }

        if (round % 3 == 0) {
            const std::string cropped = WorkFile(QString("crop-%1.avi").arg(round)).toStdString();
            QWidget* surface = view->viewport();
            QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(4, 6));
            QTest::mouseMove(surface, QPoint(20, 16));
            QTest::mouseMove(surface, QPoint(36, 30));
            QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(36, 30));
            fw.fileAnswers.push_back(QString::fromStdString(cropped));
            frame()->Action(ID_CROP_AND_SAVE)->trigger();
            const opstest::ProbeInfo crop = opstest::Probe(cropped);
            EXPECT_EQ(crop.decodedFrames, kFrames) << "round " << round;
            EXPECT_EQ(crop.width, 32) << "round " << round;
            EXPECT_EQ(crop.height, 24) << "round " << round;
            written.push_back(cropped);
        }
        return written;
    }
};

TEST_F(EnduranceTest, AHundredVideosLeaveNeitherMemoryGrowthNorOpenFiles) {
    const std::vector<Source> sources = MakeSources();
    ASSERT_EQ(sources.size(), 4u);
    Start();

    const std::map<int, std::string> fdsBefore = OpenDescriptors();
    std::map<int, std::string> fdsFirst;
    long rssFirst = -1;
    size_t heapSettled = 0;
    int rounds = 0;
    for (int i = 0; i < kVideos; ++i) {
        // Every kind of video has its turn at the operations.
        const Source& source = sources[size_t(i + i / kOpsEvery) % sources.size()];
        const QString path = WorkFile(
            QString("video-%1.%2").arg(i, 3, 10, QChar('0')).arg(QString::fromStdString(source.extension)));
        std::error_code ec;
        fs::copy_file(source.path, path.toStdString(), fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();

        CTessaronView* view = Open(source, path);
        ASSERT_NE(view, nullptr) << "video " << i;
        ASSERT_EQ(view->m_frameEnd, kFrames) << "video " << i;
        std::vector<std::string> written;
        if (i % kOpsEvery == 0) {
            written = RunOperations(view, source, i / kOpsEvery);
            ++rounds;
            // The stand-in's records would otherwise grow with the run.
            ASSERT_TRUE(fw.messages.empty()) << "round " << i / kOpsEvery << ": " << fw.messages[0].text.toStdString();
            ASSERT_TRUE(fw.unexpected.empty()) << "round " << i / kOpsEvery;
            fw.statusTexts.clear();
            fw.progressValues.clear();
            fw.fileRequests.clear();
            fw.dialogTitles.clear();
        }

        frame()->Action(ID_FILE_CLOSE)->trigger();
        ProcessPendingEvents();
        ASSERT_EQ(DocumentCount(), 0) << "video " << i;
        ASSERT_EQ(WindowCount(), 0) << "video " << i;
        for (const std::string& file : written) fs::remove(file, ec);
        fs::remove(path.toStdString(), ec);

        if (i == 0) {
            rssFirst = ResidentKiB();
            fdsFirst = OpenDescriptors();
        }
        if (i == kOpsEvery) heapSettled = HeapInUse();
    }
    qunsetenv("TESSARON_MEDIA_DETECTOR");
    const long rssLast = ResidentKiB();
    const size_t heapLast = HeapInUse();
    // Bytes the heap kept per video once every kind of video and operation had had its first turn.
    const long heapPerVideo = (long(heapLast) - long(heapSettled)) / (kVideos - 1 - kOpsEvery);
    const std::map<int, std::string> fdsLast = OpenDescriptors();

    const double growth = rssFirst > 0 ? 100.0 * double(rssLast - rssFirst) / double(rssFirst) : 0.0;
    std::cout << "[endurance] " << kVideos << " videos opened and closed, " << rounds << " with Sort and export\n"
              << "[endurance] resident memory after the first video: " << rssFirst << " KiB, after the run: " << rssLast
              << " KiB (" << (growth >= 0 ? "+" : "") << growth << " %)"
              << (ENDURANCE_UNDER_ASAN ? " [AddressSanitizer build: not checked]" : "") << "\n"
              << "[endurance] heap in use after video " << kOpsEvery << ": " << heapSettled / 1024
              << " KiB, after the run: " << heapLast / 1024 << " KiB (" << heapPerVideo << " bytes per video)"
              << (ENDURANCE_UNDER_ASAN ? " [not measurable under AddressSanitizer]" : "") << "\n"
              << "[endurance] open descriptors before: " << fdsBefore.size()
              << ", after the first video: " << fdsFirst.size() << ", after the run: " << fdsLast.size() << std::endl;

    EXPECT_EQ(rounds, kVideos / kOpsEvery);
    ASSERT_GT(rssFirst, 0);
#if !ENDURANCE_UNDER_ASAN
    EXPECT_LE(rssLast, rssFirst + rssFirst / 10) << "resident memory grew by " << growth << " %";
    // Far below one kept frame of the smallest video (9 KiB) per video.
    EXPECT_LT(heapPerVideo, 2048) << "the heap grows with every video";
#endif
    EXPECT_TRUE(Added(fdsBefore, fdsLast).empty()) << "descriptors left open by the run:\n"
                                                   << Describe(Added(fdsBefore, fdsLast));
    EXPECT_TRUE(fw.unexpected.empty());
    EXPECT_TRUE(fw.messages.empty()) << fw.messages.size() << " message(s), first: "
                                     << (fw.messages.empty() ? std::string() : fw.messages[0].text.toStdString());
}

}  // namespace
