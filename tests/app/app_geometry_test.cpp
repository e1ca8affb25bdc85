// A video larger than the screen, opened from the command line or with File > Open, on a small screen
// at the scale factor the test is run with: the main window stays on the screen, frame and all, and the
// whole picture shows.
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "framework/ChildFrame.h"
#include "tests/gui_support/AppTestFixture.h"
#include "tests/support/TestVideos.h"

namespace {

// The offscreen screen's size in device pixels.
constexpr int kScreenWidth = 1280, kScreenHeight = 800;

TEST_F(AppTest, ALargeVideoOpensInsideTheScreenHoweverItIsOpened) {
    testsupport::TestVideoRecipe recipe;
    recipe.name = "uhd-2";
    recipe.width = 3840;
    recipe.height = 2160;
    recipe.frames = 2;
    recipe.outputArgs = "-c:v libx264 -preset ultrafast -pix_fmt yuv420p";
    recipe.extension = "mp4";
    const QString uhd = QString::fromStdString(testsupport::MakeTestVideo(recipe));
    ASSERT_FALSE(uhd.isEmpty());

    for (bool commandLine : {true, false}) {
        SCOPED_TRACE(commandLine ? "command line" : "File > Open");
        Start(commandLine ? QStringList{uhd} : QStringList{});
        if (!commandLine) {
            fw.fileAnswers.push_back(uhd);
            frame()->Action(ID_FILE_OPEN)->trigger();
        }
        ProcessPendingEvents();
        ASSERT_EQ(WindowCount(), 1);
        const QRect screen = frame()->screen()->availableGeometry();
        EXPECT_EQ(screen.width(), qRound(kScreenWidth / frame()->devicePixelRatioF()));
        EXPECT_TRUE(screen.contains(frame()->frameGeometry()))
            << frame()->frameGeometry().width() << "x" << frame()->frameGeometry().height();
        EXPECT_NE(frame()->frameGeometry(), frame()->geometry()) << "the frame's margins are counted";

        auto* view = qobject_cast<CTessaronView*>(app()->DocTemplate()->GetDocuments().first()->GetViews().first());
        ASSERT_NE(view, nullptr);
        EXPECT_TRUE(frame()->MdiArea()->viewport()->rect().contains(view->GetParentFrame()->geometry()));
        EXPECT_EQ(view->m_fit, 1);
        EXPECT_LE(view->GetTotalSize().width(), view->viewport()->width());
        EXPECT_LE(view->GetTotalSize().height(), view->viewport()->height());
        if (commandLine)
            SaveScreenshot(frame(), QStringLiteral("fitted-uhd-command-line-%1x").arg(frame()->devicePixelRatioF()));
        runner.reset();
    }
}

}  // namespace

// The screen and the scale factor must be set before the application starts.
int main(int argc, char** argv) {
    QTemporaryDir dir;
    QFile config(dir.filePath("screens.json"));
    if (!config.open(QIODevice::WriteOnly)) return 1;
    config.write(
        QStringLiteral("{\"screens\": [{\"name\": \"small\", \"x\": 0, \"y\": 0, \"width\": %1, \"height\": %2, "
                       "\"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}")
            .arg(kScreenWidth)
            .arg(kScreenHeight)
            .toUtf8());
    config.close();
    qputenv("QT_QPA_PLATFORM", QStringLiteral("offscreen:configfile=%1").arg(config.fileName()).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
