// The document of one opened video. It holds no data: it only decides, when a file is opened, whether
// the file can be shown, and explains why not when it cannot. The view reads the frames itself.
#pragma once

#include <cstdint>

#include "framework/Document.h"

// Line-interpolate frames that come from the media detector. 0 until start-up has read the INI file;
// written only by start-up and Preferences.
extern uint8_t deinterlaceEnabled;
// Open a video whose frames are larger than the room in the main window fitted to its window (1, the
// default) or at 100 % with scroll bars (0). Written by start-up and Preferences.
extern uint8_t fitLargeVideos;
// "Memory for stepping back": bytes of decoded pictures each view's reader keeps so that Left is served
// from memory (0 keeps none). DefaultStepBackMemory() until start-up has read the INI file; written
// by start-up and Preferences.
extern int64_t stepBackMemory;

class CTessaronDoc : public CDocument {
    Q_OBJECT
public:
    CTessaronDoc();
    ~CTessaronDoc() override;

    // The file must open for reading and its frames must be readable; otherwise a message says why,
    // and the result is false (no window is made).
    bool OnOpenDocument(const QString& path) override;

    // "Unable to load image frames - load cancelled..." and the hint shown when no media detector is
    // available, both with the caption "Info".
    static QString UnableToLoadText();
    static QString NoDetectorHintText();
};
