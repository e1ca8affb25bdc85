// The whole walk of tessaron_walkthrough, offscreen, on three small clips of different kinds: every step
// must work, every screenshot must be written, and what the walk wrote must be what ffprobe and Pillow
// read back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "tests/gui_support/GuiTestUtil.h"
#include "tests/ops/OpsTestSupport.h"

namespace {

TEST(Walkthrough, EveryStepOfAUsersWayWorks) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("clip a.mp4"));
    const QString b = dir.filePath(QStringLiteral("b.avi"));
    const QString c = dir.filePath(QStringLiteral("c-mjpeg.avi"));
    const QString bad = dir.filePath(QStringLiteral("notes.avi"));
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10", "-frames:v", "20", "-c:v", "libx264",
                           "-pix_fmt", "yuv420p", a}));
    ASSERT_TRUE(MakeRawAvi(b, 96, 64, 5));
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "testsrc=size=128x96:rate=10", "-frames:v", "5", "-c:v", "mjpeg", c}));
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("these are notes, not a video\n");
    }
    const QString shots = dir.filePath(QStringLiteral("shots"));
    const QString work = dir.filePath(QStringLiteral("work"));

    QProcess driver;
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    driver.setProcessEnvironment(env);
    driver.start(QStringLiteral(WALKTHROUGH_DRIVER), {"--out", shots, "--work", work, a, b, c, bad});
    ASSERT_TRUE(driver.waitForStarted(-1));
    ASSERT_TRUE(driver.waitForFinished(-1));
    const QString log = QString::fromLocal8Bit(driver.readAllStandardOutput());
    EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(driver.exitCode(), 0) << log.toStdString();

    for (const char* name :
         {"01-command-line", "02-file-open-dialog", "04-dropped", "06-selector", "09-sorted-selector", "10-preview-q5",
          "11-preview-q95", "12-checked-selector", "15-bmp-saved-selector", "16a-stepped-keys", "16b-fitted",
          "17-crop-box", "20-cropped", "21-preferences", "24-about", "25-help", "27-bad-file-message"}) {
        EXPECT_TRUE(QFileInfo::exists(shots + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png"))) << name;
    }
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to load image frames"))) << log.toStdString();

    // What the walk wrote, read by tools we did not write.
    const opstest::ProbeInfo checked = opstest::Probe((work + QStringLiteral("/checked.avi")).toStdString());
    EXPECT_EQ(checked.decodedFrames, 3);
    EXPECT_EQ(checked.width, 160);
    const opstest::ProbeInfo cropped = opstest::Probe((work + QStringLiteral("/crop.avi")).toStdString());
    EXPECT_EQ(cropped.decodedFrames, 20);
    EXPECT_GT(cropped.width, 0);
    EXPECT_LT(cropped.width, 160);
    EXPECT_EQ(cropped.rate, "10/1");
    const opstest::CommandRun pillow = opstest::RunCapture(
        "/usr/bin/python3 -c \"import sys; from PIL import Image; print(Image.open(sys.argv[1]).size)\" " +
        (work + QStringLiteral("/frame.bmp")).toStdString());
    EXPECT_EQ(pillow.out, "(160, 120)\n");
    QFile ini(work + QStringLiteral("/config/tessaron/Tessaron.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("deinterlaceFlag=1"));
}

}  // namespace
