// The selector's score choice: "Sharpness" and "Score only the crop box" give tessaron-cli rank's order
// with --score sharpness and --box, "Check best..." picks by the same score, and the INI file keeps
// the choice.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QTest>
#include <cstdlib>
#include <sstream>

#include "dialogs/PickDialogs.h"
#include "dialogs/ScorePlot.h"
#include "fileio/IniFile.h"
#include "tests/support/TestCli.h"
#include "tests/viewops/ViewOpsFixture.h"

namespace {

// The frames of "tessaron-cli rank --csv" with extra arguments, in its order.
std::vector<int> CliFrames(const std::string& path, const std::string& args) {
    const testsupport::CommandRun run = testsupport::RunCli(TESSARON_CLI,
                                                            "rank --csv " + args + " " + testsupport::ShellQuote(path),
                                                            true);
    std::vector<int> frames;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) frames.push_back(std::atoi(line.c_str() + line.find(',') + 1));
    return frames;
}

std::vector<int> ViewFrames(const CTessaronView* view) {
    std::vector<int> frames;
    for (const std::string& key : view->m_frameOrder) {
        int32_t frame = 0;
        ParseFrameOrderKey(key.c_str(), nullptr, &frame);
        frames.push_back(frame);
    }
    return frames;
}

}  // namespace

TEST_F(ViewOpsTest, TheScoreChoiceDecidesSortAndCheckBestAndIsKept) {
    const std::string video = testsupport::TestVideoPath(testsupport::TestVideo::RawAviOddWidth);
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    const QString ini = WorkFile("Tessaron.ini");
    SetImageSetIniPath(ini);
    SelectVideoFrames* selector = view->m_pSelector;
    selector->SetListRange(0, 24);
    selector->show();
    EXPECT_EQ(selector->ScoreBox()->currentText(), "JPEG size");  // the default
    EXPECT_FALSE(selector->BoxOnlyCheck()->isEnabled());          // no box drawn

    selector->ScoreBox()->setCurrentIndex(1);
    emit selector->ScoreBox()->activated(1);
    selector->SortButton()->click();
    const std::vector<int> sharp = CliFrames(video, "--score sharpness");
    ASSERT_EQ(sharp.size(), 24u);
    EXPECT_EQ(ViewFrames(view), sharp);
    EXPECT_EQ(view->m_currentFrame, sharp[0]);
    EXPECT_EQ(selector->windowTitle(), "Video Frame Selector - Sorted by 'Sharpness'.");

    // A box drawn before the selector opens stays, the check box can be ticked, and the sort then scores
    // the box only.
    selector->hide();
    view->m_boxX1 = 50, view->m_boxY1 = 3, view->m_boxX2 = 7, view->m_boxY2 = 31;
    ui.dialogs.push_back([selector](QDialog*) {
        EXPECT_TRUE(selector->BoxOnlyCheck()->isEnabled());
        selector->BoxOnlyCheck()->click();
        selector->SortButton()->click();
        return int(QDialog::Accepted);
    });
    view->OnFrameSelector();
    EXPECT_EQ(view->m_boxX1, 50);
    EXPECT_EQ(view->m_boxX2, 7);
    const std::vector<int> sharpBox = CliFrames(video, "--score sharpness --box 50,3,7,31");
    EXPECT_EQ(ViewFrames(view), sharpBox);
    EXPECT_NE(sharpBox, sharp);

    // "Check best..." picks by the score of the last sort: the three sharpest frames of the box.
    PickSettings best;
    best.rule = PickRule::Best;
    best.count = 3;
    std::vector<int32_t> frames = view->CheckBest(best);
    std::vector<int32_t> expected(sharpBox.begin(), sharpBox.begin() + 3);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(frames, expected);

    // Kept in the INI file and read back at the next opening.
    const std::string path = ini.toStdString();
    EXPECT_EQ(IniReadString(path, "Frame Selector", "score", ""), "sharpness");
    EXPECT_EQ(IniReadString(path, "Frame Selector", "scoreOnlyBox", ""), "1");
    selector->ScoreBox()->setCurrentIndex(0);
    selector->BoxOnlyCheck()->setChecked(false);
    ui.dialogs.push_back([](QDialog*) { return int(QDialog::Accepted); });
    view->OnFrameSelector();
    EXPECT_EQ(selector->Score(), ScoreKind::Sharpness);
    EXPECT_TRUE(selector->ScoreOnlyBox());

    // JPEG size again: the order of plain rank, and "Check best..." sorts anew for it.
    selector->ScoreBox()->setCurrentIndex(0);
    emit selector->ScoreBox()->activated(0);
    selector->BoxOnlyCheck()->click();
    frames = view->CheckBest(best);
    EXPECT_EQ(ViewFrames(view), CliFrames(video, ""));
    EXPECT_EQ(IniReadString(path, "Frame Selector", "score", ""), "jpeg");
    selector->hide();
    SetImageSetIniPath(QString());
}

// I and O in the video window mark the first and last frame; "Check best..." with "only between the
// marks" picks among them alone, "Skip near-duplicates" leaves out frames too little changed, and the
// plot shows the marks.
TEST_F(ViewOpsTest, CheckBestBetweenTheMarksAndWithoutNearDuplicates) {
    const std::string video = testsupport::TestVideoPath(testsupport::TestVideo::RawAviOddWidth);
    CTessaronView* view = OpenVideo(video);
    ASSERT_NE(view, nullptr);
    SetImageSetIniPath(QString());
    view->StepTo(14);
    QTest::keyClick(view, Qt::Key_O);
    view->StepTo(5);
    QTest::keyClick(view, Qt::Key_I);
    EXPECT_EQ(view->m_markIn, 5);
    EXPECT_EQ(view->m_markOut, 14);

    CheckBestDialog dialog(view, PickSettings{PickRule::EveryFrames, 1, 1});
    dialog.ChangeCheck()->setChecked(true);
    dialog.ChangeBox()->setValue(255);
    dialog.MarksCheck()->setChecked(true);
    PickSettings best = dialog.Settings();
    EXPECT_EQ(best.first, kPickBetweenMarks);
    EXPECT_EQ(best.minChange, 255);
    // Every frame of its own differs from frame 5 by less than the whole range: only 5 stays.
    EXPECT_EQ(view->CheckBest(best), std::vector<int32_t>{5});
    best.minChange = 0;
    EXPECT_EQ(view->CheckBest(best), (std::vector<int32_t>{5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));

    SelectVideoFrames* selector = view->m_pSelector;
    selector->RefreshScores();
    EXPECT_EQ(selector->Plot()->MarkIn(), 5);
    EXPECT_EQ(selector->Plot()->MarkOut(), 14);
}
