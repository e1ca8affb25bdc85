#include "doc/CTessaronDoc.h"

#include "framework/Framework.h"
#include "video/VideoFrameReader.h"

uint8_t deinterlaceEnabled = 0;
uint8_t fitLargeVideos = 1;

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
    FrameInfo& info = reader.Open(utf8.constData());
    if (info.succeeded) {
        reader.Close(info);
        return true;
    }
    AppFramework().MessageBox(nullptr, info.useMediaDetector ? UnableToLoadText() : NoDetectorHintText(),
                              QStringLiteral("Info"), MB_OK);
    return false;
}
