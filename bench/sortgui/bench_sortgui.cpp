// "Sort" in the frame selector, run in the program's view offscreen, beside tessaron-cli rank on the
// same 10 s 1920x1080 H.264 clip (3 B-frames, one GOP of 250) in the same run. The view does the
// CLI's scoring plus what the user sees: the frame copy, each scored frame drawn, the status texts,
// the title and the progress bar. Goal: at most 1.30 x the CLI.
// Also timed: the library's sort loop alone in this process (the CLI without its start-up).
// Each is run several times, alternating; the best wall time counts, since the machine may be shared.
// Then stepping: the Right key pressed in the video window frame after frame (each step a read and a
// paint of the next frame), fitted and at 100 %, beside the reader alone reading the same frames.
// The clip is made once with ffmpeg into a temporary folder and kept there (bench_rank uses it too).
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "framework/Document.h"
#include "bench/BenchSpawn.h"
#include "app/TessaronApp.h"
#include "selector/FrameSort.h"
#include "dialogs/SelectVideoFrames.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 3;

struct Measure {
    double wall = 1e30;  // seconds
    double cpu = 0;      // user + system seconds
    bool ok = false;
};

using bench::Now;

double CpuSelf() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

void KeepBest(Measure& best, const Measure& m) {
    if (m.ok && (!best.ok || m.wall < best.wall)) best = m;
}

// tessaron-cli rank CLIP with its output thrown away.
Measure RunCli(const std::string& clip) {
    const bench::Measure run = bench::RunTimed({TESSARON_CLI, "rank", clip});
    Measure m;
    m.ok = run.ok;
    if (run.ok) {
        m.wall = run.wall;
        m.cpu = run.cpu;
    }
    return m;
}

// The library's sort loop on a reader of its own, as the CLI runs it.
Measure RunLibrary(const std::string& clip, std::vector<std::string>* order) {
    Measure m;
    const double start = Now(), cpu = CpuSelf();
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(clip.c_str());
    if (!info.succeeded) return m;
    const SortOutcome outcome = ScoreAndSortFrames(reader, info, 25, *order, SortCallbacks());
    reader.Close(info);
    m.wall = Now() - start;
    m.cpu = CpuSelf() - cpu;
    m.ok = outcome.stop == SortStop::Done;
    return m;
}

// "Sort" pressed in the open selector of the view.
Measure RunView(CTessaronView* view) {
    Measure m;
    SelectVideoFrames* selector = view->m_pSelector;
    QCoreApplication::processEvents();
    const double start = Now(), cpu = CpuSelf();
    selector->OnSort();
    QCoreApplication::processEvents();  // the paint of the best frame
    m.wall = Now() - start;
    m.cpu = CpuSelf() - cpu;
    m.ok = !view->m_frameOrder.empty();
    return m;
}

// Right pressed steps times from frame 0, each step painted at once, as the screen would show it.
Measure RunSteps(CTessaronView* view, int steps) {
    Measure m;
    view->StepTo(0);
    view->viewport()->repaint();
    const double start = Now(), cpu = CpuSelf();
    for (int i = 0; i < steps; ++i) {
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(view, &right);
        view->viewport()->repaint();
    }
    m.wall = Now() - start;
    m.cpu = CpuSelf() - cpu;
    m.ok = view->m_currentFrame == steps;
    return m;
}

// The reader alone reading frames 0 to steps in order, as the steps above do.
Measure RunReads(const std::string& clip, int steps) {
    Measure m;
    VideoFrameReader reader;
    FrameInfo& info = reader.Open(clip.c_str());
    if (!info.succeeded) return m;
    FrameBlockPtr first(reader.ReadFrame(info, 0));
    const double start = Now(), cpu = CpuSelf();
    bool ok = first != nullptr;
    for (int i = 1; i <= steps; ++i) {
        FrameBlockPtr block(reader.ReadFrame(info, i));
        ok = ok && block != nullptr;
    }
    m.wall = Now() - start;
    m.cpu = CpuSelf() - cpu;
    m.ok = ok;
    reader.Close(info);
    return m;
}

std::string MakeClip() {
    const fs::path dir = fs::temp_directory_path() / "tessaron-bench-rank";
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path clip = dir / "plain-10s.mp4";
    if (fs::exists(clip)) return clip.string();
    std::printf("making %s (1920x1080, 25 fps, 10 s, x264 veryfast, 3 B-frames, GOP 250)...\n", clip.c_str());
    std::fflush(stdout);
    const fs::path temp = dir / ("making-" + std::to_string(::getpid()) + ".mp4");
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 10 -c:v libx264 -preset veryfast "
        "-bf 3 -g 250 -keyint_min 250 -sc_threshold 0 -pix_fmt yuv420p '" +
        temp.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    fs::rename(temp, clip, ec);
    return ec ? std::string() : clip.string();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string clip = MakeClip();
    if (clip.empty()) {
        std::printf("bench_sortgui: cannot make the clip with ffmpeg\n");
        return 1;
    }

    QApplication application(argc, argv);
    // The program reads and may write its settings file in the working directory.
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    CTessaronApp app(appArgc, appArgv);
    if (!app.InitInstance()) return 1;
    CDocument* doc = app.OpenDocumentFile(QString::fromStdString(clip));
    if (!doc || doc->GetViews().isEmpty()) {
        std::printf("bench_sortgui: the view cannot open %s\n", clip.c_str());
        return 1;
    }
    auto* view = qobject_cast<CTessaronView*>(doc->GetViews().first());
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    // The selector open, as when the user presses "Sort" (not modal here, so the bench can press it).
    SelectVideoFrames* selector = view->m_pSelector;
    selector->SetListRange(view->m_frameStart, view->m_frameEnd);
    selector->show();
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();

    std::printf("bench_sortgui: \"Sort\" in the view (offscreen) beside tessaron-cli rank, quality 25\n");
    std::printf("clip %s, %d frames, best of %d\n", clip.c_str(), view->m_pFrameInfo->frameCount, kRounds);
    Measure cli, library, gui, gui100;
    std::vector<std::string> libraryOrder;
    const bool openedFitted = view->m_fit != 0;
    for (int round = 0; round < kRounds; ++round) {
        KeepBest(cli, RunCli(clip));
        KeepBest(library, RunLibrary(clip, &libraryOrder));
        // As the window opened (fitted on the offscreen screen), then at 100 % as it showed before zoom.
        if (openedFitted) view->FitToWindow();
        KeepBest(gui, RunView(view));
        view->ZoomTo(1.0);
        KeepBest(gui100, RunView(view));
    }
    if (!cli.ok || !library.ok || !gui.ok) {
        std::printf("bench_sortgui: a run failed (cli %d, library %d, view %d)\n", cli.ok, library.ok, gui.ok);
        return 1;
    }
    const bool same = libraryOrder == view->m_frameOrder;
    std::printf("  tessaron-cli rank        %6.2f s wall  %6.2f s cpu\n", cli.wall, cli.cpu);
    std::printf("  library sort loop        %6.2f s wall  %6.2f s cpu  (the CLI's work without start-up)\n",
                library.wall, library.cpu);
    std::printf("  view \"Sort\"              %6.2f s wall  %6.2f s cpu  (%s)\n", gui.wall, gui.cpu,
                openedFitted ? "fitted, as it opened" : "100 %");
    std::printf("  view \"Sort\" at 100 %%      %6.2f s wall  %6.2f s cpu\n", gui100.wall, gui100.cpu);
    std::printf("ratio view / tessaron-cli rank: %.2f  (goal <= 1.30)\n", gui.wall / cli.wall);
    std::printf("ratio view / library loop:      %.2f  (at 100 %%: %.2f)\n", gui.wall / library.wall,
                gui100.wall / library.wall);
    std::printf("processor time ratio view / tessaron-cli rank: %.2f\n", gui.cpu / cli.cpu);
    std::printf("same order as the library: %s\n", same ? "yes" : "NO");

    // Stepping, fitted (as the 1080p frame opens in the offscreen screen) and at 100 %.
    constexpr int kSteps = 100;
    Measure reads, fitted, actual;
    for (int round = 0; round < kRounds; ++round) {
        KeepBest(reads, RunReads(clip, kSteps));
        view->FitToWindow();
        KeepBest(fitted, RunSteps(view, kSteps));
        view->ZoomTo(1.0);
        KeepBest(actual, RunSteps(view, kSteps));
    }
    if (!reads.ok || !fitted.ok || !actual.ok) {
        std::printf("bench_sortgui: a stepping run failed\n");
        return 1;
    }
    std::printf("stepping, Right pressed %d times from frame 0 (the window opened %s):\n", kSteps,
                openedFitted ? "fitted" : "at 100 %");
    std::printf("  reader alone             %6.2f ms a frame\n", 1000 * reads.wall / kSteps);
    std::printf("  view, Fit to Window      %6.2f ms a step (zoom %.0f %%)\n", 1000 * fitted.wall / kSteps,
                100 * view->FitZoom());
    std::printf("  view, 100 %%              %6.2f ms a step\n", 1000 * actual.wall / kSteps);
    std::printf("ratio step / reader: fitted %.2f, 100 %% %.2f\n", fitted.wall / reads.wall, actual.wall / reads.wall);
    selector->hide();
    QDir::setCurrent(previous);
    return same ? 0 : 1;
}
