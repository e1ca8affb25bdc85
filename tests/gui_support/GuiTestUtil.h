// Small helpers for the GUI tests: screenshots, test videos, and running the program's object.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class CTessaronApp;
class QPoint;
class QWidget;

// Saves what widget shows as a PNG in the screenshot folder (made when missing) and returns the full
// path, or an empty string when it could not be written.
QString SaveScreenshot(QWidget* widget, const QString& name);
QString ScreenshotDir();

// Runs the ffmpeg command line; true when it succeeded. Errors go to the test log.
bool RunFfmpeg(const QStringList& arguments);
// A small uncompressed AVI (bgr24 rawvideo) of a moving test pattern: width x height, frames frames at
// 10 frames per second.
bool MakeRawAvi(const QString& path, int width, int height, int frames);
// Frame n of the video at path as decoded by the ffmpeg command line: top-down rows of 3 * width bytes
// in blue, green, red order. Empty when ffmpeg fails.
QByteArray DecodeFrameWithFfmpeg(const QString& path, int n);

// Holds the program's application object with its own copy of the command-line words.
class AppRunner {
public:
    explicit AppRunner(const QStringList& arguments = {});
    ~AppRunner();
    CTessaronApp* app() const { return m_app.get(); }
    CTessaronApp* operator->() const { return m_app.get(); }

private:
    std::vector<QByteArray> m_words;
    std::vector<char*> m_argv;
    int m_argc = 0;
    std::unique_ptr<CTessaronApp> m_app;
};

// A left-button drag on widget from one point to another; release false leaves the button down.
void Drag(QWidget* widget, const QPoint& from, const QPoint& to, bool release = true);

// Lets deferred deletions and queued calls run.
void ProcessPendingEvents();
