// Stepping back in the view: the pictures decoded on the way are kept within "Memory for stepping back",
// held Left is served from them, and what the view shows from them is what decoding gives directly.
#include <QSpinBox>
#include <QTest>

#include "dialogs/Preferences.h"
#include "doc/CTessaronDoc.h"
#include "fileio/IniFile.h"
#include "tests/support/TestReader.h"
#include "tests/support/TestVideos.h"
#include "tests/view/ViewTestFixture.h"
#include "video/MediaDetector.h"
#include "video/VideoFrameReader.h"

namespace {

using testsupport::Bytes;

class SteppingTest : public ViewTest {};

// The view's frame copy as bytes.
Bytes FrameCopy(CTessaronView* view) {
    const uint8_t* p = view->m_pFrameCopy.get();
    return p ? Bytes(p, p + view->m_pFrameInfo->frameBlockSize) : Bytes();
}

TEST_F(SteppingTest, HeldLeftIsServedFromMemoryWithinItsBoundAndShowsTheDecodedPictures) {
    const std::string path = testsupport::TestVideoPath(testsupport::TestVideo::H264Mp4);  // one key frame
    ASSERT_FALSE(path.empty());
    VideoFrameReader plain;
    FrameInfo& plainInfo = plain.Open(path.c_str());
    ASSERT_TRUE(plainInfo.succeeded);
    plain.Detector()->SetReadAhead(false);

    // Room for 12 of the clip's pictures, as the memory counts them.
    int64_t perPicture = 0;
    {
        VideoFrameReader probe;
        probe.SetStepBackMemory(int64_t(1) << 30);
        FrameInfo& info = probe.Open(path.c_str());
        ASSERT_FALSE(testsupport::ReadBlock(probe, info, info.frameCount - 1).empty());
        const MediaDetector::Counters c = probe.Detector()->GetCounters();
        ASSERT_GT(c.kept, 0);
        perPicture = c.keptBytes / c.kept;
    }
    const int64_t bound = 12 * perPicture;
    stepBackMemory = bound;
    CTessaronView* view = OpenView(QString::fromStdString(path));
    ASSERT_NE(view, nullptr);
    MediaDetector* detector = view->m_pReader->Detector();
    ASSERT_NE(detector, nullptr);
    const int last = plainInfo.frameCount - 1;
    view->setFocus();
    view->StepTo(last);
    Paint(view);
    const int64_t decodedAtLast = detector->GetCounters().decoded;
    for (int frame = last - 1; frame >= last - 10; --frame) {
        QTest::keyClick(view, Qt::Key_Left);
        Paint(view);
        ASSERT_EQ(view->m_currentFrame, frame);
        EXPECT_EQ(FrameCopy(view), testsupport::ReadBlock(plain, plainInfo, frame)) << "frame " << frame;
        EXPECT_LE(detector->GetCounters().keptBytes, bound);
    }
    const MediaDetector::Counters c = detector->GetCounters();
    EXPECT_EQ(c.decoded, decodedAtLast) << "ten steps back decoded nothing more";
    EXPECT_GE(c.keptHits, 10);

    // With the preference at 0 nothing is kept: a step back decodes from the key frame again.
    stepBackMemory = 0;
    QTest::keyClick(view, Qt::Key_Left);
    Paint(view);
    EXPECT_EQ(detector->GetCounters().kept, 0);
    EXPECT_GT(detector->GetCounters().decoded, decodedAtLast);
    EXPECT_EQ(FrameCopy(view), testsupport::ReadBlock(plain, plainInfo, last - 11));
    stepBackMemory = DefaultStepBackMemory();
}

TEST_F(SteppingTest, MemoryForSteppingBackIsAPreferenceKeptInTheSettingsFile) {
    const std::string ini = app()->IniPath().toStdString();
    EXPECT_EQ(stepBackMemory, DefaultStepBackMemory()) << "no key: the default";
    EXPECT_LE(DefaultStepBackMemory(), int64_t(1) << 30);

    fw.dialogs.push_back([](QDialog* dialog) {
        auto* prefs = qobject_cast<Preferences*>(dialog);
        EXPECT_NE(prefs, nullptr);
        if (prefs) prefs->StepBackBox()->setValue(256);
        return static_cast<int>(QDialog::Accepted);
    });
    app()->ShowPreferences();
    EXPECT_EQ(stepBackMemory, int64_t(256) << 20);
    EXPECT_EQ(IniReadString(ini, kIniSection, "stepBackMemoryMB", ""), "256");

    // Read back at start-up; a value that is no number gives the default.
    for (const auto& [text, expected] : std::vector<std::pair<std::string, int64_t>>{{"0", 0},
                                                                                     {"512", int64_t(512) << 20},
                                                                                     {"lots", DefaultStepBackMemory()},
                                                                                     {"-5", DefaultStepBackMemory()}}) {
        ASSERT_TRUE(IniWriteString(ini, kIniSection, "stepBackMemoryMB", text));
        stepBackMemory = 1;
        fw.dialogs.push_back([](QDialog*) { return static_cast<int>(QDialog::Rejected); });
        app()->ShowPreferences();
        EXPECT_EQ(stepBackMemory, expected) << text;
    }
    stepBackMemory = DefaultStepBackMemory();
}

}  // namespace
