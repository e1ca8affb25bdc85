// Opening files: the document's open check, the command line, drag and drop, the recent-file list.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <QUrl>

#include "framework/Document.h"
#include "doc/CTessaronDoc.h"
#include "tests/gui_support/AppTestFixture.h"

namespace {

class OpenTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        video = WorkFile("clip.avi");
        ASSERT_TRUE(MakeRawAvi(video, 64, 48, 5));
    }
    QString video;
};

TEST_F(OpenTest, AGoodFileGetsAWindowTitledWithItsName) {
    Start();
    CDocument* doc = app()->OpenDocumentFile(video);
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(fw.messages.empty());
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_EQ(doc->GetPathName(), video);
    EXPECT_EQ(doc->GetTitle(), "clip.avi");
    EXPECT_EQ(frame()->MdiArea()->subWindowList().first()->windowTitle(), "clip.avi");

    // The same file again only activates its window.
    EXPECT_EQ(app()->OpenDocumentFile(video), doc);
    EXPECT_EQ(WindowCount(), 1);
}

TEST_F(OpenTest, AGoodFileOpensOnBothBackEnds) {
    Start();
    qputenv("TESSARON_MEDIA_DETECTOR", "0");
    EXPECT_NE(app()->OpenDocumentFile(video), nullptr);
    EXPECT_TRUE(fw.messages.empty());
}

TEST_F(OpenTest, AnUnplayableFileIsExplainedPerBackEndAndGetsNoWindow) {
    QString bad = WorkFile("notavideo.avi");
    WriteFile(bad, QByteArray("This is a text file, not a video.\n").repeated(50));
    QString audio = WorkFile("audio-only.avi");
    ASSERT_TRUE(RunFfmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=0.2", "-c:a", "pcm_s16le", audio}));
    Start();

    for (const QString& file : {bad, audio}) {
        fw.messages.clear();
        EXPECT_EQ(app()->OpenDocumentFile(file), nullptr);
        ASSERT_EQ(fw.messages.size(), 1u) << file.toStdString();
        EXPECT_EQ(fw.messages[0].text, "Unable to load image frames - load cancelled...");
        EXPECT_EQ(fw.messages[0].caption, "Info");
        EXPECT_EQ(fw.messages[0].style, unsigned(MB_OK));
        EXPECT_FALSE(fw.messages[0].hadOwner);
    }

    qputenv("TESSARON_MEDIA_DETECTOR", "0");
    for (const QString& file : {bad, audio}) {
        fw.messages.clear();
        EXPECT_EQ(app()->OpenDocumentFile(file), nullptr);
        ASSERT_EQ(fw.messages.size(), 1u);
        EXPECT_EQ(fw.messages[0].text,
                  "Cannot open your file.  It might open with FFmpeg.\n\n"
                  "FFmpeg does not appear to be installed on your system.\n"
                  "FFmpeg is free and may be obtained from the FFmpeg Web Site:\n"
                  "https://ffmpeg.org/download.html\n\n"
                  "Please try again after installing FFmpeg.\n\n");
        EXPECT_EQ(fw.messages[0].caption, "Info");
    }
    EXPECT_EQ(WindowCount(), 0);
    EXPECT_EQ(DocumentCount(), 0);
    EXPECT_FALSE(frame()->ShowsDocumentMenu());
    EXPECT_TRUE(app()->RecentFiles().isEmpty()) << "failed opens are not remembered";
}

TEST_F(OpenTest, AMissingFileIsReportedWithItsNameAndReason) {
    Start();
    QString missing = WorkFile("no such file.avi");
    EXPECT_EQ(app()->OpenDocumentFile(missing), nullptr);
    ASSERT_EQ(fw.messages.size(), 1u) << "the reader is not tried after the file failed to open";
    EXPECT_TRUE(fw.messages[0].text.contains(missing)) << fw.messages[0].text.toStdString();
    EXPECT_TRUE(fw.messages[0].text.contains("does not exist"));
    EXPECT_EQ(fw.messages[0].caption, "Tessaron");
    EXPECT_EQ(WindowCount(), 0);

    // A folder is no file either.
    fw.messages.clear();
    EXPECT_EQ(app()->OpenDocumentFile(work.path()), nullptr);
    ASSERT_EQ(fw.messages.size(), 1u);
    EXPECT_TRUE(fw.messages[0].text.contains(work.path()));
    EXPECT_EQ(WindowCount(), 0);
}

TEST_F(OpenTest, AZeroByteFileOpensForReadingButTheReaderRefusesIt) {
    QString empty = WorkFile("empty.avi");
    WriteFile(empty, QByteArray());
    Start();
    EXPECT_EQ(app()->OpenDocumentFile(empty), nullptr);
    ASSERT_EQ(fw.messages.size(), 1u);
    EXPECT_EQ(fw.messages[0].text, CTessaronDoc::UnableToLoadText());
    qputenv("TESSARON_MEDIA_DETECTOR", "0");
    fw.messages.clear();
    EXPECT_EQ(app()->OpenDocumentFile(empty), nullptr);
    ASSERT_EQ(fw.messages.size(), 1u);
    EXPECT_EQ(fw.messages[0].text, CTessaronDoc::NoDetectorHintText());
    EXPECT_EQ(WindowCount(), 0);
}

TEST_F(OpenTest, TheCommandLineOpensItsFileBeforeTheWindowShows) {
    Start({video});
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_TRUE(frame()->ShowsDocumentMenu());
    EXPECT_TRUE(fw.messages.empty());
}

TEST_F(OpenTest, ABadFileOnTheCommandLineIsReportedAndTheProgramGoesOn) {
    Start({WorkFile("missing.avi")});
    EXPECT_EQ(fw.messages.size(), 1u);
    EXPECT_TRUE(frame()->isVisible());
    EXPECT_EQ(WindowCount(), 0);
}

TEST_F(OpenTest, FileOpenUsesTheDialogsChoice) {
    Start();
    fw.fileAnswers.push_back(video);
    frame()->Action(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(WindowCount(), 1);
}

TEST_F(OpenTest, FilesDroppedOnTheMainWindowAreOpened) {
    QString second = WorkFile("second.avi");
    ASSERT_TRUE(MakeRawAvi(second, 32, 24, 3));
    Start();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(video), QUrl::fromLocalFile(second)});
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    ProcessPendingEvents();
    EXPECT_EQ(WindowCount(), 2);

    // Text without files is refused.
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent refused(QPoint(100, 100), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(frame(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

TEST_F(OpenTest, TheRecentFileListKeepsFourFilesNewestFirst) {
    QStringList files;
    for (int i = 0; i < 5; ++i) {
        files << WorkFile(QStringLiteral("clip%1.avi").arg(i));
        ASSERT_TRUE(QFile::copy(video, files.last()));
    }
    Start();
    for (const QString& f : files) ASSERT_NE(app()->OpenDocumentFile(f), nullptr);
    QStringList expected = {files[4], files[3], files[2], files[1]};
    EXPECT_EQ(app()->RecentFiles(), expected);
    EXPECT_FALSE(frame()->Action(ID_FILE_MRU_FILE1)->isVisible());

    // Kept with the per-user settings, read again at the next start.
    QSettings settings("Local AppWizard-Generated Applications", "Tessaron");
    EXPECT_EQ(settings.value("Recent File List/File1").toString(), files[4]);
    runner.reset();
    Start();
    EXPECT_EQ(app()->RecentFiles(), expected);

    // An entry opens its file; one whose file went away leaves the list.
    app()->OpenRecentFile(1);
    EXPECT_EQ(WindowCount(), 1);
    EXPECT_EQ(app()->RecentFiles().first(), files[3]);
    QFile::remove(files[2]);
    fw.messages.clear();
    app()->OpenRecentFile(app()->RecentFiles().indexOf(files[2]));
    EXPECT_EQ(fw.messages.size(), 1u);
    EXPECT_FALSE(app()->RecentFiles().contains(files[2]));
    EXPECT_EQ(WindowCount(), 1);
}

TEST_F(OpenTest, ScreenshotOfTheMainWindowWithAVideo) {
    Start({video});
    frame()->resize(750, 650);
    ProcessPendingEvents();
    QString shot = SaveScreenshot(frame(), "main-window-with-video");
    EXPECT_FALSE(shot.isEmpty());
    std::printf("screenshot: %s\n", qPrintable(shot));
}

}  // namespace
