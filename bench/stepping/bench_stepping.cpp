// Stepping through a video with the arrow keys, in the program's own view, beside the reader alone on
// the same clips (1920x1080 and 3840x2160 H.264, 25 fps, 3 B-frames, a key frame every 250 frames):
//   Right: one step from frame 100 on, a pause of a person's pace (120 ms) between steps, timed from
//          the key to the painted picture, fitted and at 100 %; against the reader's own decoding and
//          converting of one more frame (in order, no read-ahead);
//   held Left: from frame 240 back, steps one after the other as a held key sends them; new frames a
//          second after the first step; against the reader alone stepping back the same way with the
//          same memory for stepping back.
// Sides take turns, 5 rounds; median (range). Then where one Right step's time goes at 4K, measured on
// the same frame with the same calls the view makes. With --rss, only the view steps back 120 frames
// on the 4K clip and its memory is printed; with --shot FILE.png, the main window with the 4K video at
// 100 % and the frame selector docked beside it is saved. Clips are made with ffmpeg once and kept in /tmp.
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/MainFrame.h"
#include "app/TessaronApp.h"
#include "bench/BenchSpawn.h"
#include "doc/CTessaronDoc.h"
#include "framework/ChildFrame.h"
#include "framework/CommandIds.h"
#include "framework/DocTemplate.h"
#include "framework/Document.h"
#include "video/MediaDetector.h"
#include "video/MediaPictureCache.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"
#include "view/FrameImage.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;
constexpr int kRightSteps = 24;
constexpr int kLeftFrom = 240;
constexpr int kPauseMs = 120;

std::string MakeClip(const char* name, const char* size) {
    const fs::path dir = fs::temp_directory_path() / "tessaron-bench-stepping";
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path clip = dir / name;
    if (fs::exists(clip)) return clip.string();
    std::printf("making %s (%s, 25 fps, 12 s, x264 veryfast, 3 B-frames, GOP 250)...\n", clip.c_str(), size);
    std::fflush(stdout);
    const fs::path temp = dir / ("making-" + std::to_string(::getpid()) + ".mp4");
    const std::string command = std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=") + size +
                                ":rate=25 -t 12 -c:v libx264 -preset veryfast -bf 3 -g 250 -keyint_min 250 "
                                "-sc_threshold 0 -pix_fmt yuv420p '" +
                                temp.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    fs::rename(temp, clip, ec);
    return ec ? std::string() : clip.string();
}

long StatusKb(const char* key) {
    long kb = -1;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const size_t n = std::strlen(key);
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, key, n) == 0) kb = std::atol(line + n + 1);
        std::fclose(f);
    }
    return kb;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The reader alone: seconds per frame decoding and converting in order, and new frames a second
// stepping back from kLeftFrom.
double ReaderRight(const std::string& clip) {
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(clip.c_str());
    if (!info.succeeded || !reader.Detector()) return 0;
    reader.Detector()->SetReadAhead(false);
    reader.PeekFrame(info, 99);
    const double start = bench::Now();
    for (int i = 0; i < kRightSteps; ++i) reader.PeekFrame(info, 100 + i);
    return (bench::Now() - start) / kRightSteps;
}

double ReaderLeft(const std::string& clip, int steps, int64_t memory) {
    VideoFrameReader reader;
    reader.SetStepBackMemory(memory);
    FrameInfo& info = reader.Open(clip.c_str());
    if (!info.succeeded) return 0;
    reader.PeekFrame(info, kLeftFrom);
    reader.PeekFrame(info, kLeftFrom - 1);
    const double start = bench::Now();
    for (int i = 2; i <= steps; ++i) reader.PeekFrame(info, kLeftFrom - i);
    return (steps - 1) / (bench::Now() - start);
}

CTessaronView* OpenView(CTessaronApp& app, const std::string& clip) {
    CDocument* doc = app.OpenDocumentFile(QString::fromStdString(clip));
    if (!doc || doc->GetViews().isEmpty()) return nullptr;
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    return qobject_cast<CTessaronView*>(doc->GetViews().first());
}

void CloseViews(CTessaronApp& app) {
    app.DocTemplate()->CloseAllDocuments();
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
}

// A key as the user presses it, and the picture on the screen before the next one.
void Press(CTessaronView* view, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &release);
    view->viewport()->repaint();
    QCoreApplication::processEvents();
}

void Prepare(CTessaronView* view, bool fit, int frame) {
    if (fit)
        view->FitToWindow();
    else
        view->ZoomTo(1.0);
    // At 100 % the middle of the picture, where a user looks for focus.
    if (!fit) {
        view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum() / 2);
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    }
    view->StepTo(frame);
    view->viewport()->repaint();
    QCoreApplication::processEvents();
}

// The view: seconds per Right step at a person's pace.
double ViewRight(CTessaronApp& app, const std::string& clip, bool fit, QString* shape) {
    CTessaronView* view = OpenView(app, clip);
    if (!view) return 0;
    Prepare(view, fit, 99);
    *shape = QStringLiteral("%1 % in %2x%3")
                 .arg(view->m_zoom * 100, 0, 'f', 0)
                 .arg(view->viewport()->width())
                 .arg(view->viewport()->height());
    double total = 0;
    for (int i = 0; i < kRightSteps; ++i) {
        Sleep(kPauseMs);
        const double start = bench::Now();
        Press(view, Qt::Key_Right);
        total += bench::Now() - start;
    }
    const bool moved = view->m_currentFrame == 99 + kRightSteps;
    CloseViews(app);
    return moved ? total / kRightSteps : 0;
}

// The view: new frames a second holding Left, after the first step.
double ViewLeft(CTessaronApp& app, const std::string& clip, int steps, double* first) {
    CTessaronView* view = OpenView(app, clip);
    if (!view) return 0;
    Prepare(view, true, kLeftFrom);
    double start = bench::Now();
    Press(view, Qt::Key_Left);
    *first = bench::Now() - start;
    start = bench::Now();
    for (int i = 2; i <= steps; ++i) Press(view, Qt::Key_Left);
    const double rate = (steps - 1) / (bench::Now() - start);
    const bool moved = view->m_currentFrame == kLeftFrom - steps;
    CloseViews(app);
    return moved ? rate : 0;
}

std::vector<double> Ms(const std::vector<double>& seconds) {
    std::vector<double> v;
    for (double s : seconds) v.push_back(s * 1000);
    return v;
}

// Where one Right step's time goes: the same calls on one 4K frame, each timed alone.
void Breakdown(const std::string& clip, CTessaronView* view) {
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(clip.c_str());
    if (!info.succeeded || !reader.Detector()) return;
    reader.Detector()->SetReadAhead(false);
    const int w = info.width, h = info.height;
    std::vector<double> decode, copyOut, copyIn, rgb, fitted, actual;
    QImage image(w, h, QImage::Format_RGB32);
    const QSize port = view->viewport()->size();
    QImage screen(port, QImage::Format_RGB32);
    const double fit = std::min(double(port.width()) / w, double(port.height()) / h);
    std::vector<uint8_t> copy;
    reader.PeekFrame(info, 149);
    for (int i = 0; i < 10; ++i) {
        double t = bench::Now();
        const uint8_t* block = reader.PeekFrame(info, 150 + i);
        decode.push_back(bench::Now() - t);
        const size_t size = size_t(info.frameBlockSize);
        if (!block) return;
        t = bench::Now();
        FrameBlockPtr fresh(static_cast<uint8_t*>(std::malloc(size)));
        std::memcpy(fresh.get(), block, size);
        copyOut.push_back(bench::Now() - t);
        t = bench::Now();
        copy.resize(size);
        std::memcpy(copy.data(), fresh.get(), size);
        copyIn.push_back(bench::Now() - t);
        t = bench::Now();
        BgrRowsToImage(copy.data() + 40, w, h, DibStride24(w), image, 0, h);
        rgb.push_back(bench::Now() - t);
        t = bench::Now();
        {
            QPainter p(&screen);
            p.scale(fit, fit);
            p.setRenderHint(QPainter::SmoothPixmapTransform, true);
            p.drawImage(QPointF(0, 0), image);
        }
        fitted.push_back(bench::Now() - t);
        t = bench::Now();
        {
            QPainter p(&screen);
            p.drawImage(QPointF(0, 0), image, QRectF(QPointF((w - port.width()) / 2, (h - port.height()) / 2), port));
        }
        actual.push_back(bench::Now() - t);
    }
    const auto row = [](const char* what, const std::vector<double>& s) {
        std::printf("  %-52s %s ms\n", what, bench::Text(bench::SpreadOf(Ms(s))).c_str());
    };
    std::printf("where a Right step's time goes at %dx%d (10 frames; view %dx%d, fitted %.0f %%):\n", w, h,
                port.width(), port.height(), fit * 100);
    row("reader: decode and convert to BGR", decode);
    row("a fresh block, copied out of the reader (ReadFrame)", copyOut);
    row("copied again into the view's frame copy", copyIn);
    row("BGR rows to a 32-bit image, whole frame", rgb);
    row("drawn fitted, smoothed", fitted);
    row("drawn at 100 %, the viewport's part", actual);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    bool rssOnly = false, only4k = false;
    std::string shot;
    int leftSteps = 40;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rss") == 0) rssOnly = true;
        if (std::strcmp(argv[i], "--4k") == 0) only4k = true;
        if (std::strcmp(argv[i], "--shot") == 0 && i + 1 < argc) shot = argv[++i];
        if (std::strcmp(argv[i], "--left-steps") == 0 && i + 1 < argc) leftSteps = std::max(2, std::atoi(argv[++i]));
    }
    struct Clip {
        const char* name;
        std::string path;
    };
    std::vector<Clip> clips;
    if (!only4k && !rssOnly && shot.empty()) clips.push_back({"1080p", MakeClip("step-1080p.mp4", "1920x1080")});
    clips.push_back({"4K", MakeClip("step-2160p.mp4", "3840x2160")});
    for (const Clip& c : clips)
        if (c.path.empty()) {
            std::printf("bench_stepping: cannot make the clips with ffmpeg\n");
            return 1;
        }

    QApplication application(argc, argv);
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", work.path().toUtf8());  // default preferences, the user's untouched
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    CTessaronApp app(appArgc, appArgv);
    if (!app.InitInstance()) return 1;
    app.MainFrame()->setGeometry(0, 0, 1920, 1080);
    QCoreApplication::processEvents();

    if (!shot.empty()) {
        CTessaronView* view = OpenView(app, clips[0].path);
        if (!view) return 1;
        app.MainFrame()->showMaximized();
        QCoreApplication::processEvents();
        view->GetParentFrame()->showMaximized();
        Prepare(view, false, 120);
        view->OnCommand(ID_FRAME_SELECTOR);
        for (int i = 0; i < 3; ++i) Press(view, Qt::Key_Right);
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
        const bool saved = app.MainFrame()->grab().save(QString::fromStdString(shot));
        std::printf("%s %s\n", saved ? "saved" : "could not save", shot.c_str());
        CloseViews(app);
        return saved ? 0 : 1;
    }
    if (rssOnly) {
        double first = 0;
        const long before = StatusKb("VmRSS");
        const double rate = ViewLeft(app, clips[0].path, 120, &first);
        std::printf("view holding Left for 120 frames from %d on %s: %.1f frames/s, first step %.0f ms\n", kLeftFrom,
                    clips[0].path.c_str(), rate, first * 1000);
        std::printf("memory: %ld MiB resident before opening, peak %ld MiB (memory for stepping back: %lld MiB)\n",
                    before / 1024, StatusKb("VmHWM") / 1024, (long long)(DefaultPictureCacheBytes() >> 20));
        return 0;
    }

    std::printf("bench_stepping: %d rounds in turns, platform %s, load %.2f\n\n", kRounds,
                QGuiApplication::platformName().toUtf8().constData(), bench::LoadAverage());
    for (const Clip& c : clips) {
        std::vector<double> reader, fitted, actual, readerLeft, viewLeft, firstLeft;
        QString fitShape, actualShape;
        for (int r = 0; r < kRounds; ++r) {
            reader.push_back(ReaderRight(c.path));
            fitted.push_back(ViewRight(app, c.path, true, &fitShape));
            actual.push_back(ViewRight(app, c.path, false, &actualShape));
            readerLeft.push_back(ReaderLeft(c.path, leftSteps, DefaultPictureCacheBytes()));
            double first = 0;
            viewLeft.push_back(ViewLeft(app, c.path, leftSteps, &first));
            firstLeft.push_back(first);
        }
        const auto ratio = [&](const std::vector<double>& a) {
            std::vector<double> v;
            for (size_t i = 0; i < a.size(); ++i) v.push_back(reader[i] > 0 ? a[i] / reader[i] : 0);
            return bench::Text(bench::SpreadOf(v));
        };
        std::printf("%s (%s):\n", c.name, c.path.c_str());
        std::printf("  reader, one more frame decoded and converted  %s ms\n",
                    bench::Text(bench::SpreadOf(Ms(reader))).c_str());
        std::printf("  view, Right, fitted (%s)  %s ms  = %s x reader (goal <= 1.5)\n", fitShape.toUtf8().constData(),
                    bench::Text(bench::SpreadOf(Ms(fitted))).c_str(), ratio(fitted).c_str());
        std::printf("  view, Right, 100 %% (%s)  %s ms  = %s x reader (goal <= 1.5)\n",
                    actualShape.toUtf8().constData(), bench::Text(bench::SpreadOf(Ms(actual))).c_str(),
                    ratio(actual).c_str());
        std::printf("  reader alone, held Left from %d, %d steps  %s frames/s\n", kLeftFrom, leftSteps,
                    bench::Text(bench::SpreadOf(readerLeft)).c_str());
        std::printf("  view, held Left, fitted  %s frames/s after a first step of %s ms (goal >= 8)\n\n",
                    bench::Text(bench::SpreadOf(viewLeft)).c_str(),
                    bench::Text(bench::SpreadOf(Ms(firstLeft))).c_str());
        bench::ReadmeRow(std::string("stepping/bench_stepping ") + c.name,
                         "Right " + ratio(fitted) + " x reader fitted, " + ratio(actual) + " at 100 %; held Left " +
                             bench::Text(bench::SpreadOf(viewLeft)) + " frames/s");
    }
    CTessaronView* view = OpenView(app, clips.back().path);
    if (view) {
        view->FitToWindow();
        Breakdown(clips.back().path, view);
    }
    CloseViews(app);
    return 0;
}
