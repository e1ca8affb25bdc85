// What the frame selector asks of the view: one call per request. Every call is synchronous: the view
// has done the work (a sort, an export) when it returns, so the selector can refill its list at once.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

struct PickSettings;
struct ImageSaveChoices;

// One score per frame in frame order (NaN for a frame without one), larger meaning more detailed, and
// what the score is, for the plot's caption. Empty when no sort has scored the frames.
struct FrameScores {
    std::vector<double> values;
    QString name;
    int markIn = -1, markOut = -1;  // the video window's marks (I and O); -1 when not set
};

// Implemented by the view; the selector knows the view only through this.
class ViewRequests {
public:
    // A list selection or check change: frame becomes the view's current frame and is drawn (no range
    // check; a frame that cannot be read draws nothing new).
    virtual void ShowFrame(int frame) = 0;
    // "Create AVI video file from checked frames": asks for a file name and writes frames, in this order.
    virtual void ExportChecked(const std::vector<int32_t>& frames) = 0;
    // "Normal": the frame order in original order, frame 0 current.
    virtual void OrderOriginal() = 0;
    // "Sort": scores every frame by the selector's score and sorts the order. Returns the frame shown
    // afterwards (the best one; after a terminated sort the one shown before), -1 without a video.
    virtual int SortFrames() = 0;
    // "Save displayed frame as a bmp file": frame becomes current and is saved; the outcome goes to the
    // selector's status text.
    virtual void SaveDisplayedFrame(int frame) = 0;
    // "View", the quality control, and the end of Normal and Sort: the JPEG preview on or off, the
    // current frame drawn again.
    virtual void QualityPreview(bool on) = 0;
    // "Check best...": the frames the rule chooses, sorting first when no sort has scored the frames as
    // the selector now asks; empty when that sort was terminated.
    virtual std::vector<int32_t> CheckBest(const PickSettings& settings) = 0;
    // Whether a crop box is drawn (offered to "Save checked frames as images...").
    virtual bool HasCropBox() const = 0;
    // "Save checked frames as images...": writes frames as the choices say.
    virtual void ExportImages(const ImageSaveChoices& choices, const std::vector<int32_t>& frames) = 0;
    // The last finished sort's scores, for the plot.
    virtual FrameScores SortScores() const = 0;

protected:
    ~ViewRequests() = default;
};
