// The view of one video: shows one frame at a time, one device pixel per image pixel, keeps the crop
// box and the frame order, and handles the frame selector's messages.
#pragma once

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fileio/FileStatus.h"
#include "framework/ScrollView.h"
#include "image/dib.h"
#include "selector/FrameOrder.h"
#include "selector/FrameChange.h"
#include "selector/FramePick.h"
#include "selector/FrameScore.h"
#include "dialogs/ViewRequests.h"

struct ExportCallbacks;
struct ExportOutcome;
struct ExportTarget;
struct FrameInfo;
struct SortOutcome;
class VideoFrameReader;
class SelectVideoFrames;
class QLabel;
class QPainter;
class QSlider;
class CxImage;

// path with the suffix of the format written: the same when it has it, another picture or video type's
// suffix replaced, anything else kept and the suffix added.
QString PathWithFormatSuffix(const QString& path, const QString& suffix);

class CTessaronView : public CScrollView, public ViewRequests {
    Q_OBJECT
public:
    explicit CTessaronView(CDocument* document, QWidget* parent = nullptr);
    ~CTessaronView() override;

    // Opens the document's video with a reader of its own, sizes the window to the frame and builds
    // the frame order.
    void OnInitialUpdate() override;
    // Reads the current frame anew, draws it, titles the document and draws the crop box over it.
    void OnDraw(QPainter& painter) override;
    bool OnPreparePrinting(QPrinter* printer) override;
    void OnBeginPrinting(QPainter& painter, QPrinter* printer) override;
    void OnEndPrinting(QPainter& painter, QPrinter* printer) override;
    bool GetFrameLimits(int* width, int* height) const override;
    bool OnCommand(int id) override;
    bool IsCommandEnabled(int id) const override;

    // The selector's requests (dialogs/ViewRequests.h).
    void ShowFrame(int frame) override;
    void ExportChecked(const std::vector<int32_t>& frames) override;  // view/ViewExport.cpp
    void OrderOriginal() override { BuildOriginalOrder(); }
    int SortFrames() override;                                              // view/ViewScoring.cpp
    void SaveDisplayedFrame(int frame) override;                            // view/ViewExport.cpp
    void QualityPreview(bool on) override;                                  // view/ViewScoring.cpp
    std::vector<int32_t> CheckBest(const PickSettings& settings) override;  // view/ViewImages.cpp
    bool HasCropBox() const override;
    void ExportImages(const ImageSaveChoices& choices, const std::vector<int32_t>& frames) override;
    FrameScores SortScores() const override;  // view/ViewScoring.cpp

    // "Normal", and after opening: keys for frames 0 to m_frameEnd, frame 0 current.
    void BuildOriginalOrder();
    // The words title and status bar carry while the quality preview is on; empty while it is off.
    QString PreviewNote() const;
    // The JPEG-size score of bottom-up 24-bit rows at quality (its low 8 bits). Shows the rows, after a
    // JPEG round trip when preview is set, at the view's top left in their own size, and writes the
    // selector's status text.
    int JpegScoreAndDraw(const uint8_t* pixels, int width, int height, int bitsPerPixel, int bytesPerLine, bool flip,
                         int quality, bool preview);
    // Tools > Crop and Save.
    void OnCropAndSave();
    // Tools > Frame Selector...
    void OnFrameSelector();
    // Once per round of a long loop: 1 go on, 0 the user ended the operation.
    int CheckForCancel();

    // The crop box. Corners are frame pixel coordinates: the pointer's position in the view plus the
    // scroll position, kept inside the frame.
    void StartBox(int x, int y);
    void TrackBox(int x, int y);
    void ShowBoxStatus(int x, int y);
    // The outline from (x1, y1) to (x2, y2), inverted, every pixel touched once, on a painter whose
    // units are frame pixels.
    void DrawBox(QPainter& painter, int x1, int y1, int x2, int y2);
    void OnLButtonDown(Qt::KeyboardModifiers flags, const QPoint& point);
    void OnMouseMove(Qt::KeyboardModifiers flags, const QPoint& point);
    void OnLButtonUp(Qt::KeyboardModifiers flags, const QPoint& point);

    // Zoom (view/ViewZoom.cpp). The zoom is device pixels per frame pixel: 1 shows the frame pixel for
    // pixel, whatever the screen's scale. Fit follows the window's size so the whole frame shows.
    void ZoomTo(double zoom);
    void ZoomStep(int direction);  // +1 in, -1 out, to the next of the usual steps
    void FitToWindow();
    // The zoom that shows the whole frame in the view as it is now.
    double FitZoom() const;
    // Stepping: the frame shown, kept within the video; the title and the status bar follow.
    void StepTo(int frame);
    // Tools > Go to Frame... and Tools > Crop Box...
    void OnGoToFrame();
    void OnCropBoxDialog();
    // The crop box from (x1, y1) to (x2, y2), kept inside the frame; outline and status follow.
    void SetBox(int x1, int y1, int x2, int y2);
    // "Frame N of M", the frame's time, its score after a sort and the zoom, for the status bar.
    QString FrameStatusText() const;
    // The shown frame's score in words, with its place in the sort: "JPEG 52,570 bytes at quality 25,
    // rank 3 of 500" or "sharpness 812.4, rank 1 of 500"; empty without a finished sort.
    QString ScoreStatusText() const;
    // Puts FrameStatusText in the status bar when this view's window is the current one.
    void ShowFrameStatus();

    // The seek slider under the picture (view/SeekSlider.cpp): as wide as the window; dragged, it shows
    // the key frame at or before its place, released the exact frame; it shows the frame number and
    // time, and follows the frame shown.
    QSlider* SeekSlider() const { return m_seekSlider; }
    QLabel* SeekLabel() const { return m_seekLabel; }
    // I and O: the frame shown becomes the first (in) or last frame between the marks.
    void SetMark(bool in);
    // Sets the slider and its label to the frame shown (not while the user drags it).
    void SyncSeekSlider();

    // The view's state. Public so that the frame selector's tests and the walk-through can watch it.
    CFileStatus m_sourceStatus;               // status of the video file, read when it was opened
    int m_dragging = 0;                       // a crop box drag is in progress
    int m_boxX2 = 0, m_boxY2 = 0;             // crop box moving corner
    int m_boxX1 = 0, m_boxY1 = 0;             // crop box anchor corner; a box exists when the corners differ
    std::vector<std::string> m_frameOrder;    // "%010d %d" keys, one per list position
    std::vector<PickScore> m_pickScores;      // the last sort's scores by frame number, for "Check best..."
    std::vector<Thumbnail> m_pickThumbnails;  // their frames' thumbnails, for skipping near-duplicates
    int m_markIn = -1, m_markOut = -1;        // the marks I and O set (first and last frame); -1: not set
    int m_pickQuality = -1;                   // the quality they were scored at; -1: no finished sort
    std::vector<int> m_pickRanks;             // each frame's place in that sort, from 1; 0: not ranked
    int m_rankedCount = 0;                    // frames that sort ranked
    int m_sorting = 0;                        // a sort runs
    ScoreSettings m_pickScoring;              // the score, quality and box they were scored with
    int m_selectorBox[4] = {0, 0, 0, 0};      // the crop box's corners when the selector was last opened
    int m_maxFrameWidth = 0;                  // largest outer size of the child frame
    int m_maxFrameHeight = 0;
    // The frame selector dialog object, made and deleted with the view (or with the dock holding it,
    // when the main window goes first).
    QPointer<SelectVideoFrames> m_pSelector;
    FrameBlockPtr m_pFrameCopy;  // copy of the last frame block read; the shared bitmap wraps it
    FrameBlockPtr m_pOutPixels;  // pixels of cropped or exported output frames
    int m_frameStart = 0;        // first position handed to the selector
    int m_frameEnd = 0;          // frame count - 1 after opening, frame count after a draw
    int m_currentFrame = 0;      // the frame shown
    QString m_baseTitle;         // the document's title at the first draw
    int m_captureTitle = 1;      // until the first draw has taken m_baseTitle
    int m_imageWidth = 0, m_imageHeight = 0;
    int m_previewOn = 0;                // quality preview on
    FrameInfo* m_pFrameInfo = nullptr;  // what the reader's Open returned; lives in the reader
    std::unique_ptr<VideoFrameReader> m_pReader;
    uint8_t m_videoOpen = 0;  // the video opened at initial update
    double m_zoom = 1.0;      // device pixels per frame pixel
    int m_fit = 0;            // the zoom follows the window (Fit to Window)
    // What a press on the crop box grabbed: 0 nothing (a new box), kBoxMove, or kBoxLeft | kBoxTop ...
    int m_boxGrip = 0;
    static constexpr int kBoxLeft = 1, kBoxRight = 2, kBoxTop = 4, kBoxBottom = 8, kBoxMove = 16;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The room around the picture inside the window: the sunken edge, and the seek slider's row.
    QSize ViewExtra() const;
    // Makes the slider's row (hidden until a video opens).
    void MakeSeekSlider();
    // Shows the row for the open video and keeps room for it under the picture.
    void ShowSeekSlider();
    // Places the row under the viewport, as wide as it.
    void PlaceSeekSlider();
    void OnSeekMoved(int value);
    // "Frame 120   00:00:04.800" for the slider's label.
    QString SeekText(int frame) const;
    QWidget* m_seekRow = nullptr;
    QSlider* m_seekSlider = nullptr;
    QLabel* m_seekLabel = nullptr;

    // Frame pixel coordinate to device pixels of the shown picture.
    int ToDevice(int framePixel) const;
    // Sets the zoom, keeping the frame point under anchor (a viewport point; the middle when null) where it is.
    void ApplyZoom(double zoom, const QPointF* anchor = nullptr);
    // The largest window that shows the whole frame at this zoom (none while fitting).
    void UpdateFrameLimits();
    // At opening: sizes the main window to hold the video where the screen allows, fits a frame larger
    // than the room when the preference says so, and places the window cascaded inside the main window.
    void PlaceWindow();
    // m_frameImage at the zoom: smooth when reduced, sharp squares when enlarged.
    void DrawFrameImage(QPainter& painter);
    // Which part of the box a press at frame pixel point grabs (see m_boxGrip).
    int BoxGripAt(const QPoint& point) const;
    QPoint m_gripFrom;                // where the grabbing press was, frame pixels
    int m_gripBox[4] = {0, 0, 0, 0};  // the box then, left, top, right, bottom
    // Frame pixels per view unit on this screen.
    qreal PixelRatio() const;
    // The frame's size in view units.
    QSize LogicalFrameSize() const;
    // A pointer position in the viewport as frame pixel coordinates, kept inside the frame (or the view
    // while there is no video).
    QPoint ToFramePixels(const QPoint& viewportPos) const;
    // Asks for a repaint of the outline of the box (x1, y1)-(x2, y2).
    void InvalidateBox(int x1, int y1, int x2, int y2);
    // Draws the frame copy (bottom-up BGR rows) at one device pixel per image pixel.
    void DrawFrameCopy(QPainter& painter);

    // Scoring, the quality preview and the exports (selector/ViewScoring.cpp, output/ViewExport.cpp).
    // Copies a frame block into m_pFrameCopy and attaches the shared bitmap to it; false for a block
    // that is not a whole 24-bit frame.
    bool CopyFrameBlock(const uint8_t* block, int32_t length, int frame);
    // Lets go of the shared bitmap when it wraps the frame copy, before the copy is freed.
    void DetachSharedBitmap();
    // Frame into the frame copy (read unless the copy holds it already).
    bool ReadFrameCopy(int frame);
    // JpegScoreAndDraw of the frame copy at the selector's quality, with or without the round trip.
    void PreviewFrameCopy();
    JpegScore ScoreAndDraw(const uint8_t* pixels, int width, int height, int bytesPerLine, int quality, bool preview);
    // Shows bottom-up rows (or the round trip decoded, when given) as ScoreAndDraw does, with the status.
    void ShowScoredRows(const uint8_t* pixels, int width, int height, int bytesPerLine, CxImage* decoded, bool preview);
    // The frames the sort could not read, and why it stopped early, told to the user.
    void ReportSortTrouble(const SortOutcome& outcome);
    // m_pickRanks and m_rankedCount from the frame order a sort has just made.
    void TakeRanks();
    // The selector's quality, low 8 bits.
    int ScoringQuality() const;
    // What Sort and "Check best..." rank by: the selector's score and quality, and the crop box drawn
    // when the selector was opened, if "Score only the crop box" is on.
    ScoreSettings ScoringSettings() const;
    // Runs one of the library's writing loops to path (rounds: its length) under the cancel check with
    // progress texts, and tells the user how it ended.
    // note: said after what was written (a corrected file name); failureCaption: the caption of a
    // failure's message.
    void RunWriteLoop(const QString& path, int rounds, bool crop,
                      const std::function<ExportOutcome(const ExportTarget&, const ExportCallbacks&)>& write,
                      const QString& note = QString(),
                      const QString& failureCaption = QStringLiteral("Cannot create AVI file..."));
    // A chosen output name with the written format's suffix (frame7.png becomes frame7.bmp, take.v2
    // take.v2.avi); asks before replacing a file under the corrected name. False: the user said No.
    bool TakeOutputName(QString* path, const QString& suffix, QString* note);
    // The folder a save dialog starts in: the last save's, else the video's.
    QString SaveFolder() const;
    // "Wrote 60 frames to clip-crop.avi (1.2 GB)" in the status bar; the folder becomes the last save's.
    void NoteSaved(const QString& path, const QString& what, const QString& note = QString());

    int32_t m_frameCopySize = 0;         // bytes allocated for m_pFrameCopy
    int32_t m_frameCopyBytes = 0;        // bytes of the frame block it holds
    int m_frameCopyFrame = -1;           // the frame m_pFrameCopy holds; -1: none or not known
    uint8_t m_frameCopyDeinterlace = 0;  // whether it was read deinterlaced
    // The frame whose rows m_imageRowsFrom up to m_imageRowsTo m_frameImage holds, converted from the
    // frame copy; -1 when it holds something else (a picture scoring or the preview made).
    int m_imageFrame = -1;
    int m_imageRowsFrom = 0, m_imageRowsTo = 0;
    QImage m_frameImage;                  // what the view shows, top-down: the frame copy's rows, or the
                                          // picture scoring or the preview made; reused from paint to paint
    QPainter* m_pPaintPainter = nullptr;  // the painter of the paint in progress
    // The frame whose picture scoring or the preview has just put in m_frameImage, for the next paint
    // to show as it is; -1: none waiting.
    int m_drawnFrame = -1;
    std::unique_ptr<JpegScorer> m_pScorer;  // its JPEG buffer serves frame after frame
};
