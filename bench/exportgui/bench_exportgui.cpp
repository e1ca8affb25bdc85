// The view's writing commands, run offscreen in the program's own view, beside tessaron-cli doing the
// same work on the same clips in the same run:
//   export: "Create AVI video file from checked frames" with 60 frames of a 20 s 1920x1080 H.264 clip
//           (3 B-frames, GOP 250) checked in a shuffled order and in ascending order, against
//           tessaron-cli export --frames with the same lists;
//   crop:   Crop and Save with the box 0,0-960,540 on the 10 s clip, against tessaron-cli crop --box.
// The GUI side runs in this process with the video already open (as a user has it); the CLI side is a
// process per run, start-up included. Sides take turns, several rounds; best and median wall times are
// shown. Outputs go to /dev/shm when it is there. Clips are those bench_export makes (kept in a
// temporary folder); run bench_export first or let this program make them.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "app/TessaronApp.h"
#include "bench/BenchClips.h"
#include "bench/BenchSpawn.h"
#include "framework/Document.h"
#include "framework/Framework.h"
#include "view/CTessaronView.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;

// Answers the save dialog with a fixed path and every message box with OK.
class FixedAnswers : public Framework {
public:
    QString path;
    int MessageBox(QWidget*, const QString& text, const QString&, unsigned) override {
        std::printf("  (message: %s)\n", text.toUtf8().constData());
        return IDOK;
    }
    bool FileDialog(QWidget*, const FileDialogRequest&, QString* chosen) override {
        *chosen = path;
        return true;
    }
    int DoModal(QDialog*) override { return 0; }
    bool PrintDialog(QWidget*, QPrinter*) override { return false; }
    bool PageSetupDialog(QWidget*, QPrinter*) override { return false; }
};

double CpuSelf() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Side {
    std::vector<double> wall, cpu;
    uintmax_t bytes = 0;
    bool ok = true;
    double Best() const { return wall.empty() ? 0.0 : *std::min_element(wall.begin(), wall.end()); }
};

// One GUI run: the command on the view, the output's size, the output removed.
void RunGui(Side& side, const std::string& output, const std::function<void()>& command) {
    std::error_code ec;
    fs::remove(output, ec);
    ::sync();
    QCoreApplication::processEvents();
    const double start = bench::Now(), cpu = CpuSelf();
    command();
    QCoreApplication::processEvents();
    side.wall.push_back(bench::Now() - start);
    side.cpu.push_back(CpuSelf() - cpu);
    side.bytes = fs::file_size(output, ec);
    if (ec) side.ok = false;
    fs::remove(output, ec);
}

void RunCli(Side& side, const std::string& output, const std::vector<std::string>& argv) {
    std::error_code ec;
    fs::remove(output, ec);
    ::sync();
    const bench::Measure m = bench::RunTimed(argv);
    side.ok = side.ok && m.ok;
    side.wall.push_back(m.wall);
    side.cpu.push_back(m.cpu);
    side.bytes = fs::file_size(output, ec);
    if (ec) side.ok = false;
    fs::remove(output, ec);
}

void Report(const char* what, const char* a, const Side& x, const char* b, const Side& y, const char* goal) {
    std::printf("%s:\n", what);
    std::printf("  %-22s %6.2f s wall (median %5.2f) %6.2f s cpu  %8.1f MiB\n", a, x.Best(), Median(x.wall),
                Median(x.cpu), double(x.bytes) / 1048576.0);
    std::printf("  %-22s %6.2f s wall (median %5.2f) %6.2f s cpu  %8.1f MiB\n", b, y.Best(), Median(y.wall),
                Median(y.cpu), double(y.bytes) / 1048576.0);
    std::printf("  ratio = %.2f of best, %.2f of medians (goal <= %s)%s\n\n", x.Best() / y.Best(),
                Median(x.wall) / Median(y.wall), goal, x.bytes == y.bytes ? "" : "  OUTPUT SIZES DIFFER");
}

CTessaronView* OpenView(CTessaronApp& app, const std::string& clip) {
    CDocument* doc = app.OpenDocumentFile(QString::fromStdString(clip));
    if (!doc || doc->GetViews().isEmpty()) return nullptr;
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
    return qobject_cast<CTessaronView*>(doc->GetViews().first());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string clip10 = bench::MakeExportClip(10), clip20 = bench::MakeExportClip(20);
    if (clip10.empty() || clip20.empty()) {
        std::printf("bench_exportgui: cannot make the clips with ffmpeg\n");
        return 1;
    }
    std::error_code ec;
    const fs::path outputs = fs::is_directory("/dev/shm", ec)
                                 ? fs::path("/dev/shm") / ("tessaron-bench-exportgui-" + std::to_string(::getpid()))
                                 : bench::ExportClipFolder() / "outputs";
    fs::create_directories(outputs, ec);
    const std::string guiOut = (outputs / "gui.avi").string(), cliOut = (outputs / "cli.avi").string();

    QApplication application(argc, argv);
    QTemporaryDir work;  // the program may write its settings file in the working directory
    const QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    int appArgc = 1;
    char* appArgv[] = {argv[0], nullptr};
    CTessaronApp app(appArgc, appArgv);
    if (!app.InitInstance()) return 1;
    FixedAnswers answers;
    answers.path = QString::fromStdString(guiOut);
    SetAppFramework(&answers);
    CTessaronView* exportView = OpenView(app, clip20);
    CTessaronView* cropView = OpenView(app, clip10);
    if (!exportView || !cropView) {
        std::printf("bench_exportgui: the view cannot open the clips\n");
        return 1;
    }

    const std::vector<int> shuffled = bench::SixtyShuffledFrames();
    std::vector<int> sorted = shuffled;
    std::sort(sorted.begin(), sorted.end());
    const auto exportChecked = [&](const std::vector<int>& frames) { exportView->ExportChecked(frames); };
    const auto cliExport = [&](const std::vector<int>& frames) {
        return std::vector<std::string>{TESSARON_CLI, "export", clip20, "--frames", bench::FrameList(frames),
                                        "-o",         cliOut};
    };
    cropView->m_boxX1 = 0;
    cropView->m_boxY1 = 0;
    cropView->m_boxX2 = 960;
    cropView->m_boxY2 = 540;

    std::printf("bench_exportgui: %d rounds in turns; GUI in this process (video open), CLI a process per run\n",
                kRounds);
    std::printf("clips %s and %s, outputs in %s\n\n", clip20.c_str(), clip10.c_str(), outputs.c_str());
    Side guiShuffled, guiSorted, cliShuffled, cliSorted, guiCrop, cliCrop;
    for (int round = 0; round < kRounds; ++round) {
        RunGui(guiShuffled, guiOut, [&] { exportChecked(shuffled); });
        RunCli(cliShuffled, cliOut, cliExport(shuffled));
        RunGui(guiSorted, guiOut, [&] { exportChecked(sorted); });
        RunCli(cliSorted, cliOut, cliExport(sorted));
        RunGui(guiCrop, guiOut, [&] { cropView->OnCropAndSave(); });
        RunCli(cliCrop, cliOut, {TESSARON_CLI, "crop", clip10, "--box", "0,0,960,540", "-o", cliOut});
    }
    SetAppFramework(nullptr);
    QDir::setCurrent(previous);
    fs::remove_all(outputs, ec);
    if (!guiShuffled.ok || !guiSorted.ok || !cliShuffled.ok || !cliSorted.ok || !guiCrop.ok || !cliCrop.ok) {
        std::printf("bench_exportgui: a run wrote no file\n");
        return 1;
    }
    Report("GUI export of 60 checked frames, shuffled against sorted", "GUI shuffled", guiShuffled, "GUI sorted",
           guiSorted, "1.2");
    Report("CLI export of the same 60 frames, shuffled against sorted", "CLI shuffled", cliShuffled, "CLI sorted",
           cliSorted, "1.2");
    Report("export of 60 checked frames (shuffled), GUI against CLI", "GUI", guiShuffled, "tessaron-cli export",
           cliShuffled, "1.2");
    Report("Crop and Save to 960x540, 250 frames, GUI against CLI", "GUI", guiCrop, "tessaron-cli crop", cliCrop,
           "1.2");
    return 0;
}
