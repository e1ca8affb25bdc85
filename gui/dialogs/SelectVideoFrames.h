// The "Video Frame Selector": a dialog beside the video (docked in the main window) that lists the view's frame order
// in a check-list, puts it in original order or sorts it by JPEG size, previews the JPEG quality, saves the displayed
// frame and exports the checked frames. It does no image work itself: every action is a request to the view, which
// has done it when the call returns.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/myCheckListBox.h"
#include "dialogs/ViewRequests.h"
#include "selector/FrameScore.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QSpinBox;
class QualitySpinBox;
class ScorePlot;

class SelectVideoFrames : public QDialog {
    Q_OBJECT
public:
    // Control ids of the dialog's layout.
    enum ControlId : int {
        IDOK_CLOSE = 1,
        IDC_SPIN = 1002,
        IDC_CREATE_AVI = 1003,
        IDC_SAVE_BMP = 1004,
        IDC_LIST_PLACE = 1012,
        IDC_FRAME_LIST = 1013,
        IDC_SORT = 1015,
        IDC_NORMAL = 1016,
        IDC_STATUS = 1018,
        IDC_QUALITY = 1019,
        IDC_VIEW = 1022,
        IDC_CHECK_BEST = 1023,
        IDC_SAVE_IMAGES = 1024,
        IDC_CHECKED_COUNT = 1025,
        IDC_CHECK_ALL = 1026,
        IDC_CHECK_NONE = 1027,
        IDC_CHECK_INVERT = 1028,
        IDC_SCORE_PLOT = 1029,
    };

    // parent: the view's widget; receiver: the view, which does every request; frameOrder: the view's
    // frame order, only read.
    SelectVideoFrames(QWidget* parent, ViewRequests* receiver, const std::vector<std::string>* frameOrder);
    ~SelectVideoFrames() override;

    // The status field's text. A text too long for the field (a deep path) shows shortened in its
    // middle; the whole text stays in the field's tool tip and is what StatusText returns.
    void SetStatusText(const QString& text);
    QString StatusText() const;
    // Lists positions m_firstPos up to m_endPos of the frame order, each frame with the check mark it
    // had (check marks belong to frames, not to list positions, and last as long as the dialog).
    void FillFrameList();

    // Handlers of the controls, also callable directly.
    void OnFrameListChange();
    void OnNormal();
    void OnSort();
    void OnView();
    // The quality control is about to move from position by delta.
    void OnQualityDeltaPos(int position, int delta);
    void OnSaveDisplayedFrame();
    void OnCreateAvi();
    // "Check best...": asks for a rule, lets the view choose the frames (sorting first when needed)
    // and checks them in the list.
    void OnCheckBest();
    // "Save checked frames as images...": asks for folder, format and names, the view writes.
    void OnSaveImages();
    // Checks exactly the listed frames (original numbers), unchecks the rest.
    void CheckFrames(const std::vector<int32_t>& frames);
    // Ctrl+Z and Ctrl+Shift+Z: the check marks as they were before the last change (a click, Space, a
    // range, Check all, None, Invert, Check best, a drag on the plot), and again after it.
    void UndoChecks();
    void RedoChecks();
    // The view stepped to frame: the list's caret and "Displaying frame" follow, nothing is sent back.
    // A frame the list does not hold leaves the caret where it is.
    void FollowFrame(int frame);
    // Check all, none, invert.
    void OnCheckAll();
    void OnCheckNone();
    void OnInvertChecks();
    // Return in the quality field (returnKey), or the field left with a typed value: the value becomes
    // the quality and the preview shows it. A value left unchanged by leaving the field does nothing.
    void OnQualityEntered(bool returnKey);
    // The plot: a click shows the frame (its list item becomes the caret item); a drag checks a range.
    void OnPlotClicked(int frame);
    void OnPlotRange(int first, int last);
    // Asks the view for the last sort's scores; the plot shows when there are any.
    void RefreshScores();
    // The caption that names the list's order (original, or sorted by the chosen score), kept for reopening.
    void ShowOrderCaption();

    // Controls, for the view and for tests.
    QPushButton* NormalButton() const { return m_normalButton; }
    QPushButton* SortButton() const { return m_sortButton; }
    QSpinBox* QualitySpin() const;
    QLabel* StatusLabel() const { return m_statusText; }
    QPushButton* SaveButton() const { return m_saveButton; }
    QPushButton* CreateButton() const { return m_createButton; }
    QPushButton* CloseButton() const { return m_closeButton; }
    QPushButton* CheckBestButton() const { return m_checkBestButton; }
    QPushButton* SaveImagesButton() const { return m_saveImagesButton; }
    QGroupBox* SortGroup() const { return m_sortGroup; }
    QLabel* QualityLabel() const { return m_qualityLabel; }
    QLabel* CheckedCountLabel() const { return m_checkedLabel; }
    QPushButton* CheckAllButton() const { return m_checkAllButton; }
    QPushButton* CheckNoneButton() const { return m_checkNoneButton; }
    QPushButton* InvertButton() const { return m_invertButton; }
    ScorePlot* Plot() const { return m_plot; }
    // Where a row of sort options goes: inside the sort group, under its buttons; empty for now.
    QRect SortOptionsPlace() const { return m_sortOptionsPlace; }
    // Check marks by original frame number (nonzero: checked).
    const std::vector<uint8_t>& CheckedByFrame() const { return m_checkedByFrame; }
    QComboBox* ScoreBox() const { return m_scoreBox; }
    QCheckBox* BoxOnlyCheck() const { return m_boxOnlyCheck; }

    // The score Sort and "Check best..." rank by, and whether only the crop box is scored (the check
    // box can be on only while the view has a box). Both are kept in the INI file's [Frame Selector]
    // section (the image sets' INI file) and read at every opening.
    ScoreKind Score() const;
    bool ScoreOnlyBox() const;
    // Whether the view had a crop box when the selector was opened (taken at the next opening).
    void SetBoxAvailable(bool available) { m_boxAvailable = available; }

    // What the view and tests read and set.
    // The list's range of frame order positions, [first, end), taken at the next opening.
    void SetListRange(int first, int end) {
        m_firstPos = first;
        m_endPos = end;
    }
    int FirstPos() const { return m_firstPos; }
    int EndPos() const { return m_endPos; }
    // The JPEG quality for scoring and the preview, as set (the view uses its low 8 bits).
    int Quality() const { return m_quality; }
    void SetQuality(int quality) { m_quality = quality; }
    // The sort was terminated: the order, and so the list and its caption, stay as they were.
    void MarkOrderReset() { m_orderReset = 1; }
    // The frame the view shows, taken at the next opening: the list opens at its item.
    void SetViewFrame(int frame) { m_viewFrame = frame; }
    // The video's path, for the folder image sets go to by default.
    void SetVideoPath(const QString& path) { m_videoPath = path; }
    int OrderReset() const { return m_orderReset; }
    // Original frame number of the caret item.
    int DisplayedFrame() const { return m_displayedFrame; }
    // The checked items: their list positions, ascending, and their original frame numbers in list order.
    int CheckedCount() const { return m_checkedCount; }
    const int* CheckedPositions() const { return m_checkedPositions.get(); }
    const int* CheckedFrames() const { return m_checkedFrames.get(); }
    myCheckListBox& FrameList() { return m_frameList; }
    QPushButton& ViewButton() { return m_viewButton; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void done(int result) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_initPending = true;                      // the next showing is an opening: initialise
    int m_orderReset = 0;                           // the sort was terminated; the order is as it was
    int m_viewFrame = -1;                           // the frame the view showed when it opened the dialog
    QString m_videoPath;                            // the view's video
    int m_displayedFrame = 0;                       // original frame number of the caret item
    const std::vector<std::string>* m_pFrameOrder;  // the view's frame order
    int m_checkedCount = 0;                         // checked items
    std::unique_ptr<int[]> m_checkedPositions;      // their list positions, ascending
    std::unique_ptr<int[]> m_checkedFrames;         // their original frame numbers, in list order
    ViewRequests* m_pView;                          // the view, which does the work
    myCheckListBox m_frameList;                     // the check-list, placed at initialisation
    int m_firstPos = 0;                             // first position of the frame order to list
    int m_endPos = 0;                               // end position (exclusive) to list
    int m_quality = 25;                             // JPEG quality for scoring and preview
    QPushButton m_viewButton;                       // the push-like "View" check box

    // Runs at every opening: places the check-list, fills it, sets the quality control.
    bool OnInitDialog();
    // Places every control for the dialog's size: the plot and the list take what the dialog grows by.
    void Relayout();
    // Reads the check marks from the list into the checked arrays, the per-frame marks, the count and
    // the plot.
    void CollectChecks();
    // The caret goes to the item of frame (the first item when no item has it), so what is saved and
    // plotted is what the view displays.
    void CaretToFrame(int frame);
    // The sort group's caption names the chosen score; the quality is enabled for the JPEG size only.
    void ShowScoreChoice();
    // The number after "Frame Number" in an item's text, read as atoi reads it.
    static int FrameNumberOf(const QString& text);

    QWidget* m_listPlace = nullptr;
    QGroupBox* m_sortGroup = nullptr;
    QPushButton* m_normalButton = nullptr;
    QPushButton* m_sortButton = nullptr;
    QualitySpinBox* m_qualitySpin = nullptr;
    QLabel* m_qualityLabel = nullptr;
    QLabel* m_statusText = nullptr;
    QString m_fullStatus;  // the status text as set, before any shortening
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_createButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    QPushButton* m_checkBestButton = nullptr;
    QPushButton* m_saveImagesButton = nullptr;
    QLabel* m_checkedLabel = nullptr;
    QPushButton* m_checkAllButton = nullptr;
    QPushButton* m_checkNoneButton = nullptr;
    QPushButton* m_invertButton = nullptr;
    ScorePlot* m_plot = nullptr;
    QRect m_sortOptionsPlace;
    std::vector<uint8_t> m_checkedByFrame;  // check marks by original frame number
    QString m_orderCaption;                 // the caption naming the list's order, once Normal or Sort ran
    QComboBox* m_scoreBox = nullptr;
    QCheckBox* m_boxOnlyCheck = nullptr;
    bool m_boxOnly = false;       // as chosen, also while no box is drawn
    bool m_boxAvailable = false;  // the view had a crop box when the selector was opened
    // Marks back from one undo stack, the present ones onto the other.
    void StepChecks(std::vector<std::vector<uint8_t>>& from, std::vector<std::vector<uint8_t>>& to);
    std::vector<std::vector<uint8_t>> m_undo, m_redo;  // marks by frame before each change, and undone
    bool m_stepping = false;                           // marks are being put back: not a new change
    // Writes the score choice to the INI file.
    void StoreScoreChoice();
};
