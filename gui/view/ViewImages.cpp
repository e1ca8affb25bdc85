// The view's side of "Check best..." and "Save checked frames as images...": the rules choose among the
// last sort's scores (selector/FramePick.h), sorting first when no sort has scored the frames; the
// images are written by the library's image writer (output/ImageFiles.h) through the same write loop
// as the AVI export, with its progress, cancel check and reports.
#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

#include "dialogs/PickDialogs.h"
#include "doc/CTessaronDoc.h"
#include "framework/Document.h"
#include "framework/Framework.h"
#include "output/ImageFiles.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"

std::vector<int32_t> CTessaronView::CheckBest(const PickSettings& settings) {
    if (!m_videoOpen || !m_pReader || !m_pFrameInfo) return {};
    // The last sort's scores serve when they were made as the selector now asks.
    const ScoreSettings wanted = ScoringSettings();
    if (m_pickQuality < 0 || !(m_pickScoring == wanted)) SortFrames();
    if (m_pickQuality < 0 || !(m_pickScoring == wanted)) return {};  // the sort was terminated
    PickSettings pick = settings;
    pick.score = m_pickScoring.kind;
    if (pick.first == kPickBetweenMarks) {
        pick.first = std::max(m_markIn, 0);
        pick.end = m_markOut >= 0 ? m_markOut + 1 : INT32_MAX;
    }
    ChangeMeasure change;
    if (pick.minChange > 0 && m_pickThumbnails.size() >= m_pickScores.size())
        change = [this](int32_t a, int32_t b) {
            return ThumbnailChange(m_pickThumbnails[size_t(a)], m_pickThumbnails[size_t(b)]);
        };
    return PickFrames(m_pickScores, m_pReader->FrameTimes(), pick, change);
}

bool CTessaronView::HasCropBox() const { return m_boxX1 != m_boxX2 && m_boxY1 != m_boxY2; }

void CTessaronView::ExportImages(const ImageSaveChoices& choices, const std::vector<int32_t>& frames) {
    const bool haveBox = HasCropBox();
    if (frames.empty() || !m_videoOpen || !m_pReader || !m_pFrameInfo) return;
    Framework& framework = AppFramework();

    ImageExportSettings settings;
    settings.folder = choices.folder.toUtf8().toStdString();
    CDocument* doc = GetDocument();
    settings.stem = FileStem(doc ? doc->GetPathName().toUtf8().toStdString() : std::string("frames"));
    if (doc) settings.source = doc->GetPathName().toUtf8().toStdString();
    settings.pattern = choices.pattern.toUtf8().toStdString();
    settings.encoding = choices.encoding;
    settings.useBox = choices.useBox && haveBox;
    settings.box = NormalizeCropBox(m_boxX1, m_boxY1, m_boxX2, m_boxY2);
    std::vector<ImageItem> items;
    for (size_t i = 0; i < frames.size(); ++i) {
        const int32_t frame = frames[i];
        const bool scored = m_pickQuality >= 0 && frame >= 0 && static_cast<size_t>(frame) < m_pickScores.size();
        items.push_back({frame, static_cast<int32_t>(i),
                         scored ? WholeScore(m_pickScoring.kind, m_pickScores[size_t(frame)].score) : 0});
    }

    // A folder that is not there yet is made, when the user agrees.
    const QString caption = QStringLiteral("Cannot save images...");
    const QFileInfo folder(choices.folder);
    if (!folder.isDir()) {
        const QString shown = QDir::toNativeSeparators(choices.folder);
        if (folder.exists() || folder.isSymLink()) {
            framework.MessageBox(this, QStringLiteral("%1 is not a folder.").arg(shown), caption, MB_OK);
            return;
        }
        if (framework.MessageBox(this, QStringLiteral("The folder %1 does not exist.\nCreate it?").arg(shown),
                                 QStringLiteral("Save images"), MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        std::error_code failed;
        std::filesystem::create_directories(std::filesystem::path(choices.folder.toUtf8().toStdString()), failed);
        if (failed) {
            framework.MessageBox(
                this,
                QStringLiteral("Cannot create the folder %1: %2.").arg(shown, QString::fromLocal8Bit(failed.message())),
                caption, MB_OK);
            return;
        }
    }

    // One question for all the files that are there already.
    std::string error;
    const std::vector<std::string> paths = PlannedImagePaths(*m_pReader, *m_pFrameInfo, items, settings, &error);
    if (paths.empty()) {
        framework.MessageBox(this, QString::fromUtf8(error.c_str()), caption, MB_OK);
        return;
    }
    int existing = 0;
    struct stat st {};
    for (const std::string& path : paths) existing += ::lstat(path.c_str(), &st) == 0 ? 1 : 0;
    if (existing > 0) {
        const QString question = QStringLiteral("%1 of the files to write exist already in %2.\nReplace them?")
                                     .arg(existing)
                                     .arg(choices.folder);
        if (framework.MessageBox(this, question, QStringLiteral("Save images"), MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        settings.replace = true;
    }

    m_pReader->SetDeinterlace(deinterlaceEnabled);
    ExportOutcome outcome;
    RunWriteLoop(
        choices.folder, static_cast<int>(items.size()), false,
        [&](const ExportTarget&, const ExportCallbacks& callbacks) {
            outcome = ExportImageFiles(*m_pReader, *m_pFrameInfo, items, settings, callbacks);
            return outcome;
        },
        QString(), caption);
    if (outcome.written)
        framework.SetStatusText(QStringLiteral("%1 %2 written to %3")
                                    .arg(outcome.framesWritten)
                                    .arg(outcome.framesWritten == 1 ? "image" : "images")
                                    .arg(choices.folder));
    Invalidate();
}
