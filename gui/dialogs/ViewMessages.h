// The messages the frame selector sends to the view. They are sent, not posted: the view handles each
// before the send returns, so the dialog waits until the work is done.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

using UINT = unsigned int;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

// What the selector sends its messages to (the view); the dialog knows the view only through this.
class MessageReceiver {
public:
    virtual LRESULT SendMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;

protected:
    ~MessageReceiver() = default;
};

enum : UINT {
    WM_APP = 0x8000,
    UWM_SHOW_FRAME = WM_APP + 1,            // wParam: frame number
    UWM_EXPORT_CHECKED = WM_APP + 3,        // wParam: int array of frame numbers, lParam: their count
    UWM_ORDER_ORIGINAL = WM_APP + 4,        // parameters unused
    UWM_SORT_JPEG_SIZE = WM_APP + 7,        // parameters unused; returns the frame shown afterwards + 1
    UWM_SAVE_DISPLAYED_FRAME = WM_APP + 8,  // wParam: frame number
    UWM_QUALITY_PREVIEW = WM_APP + 9,       // wParam: 1 on, 0 off
    UWM_CHECK_BEST = WM_APP + 10,           // wParam: const PickSettings*, lParam: std::vector<int32_t>* for the
                                            // chosen frames; sorts first when no sort has scored the frames
    UWM_EXPORT_IMAGES = WM_APP + 11,        // wParam: const ImageSaveChoices*, lParam: const std::vector<int32_t>*
                                            // of frames; wParam 0 asks whether a crop box is drawn (1 or 0)
    UWM_FRAME_SCORES = WM_APP + 12,         // lParam: FrameScores* to fill with the last sort's scores
};

// What UWM_FRAME_SCORES hands back: one score per frame in frame order (NaN for a frame without one),
// larger meaning more detailed, and what the score is, for the plot's caption. Empty when no sort has
// scored the frames.
struct FrameScores {
    std::vector<double> values;
    QString name;
};
