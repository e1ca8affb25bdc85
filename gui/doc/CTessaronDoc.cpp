#include "doc/CTessaronDoc.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressDialog>
#include <memory>

#include "framework/Framework.h"
#include "video/VideoFrameReader.h"

namespace {

// A long file seen for the first time is indexed while it opens: after a moment a dialog names the
// file and shows how far it is; Escape or Cancel stops the open. A short file shows nothing.
class IndexProgressDialog {
public:
    explicit IndexProgressDialog(const QString& path) : name_(QFileInfo(path).fileName()) { clock_.start(); }

    bool Report(double fraction) {
        if (!dialog_ && clock_.elapsed() < 400) return true;
        if (!dialog_) {
            dialog_ = std::make_unique<QProgressDialog>(QStringLiteral("Indexing %1...").arg(name_),
                                                        QStringLiteral("Cancel"), 0, 1000,
                                                        QApplication::activeWindow());
            dialog_->setWindowTitle(QStringLiteral("Opening"));
            dialog_->setWindowModality(Qt::ApplicationModal);
            dialog_->setMinimumDuration(0);
            dialog_->show();
        }
        dialog_->setValue(int(fraction * 1000));
        QApplication::processEvents();
        return !dialog_->wasCanceled();
    }

private:
    QString name_;
    QElapsedTimer clock_;
    std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace

uint8_t deinterlaceEnabled = 0;
uint8_t fitLargeVideos = 1;
int64_t stepBackMemory = DefaultStepBackMemory();

CTessaronDoc::CTessaronDoc() = default;

CTessaronDoc::~CTessaronDoc() = default;

QString CTessaronDoc::UnableToLoadText() { return QStringLiteral("Unable to load image frames - load cancelled..."); }

QString CTessaronDoc::NoDetectorHintText() {
    return QStringLiteral("Cannot open your file.  It might open with FFmpeg.\n\n") +
           QStringLiteral("FFmpeg does not appear to be installed on your system.\n") +
           QStringLiteral("FFmpeg is free and may be obtained from the FFmpeg Web Site:\n") +
           QStringLiteral("https://ffmpeg.org/download.html\n\n") +
           QStringLiteral("Please try again after installing FFmpeg.\n\n");
}

bool CTessaronDoc::OnOpenDocument(const QString& path) {
    if (!CDocument::OnOpenDocument(path)) return false;

    // A trial open: the view opens the file again with a reader of its own.
    VideoFrameReader reader;
    reader.SetDeinterlace(deinterlaceEnabled);
    QByteArray utf8 = path.toUtf8();
    IndexProgressDialog progress(path);
    reader.SetOpenProgress([&progress](double fraction) { return progress.Report(fraction); });
    FrameInfo& info = reader.Open(utf8.constData());
    if (info.succeeded) {
        reader.Close(info);
        return true;
    }
    if (reader.LastError() == "cancelled") return false;  // the user stopped it: nothing to explain
    AppFramework().MessageBox(nullptr, info.useMediaDetector ? UnableToLoadText() : NoDetectorHintText(),
                              QStringLiteral("Info"), MB_OK);
    return false;
}
