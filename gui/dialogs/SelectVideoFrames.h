// The "Video Frame Selector": a modal dialog that lists the view's frame order in a check-list, puts it
// in original order or sorts it by JPEG size, previews the JPEG quality, saves the displayed frame and
// exports the checked frames. It does no image work itself: every action is a message sent to the view,
// which handles it before the send returns.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/myCheckListBox.h"
#include "dialogs/ViewMessages.h"

class QGroupBox;
class QLabel;
class QSpinBox;
class QualitySpinBox;

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
    };

    // parent: the view's widget; receiver: the view, which handles every message; frameOrder: the view's
    // frame order, only read.
    SelectVideoFrames(QWidget* parent, MessageReceiver* receiver, const std::vector<std::string>* frameOrder);
    ~SelectVideoFrames() override;

    // The status field's text. A text too long for the field (a deep path) shows shortened in its
    // middle; the whole text stays in the field's tool tip and is what StatusText returns.
    void SetStatusText(const QString& text);
    QString StatusText() const;
    // Lists positions m_firstPos up to m_endPos of the frame order, all unchecked.
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
    // A long operation was terminated and put the frame order back into original order.
    void MarkOrderReset() { m_orderReset = 1; }
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

private:
    int m_orderReset = 0;                           // a long operation was terminated and reset the order
    int m_displayedFrame = 0;                       // original frame number of the caret item
    const std::vector<std::string>* m_pFrameOrder;  // the view's frame order
    int m_checkedCount = 0;                         // checked items
    std::unique_ptr<int[]> m_checkedPositions;      // their list positions, ascending
    std::unique_ptr<int[]> m_checkedFrames;         // their original frame numbers, in list order
    MessageReceiver* m_pView;                       // receiver of the messages
    myCheckListBox m_frameList;                     // the check-list, placed at initialisation
    int m_firstPos = 0;                             // first position of the frame order to list
    int m_endPos = 0;                               // end position (exclusive) to list
    int m_quality = 25;                             // JPEG quality for scoring and preview
    QPushButton m_viewButton;                       // the push-like "View" check box

    // Runs at every opening: places the check-list, fills it, sets the quality control.
    bool OnInitDialog();
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam);
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
};
