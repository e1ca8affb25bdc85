// The view's side of the sort (by JPEG size or sharpness, of the whole frame or the crop box) and the
// quality preview. The scoring and the sort itself live
// in the library (selector/FrameScore.h, selector/FrameSort.h), shared with tessaron-cli rank; here the
// view hangs its cancel check, status texts, frame copy, title and drawing on them.
#include <QLocale>
#include <QPainter>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/Document.h"
#include "framework/Framework.h"
#include "doc/CTessaronDoc.h"
#include "image/ximage.h"
#include "output/FrameExport.h"
#include "selector/FrameOrder.h"
#include "selector/FrameSort.h"
#include "dialogs/SelectVideoFrames.h"
#include "video/FrameBitmap.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"
#include "view/FrameImage.h"
#include "view/LoopGuard.h"

namespace {

constexpr int kDefaultQuality = 25;

// The selector's status shows what the view draws (or nothing), not a report of an operation.
bool IsDrawingStatus(const QString& text) {
    return text.isEmpty() || text.startsWith(QLatin1String("Displaying frame:")) ||
           text.startsWith(QLatin1String("Viewing effect of quality parameter"));
}

}  // namespace

int CTessaronView::ScoringQuality() const { return (m_pSelector ? m_pSelector->Quality() : kDefaultQuality) & 0xFF; }

ScoreSettings CTessaronView::ScoringSettings() const {
    ScoreSettings settings;
    settings.quality = ScoringQuality();
    if (!m_pSelector) return settings;
    settings.kind = m_pSelector->Score();
    // The box drawn before the selector opened (opening it takes the box off the picture).
    const int* corners = m_selectorBox;
    if (corners[0] != corners[2] && corners[1] != corners[3] && m_pSelector->ScoreOnlyBox()) {
        const CropRect box = NormalizeCropBox(corners[0], corners[1], corners[2], corners[3]);
        settings.useBox = true;
        settings.left = box.left;
        settings.top = box.top;
        settings.width = box.Width();
        settings.height = box.Height();
    }
    return settings;
}

void CTessaronView::DetachSharedBitmap() {
    // The shared bitmap must never point into a copy that is being freed.
    if (m_pFrameCopy && sharedFrameBitmap.block == m_pFrameCopy.get()) sharedFrameBitmap.Attach(nullptr, 0);
}

bool CTessaronView::CopyFrameBlock(const uint8_t* block, int32_t length, int frame) {
    if (!IsWholeFrameBlock(block, length)) return false;
    if (!m_pFrameCopy || m_frameCopySize < length) {
        m_frameCopyFrame = -1;
        m_frameCopyBytes = 0;
        DetachSharedBitmap();
        m_pFrameCopy.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length))));
        m_frameCopySize = m_pFrameCopy ? length : 0;
        if (!m_pFrameCopy) return false;
    }
    std::memcpy(m_pFrameCopy.get(), block, static_cast<size_t>(length));
    m_frameCopyBytes = length;
    m_frameCopyFrame = frame;
    m_frameCopyDeinterlace = deinterlaceEnabled;  // what the reader was told when it gave the block
    m_imageFrame = -1;
    sharedFrameBitmap.Attach(m_pFrameCopy.get(), length);
    return true;
}

bool CTessaronView::ReadFrameCopy(int frame) {
    if (m_frameCopyFrame == frame && IsWholeFrameBlock(m_pFrameCopy.get(), m_frameCopyBytes)) {
        // Held already (the paint or the sort has just copied it): a video with long distances between
        // key frames would otherwise decode all the way from the last one again.
        sharedFrameBitmap.Attach(m_pFrameCopy.get(), m_frameCopyBytes);
        return true;
    }
    if (!m_videoOpen || !m_pReader || !m_pFrameInfo) return false;
    m_pReader->SetDeinterlace(deinterlaceEnabled);
    FrameBlockPtr block(m_pReader->ReadFrame(*m_pFrameInfo, frame));
    return block && CopyFrameBlock(block.get(), m_pFrameInfo->frameBlockSize, frame);
}

void CTessaronView::PreviewFrameCopy() {
    // This view's own copy at its own size: the shared bitmap may hold another view's frame by now.
    int32_t width = 0, height = 0;
    if (!IsWholeFrameBlock(m_pFrameCopy.get(), m_frameCopyBytes, &width, &height)) return;
    JpegScoreAndDraw(m_pFrameCopy.get() + kDibHeaderSize, width, height, 24, static_cast<int>(DibStride24(width)),
                     false, ScoringQuality(), m_previewOn != 0);
}

int CTessaronView::JpegScoreAndDraw(const uint8_t* pixels, int width, int height, int bitsPerPixel, int bytesPerLine,
                                    bool flip, int quality, bool preview) {
    // Frames travel as 24-bit bottom-up rows; anything else has no JPEG and sorts last.
    if (bitsPerPixel != 24 || flip)
        return EmptyJpegScore(FrameBlockSize(width > 0 ? width : 0, height > 0 ? height : 0));
    return ScoreAndDraw(pixels, width, height, bytesPerLine, quality, preview).score;
}

JpegScore CTessaronView::ScoreAndDraw(const uint8_t* pixels, int width, int height, int bytesPerLine, int quality,
                                      bool preview) {
    JpegScore score;
    score.score = EmptyJpegScore(FrameBlockSize(width > 0 ? width : 0, height > 0 ? height : 0));
    if (!pixels || width <= 0 || height <= 0 || bytesPerLine < 3 * width) return score;

    // The rows are encoded where they lie (the score is that of an image made from them); the preview
    // decodes exactly the bytes the encoder produced.
    if (!m_pScorer) m_pScorer.reset(new (std::nothrow) JpegScorer);
    if (m_pScorer) score = m_pScorer->Score(pixels, width, height, bytesPerLine, quality & 0xFF);
    CxImage decoded(CXIMAGE_FORMAT_UNKNOWN);
    const bool roundTrip = preview && score.encoded &&
                           decoded.Decode(const_cast<uint8_t*>(m_pScorer->LastJpeg()),
                                          static_cast<uint32_t>(score.jpegBytes), CXIMAGE_FORMAT_JPG) &&
                           static_cast<int>(decoded.GetWidth()) == width &&
                           static_cast<int>(decoded.GetHeight()) == height;

    ShowScoredRows(pixels, width, height, bytesPerLine, roundTrip ? &decoded : nullptr, preview);
    return score;
}

void CTessaronView::ShowScoredRows(const uint8_t* pixels, int width, int height, int bytesPerLine, CxImage* decoded,
                                   bool preview) {
    const QString text =
        preview ? QString::asprintf("Viewing effect of quality parameter\non compression/decompression of frame:  %d ",
                                    m_currentFrame)
                : QString::asprintf("Displaying frame:  %d", m_currentFrame);
    // A repaint (a window moved away, a dialog closed) shows the same picture again and must not wipe
    // out a report the user has not read yet, such as where a frame was saved; the user's next step
    // (a selection, a quality) writes the status again.
    if (m_pSelector && m_pSelector->isVisible() && (!m_pPaintPainter || IsDrawingStatus(m_pSelector->StatusText())))
        m_pSelector->SetStatusText(text);

    // The picture goes where the view keeps what it shows, top-down; a paint puts it on the screen. A
    // frame whose round trip failed is shown as it is.
    if (m_frameImage.width() != width || m_frameImage.height() != height ||
        m_frameImage.format() != QImage::Format_RGB32)
        m_frameImage = QImage(width, height, QImage::Format_RGB32);
    if (m_frameImage.isNull()) return;
    m_imageFrame = -1;
    if (!decoded) {
        BgrRowsToImage(pixels, width, height, bytesPerLine, m_frameImage);
    } else if (decoded->GetBpp() == 24) {
        BgrRowsToImage(decoded->GetBits(), width, height, decoded->GetRowWidth(), m_frameImage);
    } else {
        QPainter painter(&m_frameImage);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        decoded->Draw(&painter, 0, 0, -1, -1, nullptr);
    }

    if (m_pPaintPainter) {
        DrawFrameImage(*m_pPaintPainter);
    } else {
        m_drawnFrame = m_currentFrame;
        viewport()->update();
    }
}

QString CTessaronView::PreviewNote() const {
    // The encoder takes the stored quality's low byte, 0 as 1 and anything above 100 as 100.
    return m_previewOn ? QString::asprintf(" [JPEG preview, quality %d]", std::clamp(ScoringQuality(), 1, 100))
                       : QString();
}

FrameScores CTessaronView::SortScores() const {
    FrameScores scores;
    scores.markIn = m_markIn;
    scores.markOut = m_markOut;
    // Only a sort that went to the end has scored every frame it could read.
    if (m_pickQuality < 0) return scores;
    scores.values.reserve(m_pickScores.size());
    const bool sharpness = IsSharpnessKind(m_pickScoring.kind);
    for (const PickScore& s : m_pickScores) {
        if (sharpness)
            scores.values.push_back(s.readable ? s.score.sharpness : std::nan(""));
        else
            scores.values.push_back(s.readable && s.score.encoded ? static_cast<double>(s.score.jpegBytes)
                                                                  : std::nan(""));
    }
    const QString box = m_pickScoring.useBox ? QStringLiteral(" in the crop box") : QString();
    scores.name =
        m_pickScoring.kind == ScoreKind::LocalSharpness
            ? QStringLiteral("Local sharpness: highest variance of the Laplacian among windows%1, by frame").arg(box)
        : sharpness ? QStringLiteral("Sharpness: variance of the Laplacian of the luma%1, by frame").arg(box)
                    : QString::asprintf("Detail: JPEG size in bytes at quality %d", m_pickQuality) + box +
                          QStringLiteral(", by frame");
    return scores;
}

void CTessaronView::QualityPreview(bool on) {
    if (m_pPaintPainter) {
        // Called by the paint, which has just copied the current frame: the preview is drawn in its place.
        m_previewOn = 1;
        PreviewFrameCopy();
        return;
    }
    const int wasOn = m_previewOn;
    m_previewOn = on ? 1 : 0;
    // The main window says so while the view shows frames through the JPEG round trip.
    if (m_previewOn)
        AppFramework().SetStatusText(
            QString::asprintf("JPEG preview at quality %d: frames are shown after compression and decompression",
                              std::clamp(ScoringQuality(), 1, 100)));
    else if (wasOn)
        AppFramework().SetStatusText(QString());
    // The current frame is read afresh: the copy may hold another frame (the last one a sort scored).
    if (ReadFrameCopy(m_currentFrame))
        PreviewFrameCopy();
    else
        Invalidate();
}

int CTessaronView::SortFrames() {
    Framework& framework = AppFramework();
    if (m_captureTitle && GetDocument()) {
        m_baseTitle = GetDocument()->GetTitle();
        m_captureTitle = 0;
    }
    framework.BeginWaitCursor();
    if (m_videoOpen && m_pReader && m_pFrameInfo) {
        // A sort the user ends changes nothing: the order, the scores of the plot and the frame shown
        // stay as they were. So the new order and scores are made aside and taken only at the end.
        const int shownBefore = m_currentFrame;
        const int quality = ScoringQuality();
        const ScoreSettings scoring = ScoringSettings();
        // A JPEG sort of whole frames scores and draws in one step (with the preview's round trip); the
        // other sorts are scored by the library and the frame is shown as read.
        const bool libraryScores = IsSharpnessKind(scoring.kind) || scoring.useBox;
        // The best frame's block so far: shown at the end without sending the reader back to it, which
        // in a video with distant key frames means decoding all the way from the last one again.
        FrameBlockPtr best;
        int32_t bestCapacity = 0, bestLength = 0, bestScore = kInitialBestScore;
        double bestSharpness = -1;
        int bestHeld = -1;
        const uint8_t* current = nullptr;
        int32_t currentLength = 0;
        SortOutcome outcome;
        std::vector<std::string> order;
        std::vector<PickScore> scores;
        scores.assign(static_cast<size_t>(std::max(m_pFrameInfo->frameCount, 0)), PickScore{});
        std::vector<Thumbnail> thumbnails(scores.size());
        // What is waiting to be painted is painted now, before the titles start naming the frames scored.
        if (viewport()->isVisible()) viewport()->repaint();
        {
            const QScopedValueRollback sorting(m_sorting, 1);
            LoopGuard guard(this, m_pFrameInfo->frameCount);
            int round = 0;
            SortCallbacks callbacks;
            callbacks.keepGoing = [&] { return guard.Round(round++) != 0; };
            callbacks.frameRead = [&](int32_t frame, const uint8_t* block, int32_t length) {
                framework.SetStatusText(QString::asprintf("Processing Frame %4d", frame));
                int32_t width = 0, height = 0;
                if (IsWholeFrameBlock(block, length, &width, &height)) {
                    m_imageWidth = width;
                    m_imageHeight = height;
                }
                current = block;
                currentLength = length;
            };
            if (!libraryScores)
                callbacks.score = [&](int32_t frame, const uint8_t* pixels, int32_t width, int32_t height,
                                      int32_t stride) {
                    m_currentFrame = frame;
                    return ScoreAndDraw(pixels, width, height, stride, quality, m_previewOn != 0);
                };
            callbacks.scored = [&](int32_t frame, const JpegScore& score) {
                int32_t width = 0, height = 0;
                if (libraryScores && IsWholeFrameBlock(current, currentLength, &width, &height)) {
                    m_currentFrame = frame;
                    ShowScoredRows(current + kDibHeaderSize, width, height, static_cast<int>(DibStride24(width)),
                                   nullptr, false);
                }
                // The picture, both titles and the frame pane name the same frame at every moment.
                if (CDocument* doc = GetDocument())
                    doc->SetTitle(m_baseTitle + QString::asprintf(" - Frame %d", frame));
                ShowFrameStatus();
                viewport()->repaint();
                if (frame >= 0 && static_cast<size_t>(frame) < scores.size())
                    scores[static_cast<size_t>(frame)] = {score, true};
                if (IsSharpnessKind(scoring.kind) ? !(score.sharpness > bestSharpness) : score.score >= bestScore)
                    return;
                bestScore = score.score;
                bestSharpness = score.sharpness;
                if (!best || bestCapacity < currentLength) {
                    best.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(currentLength))));
                    bestCapacity = best ? currentLength : 0;
                }
                bestHeld = best ? frame : -1;
                bestLength = best ? currentLength : 0;
                if (best) std::memcpy(best.get(), current, static_cast<size_t>(currentLength));
            };
            callbacks.thumbnail = [&](int32_t frame, const Thumbnail& thumbnail) {
                if (frame >= 0 && static_cast<size_t>(frame) < thumbnails.size())
                    thumbnails[static_cast<size_t>(frame)] = thumbnail;
            };
            callbacks.unreadable = [&](int32_t frame) {
                framework.MessageBox(this, QString::asprintf("%s %d", "Cannot handle frames beyond frame", frame),
                                     QStringLiteral("Info"), MB_OK);
            };
            outcome = ScoreAndSortFrames(*m_pReader, *m_pFrameInfo, scoring, order, callbacks);
        }
        if (outcome.stop == SortStop::Cancelled) {
            // Everything as before the sort; the selector keeps its list and caption.
            m_currentFrame = shownBefore;
            m_drawnFrame = -1;
            if (m_pSelector) m_pSelector->MarkOrderReset();
        } else {
            m_frameOrder.swap(order);
            m_pickScores.swap(scores);
            m_pickThumbnails.swap(thumbnails);
            m_pickQuality = -1;
            m_pickRanks.clear();
            // "Check best..." and the ranks use a sort that went to the end (or to an unreadable frame).
            if (outcome.stop == SortStop::Done || outcome.stop == SortStop::Unreadable) {
                m_pickQuality = quality;
                m_pickScoring = scoring;
                TakeRanks();
            }
            ReportSortTrouble(outcome);
            m_currentFrame = outcome.bestFrame >= 0 ? outcome.bestFrame : shownBefore;
            if (outcome.bestFrame >= 0 && bestHeld == outcome.bestFrame &&
                CopyFrameBlock(best.get(), bestLength, bestHeld)) {
                // The best frame is what the next paint shows.
                PreviewFrameCopy();
            } else {
                m_drawnFrame = -1;
            }
        }
    } else {
        m_drawnFrame = -1;
    }
    framework.SetStatusText(QString());
    Invalidate();
    ShowFrameStatus();
    framework.EndWaitCursor();
    return m_videoOpen ? m_currentFrame : -1;
}

void CTessaronView::ReportSortTrouble(const SortOutcome& outcome) {
    Framework& framework = AppFramework();
    if (!outcome.skipped.empty()) {
        // Told once the sort is over: the frames in the middle that did not decode.
        const std::string list = OmittedFramesReport(outcome.skipped);
        framework.MessageBox(this,
                             QStringLiteral("These frames could not be read and are left out of the sort:\n") +
                                 QString::fromStdString(list.substr(list.find('\n') + 1)),
                             QStringLiteral("Info"), MB_OK);
    }
    if (outcome.stop == SortStop::OutOfMemory)
        framework.MessageBox(this,
                             QString::asprintf("Not enough memory to sort the frames; %d of them were sorted.",
                                               outcome.framesScored),
                             QStringLiteral("Info"), MB_OK);
    else if (outcome.stop == SortStop::Failed)
        framework.MessageBox(this,
                             QString::asprintf("Cannot sort the frames (%s); %d of them were sorted.",
                                               outcome.reason.c_str(), outcome.framesScored),
                             QStringLiteral("Info"), MB_OK);
}

void CTessaronView::TakeRanks() {
    m_pickRanks.assign(m_pickScores.size(), 0);
    m_rankedCount = static_cast<int>(m_frameOrder.size());
    for (size_t position = 0; position < m_frameOrder.size(); ++position) {
        int32_t score = 0, frame = 0;
        if (ParseFrameOrderKey(m_frameOrder[position].c_str(), &score, &frame) == 2 && frame >= 0 &&
            static_cast<size_t>(frame) < m_pickRanks.size())
            m_pickRanks[static_cast<size_t>(frame)] = static_cast<int>(position) + 1;
    }
}

QString CTessaronView::ScoreStatusText() const {
    // Nothing while a sort runs (the scores of the last sort are kept until it ends) or without one.
    if (m_sorting || m_pickQuality < 0 || m_currentFrame < 0 ||
        static_cast<size_t>(m_currentFrame) >= m_pickScores.size())
        return QString();
    const PickScore& pick = m_pickScores[static_cast<size_t>(m_currentFrame)];
    if (!pick.readable) return QString();
    const QLocale english(QLocale::English);
    QString text = IsSharpnessKind(m_pickScoring.kind)
                       ? QStringLiteral("%1 %2")
                             .arg(m_pickScoring.kind == ScoreKind::LocalSharpness ? QStringLiteral("local sharpness")
                                                                                  : QStringLiteral("sharpness"))
                             .arg(pick.score.sharpness, 0, 'f', 1)
                       : QStringLiteral("JPEG %1 bytes at quality %2")
                             .arg(english.toString(static_cast<qlonglong>(pick.score.jpegBytes)))
                             .arg(std::clamp(m_pickQuality, 1, 100));
    if (m_pickScoring.useBox) text += QStringLiteral(" in the box");
    const size_t at = static_cast<size_t>(m_currentFrame);
    if (at < m_pickRanks.size() && m_pickRanks[at] > 0)
        text += QStringLiteral(", rank %1 of %2").arg(m_pickRanks[at]).arg(m_rankedCount);
    return text;
}
