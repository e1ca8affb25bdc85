// The view's commands that write files: Crop and Save, the export of the selector's checked frames and
// the save of one frame as a BMP file. The writing loops live in the library (output/FrameExport.h),
// shared with tessaron-cli crop and export (the same reads: a crop reads the box alone); here the view
// asks for the file name, runs the loop under its cancel check with progress texts and a frame drawn a
// few times a second, and tells the user how it went.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>

#include "framework/Document.h"
#include "framework/Framework.h"
#include "image/dib.h"
#include "output/FrameExport.h"
#include "dialogs/SelectVideoFrames.h"
#include "video/FrameBitmap.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"
#include "view/FrameImage.h"
#include "view/LoopGuard.h"

namespace {

const QString kAviFilter = QStringLiteral("AVI Files (*.avi)|*.avi|All Files (*.*)|*.*||");
const QString kBmpFilter = QStringLiteral("BMP Files (*.bmp)|*.bmp|All Files (*.*)|*.*||");
const QString kCannotCreate = QStringLiteral("Cannot create AVI file...");
// How often a writing loop shows one of its frames.
constexpr qint64 kDrawIntervalMs = 250;

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }
QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The folder of the last file written in this session; the save dialogs start there.
QString lastSaveFolder;

// Suffixes of other picture and video types: a name typed with one of them gets the written format's
// suffix in its place; any other suffix ("take.v2") is kept and the format's is added.
bool IsOtherMediaSuffix(const QString& suffix) {
    static const QStringList kKnown = {QStringLiteral("png"),  QStringLiteral("jpg"),  QStringLiteral("jpeg"),
                                       QStringLiteral("tif"),  QStringLiteral("tiff"), QStringLiteral("gif"),
                                       QStringLiteral("webp"), QStringLiteral("bmp"),  QStringLiteral("avi"),
                                       QStringLiteral("mp4"),  QStringLiteral("m4v"),  QStringLiteral("mkv"),
                                       QStringLiteral("mov"),  QStringLiteral("webm"), QStringLiteral("mpg"),
                                       QStringLiteral("mpeg"), QStringLiteral("wmv"),  QStringLiteral("flv"),
                                       QStringLiteral("ts"),   QStringLiteral("ppm")};
    return kKnown.contains(suffix.toLower());
}

// "1.2 GB", "830 KB", "78 bytes".
QString SizeText(qint64 bytes) {
    if (bytes < 1000) return QStringLiteral("%1 bytes").arg(bytes);
    const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    while (value >= 999.95 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    return QStringLiteral("%1 %2").arg(value, 0, 'f', value < 10 ? 1 : 0).arg(QLatin1String(units[unit]));
}

}  // namespace

QString PathWithFormatSuffix(const QString& path, const QString& suffix) {
    const QFileInfo info(path);
    const QString typed = info.suffix();
    if (typed.compare(suffix, Qt::CaseInsensitive) == 0 || info.fileName().isEmpty()) return path;
    if (!typed.isEmpty() && IsOtherMediaSuffix(typed)) {
        const QString base = path.left(path.size() - typed.size());  // keeps the dot
        return base + suffix;
    }
    return path + QLatin1Char('.') + suffix;
}

bool CTessaronView::TakeOutputName(QString* path, const QString& suffix, QString* note) {
    const QString corrected = PathWithFormatSuffix(*path, suffix);
    if (corrected == *path) return true;
    // The file dialog asked about the typed name; the one written is asked about here.
    if (QFileInfo::exists(corrected) &&
        AppFramework().MessageBox(
            this,
            QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(QDir::toNativeSeparators(corrected)),
            QStringLiteral("Confirm Save As"), MB_YESNO | MB_ICONWARNING) != IDYES)
        return false;
    if (note)
        *note = QStringLiteral("%1 is written as %2: the file holds %3 data.")
                    .arg(QFileInfo(*path).fileName(), QFileInfo(corrected).fileName(), suffix.toUpper());
    *path = corrected;
    return true;
}

QString CTessaronView::SaveFolder() const {
    if (!lastSaveFolder.isEmpty() && QFileInfo(lastSaveFolder).isDir()) return lastSaveFolder;
    CDocument* doc = GetDocument();
    return doc && !doc->GetPathName().isEmpty() ? QFileInfo(doc->GetPathName()).absolutePath() : QString();
}

void CTessaronView::NoteSaved(const QString& path, const QString& what, const QString& note) {
    const QFileInfo info(path);
    QString text;
    if (info.isDir()) {
        // An image set: the folder it went to.
        lastSaveFolder = info.absoluteFilePath();
        text = QStringLiteral("Wrote %1 to %2").arg(what, QDir::toNativeSeparators(info.absoluteFilePath()));
    } else {
        lastSaveFolder = info.absolutePath();
        text = QStringLiteral("Wrote %1 to %2 (%3)").arg(what, info.fileName(), SizeText(info.size()));
    }
    if (!note.isEmpty()) text += QStringLiteral(". ") + note;
    AppFramework().SetStatusText(text);
}

void CTessaronView::RunWriteLoop(const QString& path, int rounds, bool crop,
                                 const std::function<ExportOutcome(const ExportTarget&, const ExportCallbacks&)>& write,
                                 const QString& note, const QString& failureCaption) {
    Framework& framework = AppFramework();
    const std::string utf8 = ToUtf8(path);
    CDocument* doc = GetDocument();
    const std::string source = doc ? ToUtf8(doc->GetPathName()) : std::string();
    ExportTarget target;
    target.path = utf8.c_str();
    target.sourcePath = source.empty() ? nullptr : source.c_str();
    target.sourceModified = &m_sourceStatus.m_mtime;

    // While the loop runs the view shows a frame of it now and then, drawn straight from the loop's block
    // (the reader reads the few frames it shows whole, the others only as far as the output needs
    // them); afterwards it shows again what it showed before.
    const QImage shownBefore = m_frameImage;
    const int drawnBefore = m_drawnFrame;
    bool drew = false;
    ExportOutcome outcome;
    {
        LoopGuard guard(this, rounds);
        int round = 0;
        int done = 0;  // an export's frames done, for the bar
        QElapsedTimer sinceDrawn;
        ExportCallbacks callbacks;
        callbacks.keepGoing = [&] { return guard.Round(crop ? round++ : done) != 0; };
        callbacks.progress = [&](int32_t position, int32_t frame) {
            done = std::max(done, position + 1);
            framework.SetStatusText(
                crop ? QString::asprintf("Processing Frame %4d", frame)
                     : QString::asprintf("Processing Frame %4d [Original frame:  %4d]", position, frame));
        };
        callbacks.omitted = [&](int32_t position, int32_t) { done = std::max(done, position + 1); };
        callbacks.wantFrame = [&](int32_t) { return !sinceDrawn.isValid() || sinceDrawn.elapsed() >= kDrawIntervalMs; };
        callbacks.frameRead = [&](int32_t, const uint8_t* block, int32_t length) {
            sinceDrawn.start();
            int32_t width = 0, height = 0;
            if (!IsWholeFrameBlock(block, length, &width, &height) || !m_pFrameInfo) return;
            const int frameWidth = m_pFrameInfo->width, frameHeight = m_pFrameInfo->height;
            if (m_frameImage.width() != frameWidth || m_frameImage.height() != frameHeight ||
                m_frameImage.format() != QImage::Format_RGB32) {
                m_frameImage = QImage(frameWidth, frameHeight, QImage::Format_RGB32);
                m_frameImage.fill(Qt::black);
            }
            if (m_frameImage.isNull()) return;
            m_imageFrame = -1;
            if (width == frameWidth && height == frameHeight) {
                BgrRowsToImage(block + kDibHeaderSize, width, height, DibStride24(width), m_frameImage);
            } else {
                // A crop reads the box alone: it is drawn where it lies in the frame.
                QImage box(width, height, QImage::Format_RGB32);
                if (box.isNull()) return;
                BgrRowsToImage(block + kDibHeaderSize, width, height, DibStride24(width), box);
                QPainter painter(&m_frameImage);
                painter.setCompositionMode(QPainter::CompositionMode_Source);
                painter.drawImage(QPoint(std::min(m_boxX1, m_boxX2), std::min(m_boxY1, m_boxY2)), box);
            }
            // The loop's picture stands for every paint until the loop ends.
            m_drawnFrame = m_currentFrame;
            drew = true;
            Invalidate();
        };
        outcome = write(target, callbacks);
    }
    if (drew) {
        m_frameImage = shownBefore;
        m_imageFrame = -1;
        m_drawnFrame = drawnBefore;
        Invalidate();
    }

    if (outcome.written) {
        // What was written, in the status bar: how many frames, where, how big.
        NoteSaved(path,
                  outcome.framesWritten == 1 ? QStringLiteral("1 frame")
                                             : QStringLiteral("%1 frames").arg(outcome.framesWritten),
                  note);
    }
    // A write the file system refused for the file's size is told as such; other failures under the
    // caption of the output.
    const bool sizeLimit = outcome.stop == ExportStop::WriteFailed &&
                           outcome.reason.find(std::strerror(EFBIG)) != std::string::npos;
    switch (outcome.stop) {
    case ExportStop::Cancelled:  // the cancel check has told the user
        break;
    case ExportStop::Done:
        if (outcome.written) break;
        [[fallthrough]];
    case ExportStop::WriteFailed:
    case ExportStop::CreateFailed:
    case ExportStop::Refused:
        framework.MessageBox(this, FromUtf8(ExportOutcomeText(outcome, utf8)),
                             sizeLimit ? QStringLiteral("File size limit exceeded") : failureCaption, MB_OK);
        break;
    }
    if (!outcome.omitted.empty())
        framework.MessageBox(this, FromUtf8(OmittedFramesReport(outcome.omitted)), QStringLiteral("Info"), MB_OK);
    // Only a file that was made is to carry the source's time.
    if (!outcome.stampError.empty() && outcome.written)
        framework.MessageBox(this,
                             QStringLiteral("%1 was written, but it could not be given the modification time of "
                                            "the video: %2.")
                                 .arg(path, FromUtf8(outcome.stampError)),
                             QStringLiteral("Info"), MB_OK);
}

void CTessaronView::OnCropAndSave() {
    Framework& framework = AppFramework();
    // A box without width or height would give frames without pixels.
    if (m_boxX1 == m_boxX2 || m_boxY1 == m_boxY2) {
        framework.MessageBox(this,
                             QStringLiteral("You must first create a crop box by clicking \n"
                                            "and dragging the cursor over the image..."),
                             kCannotCreate, MB_OK);
        return;
    }
    if (!m_videoOpen || !m_pReader || !m_pFrameInfo) return;

    CDocument* doc = GetDocument();
    FileDialogRequest request;
    request.save = true;
    request.defaultExtension = QStringLiteral("avi");
    request.proposedName = FromUtf8(CropProposedName(doc ? ToUtf8(doc->GetPathName()) : std::string()));
    request.flags = OFN_OVERWRITEPROMPT;
    request.filter = kAviFilter;
    request.directory = SaveFolder();
    QString path;
    if (!framework.FileDialog(window(), request, &path)) return;
    QString note;
    if (!TakeOutputName(&path, QStringLiteral("avi"), &note)) return;

    const int x1 = m_boxX1, y1 = m_boxY1, x2 = m_boxX2, y2 = m_boxY2;
    RunWriteLoop(
        path, m_pFrameInfo->frameCount, true,
        [&](const ExportTarget& target, const ExportCallbacks& callbacks) {
            return CropAndSave(*m_pReader, *m_pFrameInfo, x1, y1, x2, y2, target, callbacks);
        },
        note);
}

void CTessaronView::ExportChecked(const std::vector<int32_t>& checked) {
    if (!m_videoOpen || !m_pReader || !m_pFrameInfo || checked.empty()) return;
    // The selector's list is only read; a copy keeps the loop independent of it.
    const std::vector<int32_t> frames = checked;

    FileDialogRequest request;
    request.save = true;
    request.defaultExtension = QStringLiteral("avi");
    request.proposedName = QStringLiteral("Untitled.avi");
    request.flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    request.filter = kAviFilter;
    request.directory = SaveFolder();
    QString path;
    if (!AppFramework().FileDialog(window(), request, &path)) return;
    QString note;
    if (!TakeOutputName(&path, QStringLiteral("avi"), &note)) return;

    RunWriteLoop(
        path, static_cast<int>(frames.size()), false,
        [&](const ExportTarget& target, const ExportCallbacks& callbacks) {
            return ExportCheckedFrames(*m_pReader, *m_pFrameInfo, frames.data(), static_cast<int32_t>(frames.size()),
                                       target, callbacks);
        },
        note);
}

void CTessaronView::SaveDisplayedFrame(int frame) {
    m_currentFrame = frame;
    CDocument* doc = GetDocument();

    FileDialogRequest request;
    request.save = true;
    request.defaultExtension = QStringLiteral("bmp");
    request.proposedName = FromUtf8(BmpProposedName(doc ? ToUtf8(doc->GetPathName()) : std::string(), m_currentFrame));
    request.flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    request.filter = kBmpFilter;
    request.directory = SaveFolder();
    QString path;
    QString text;
    QString note;
    if (!AppFramework().FileDialog(window(), request, &path) || !TakeOutputName(&path, QStringLiteral("bmp"), &note)) {
        text = QStringLiteral("Save cancelled.");
    } else {
        // The frame named in the file name is read into this view's own copy and saved from there.
        QString reason;
        bool saved = false;
        if (!ReadFrameCopy(m_currentFrame)) {
            reason = QStringLiteral("The frame cannot be read.");
        } else {
            const std::string utf8 = ToUtf8(path);
            saved = sharedFrameBitmap.SaveAsBmp(utf8.c_str());
            if (!saved) reason = FromUtf8(sharedFrameBitmap.LastSaveError());
        }
        if (saved) NoteSaved(path, QStringLiteral("frame %1").arg(m_currentFrame), note);
        text = saved ? QString::asprintf("Frame %d saved to %s.", m_currentFrame, path.toUtf8().constData())
                     : QString::asprintf("Frame %d could not be saved to %s.", m_currentFrame,
                                         path.toUtf8().constData()) +
                           QLatin1Char('\n') + reason;
        // The view shows the frame it saved.
        Invalidate();
    }
    if (m_pSelector) m_pSelector->SetStatusText(text);
}
