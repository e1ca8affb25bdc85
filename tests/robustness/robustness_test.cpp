// The bad-input table. Each row is one bad input; it runs through the GUI (File > Open as a user would,
// then stepping through the frames and the row's command, the scripted framework answering every
// dialog) and through tessaron-cli, on the FFmpeg back end and on our own AVI reader. Every run checks
// the exact texts the user is shown, that the source's bytes stayed as they were, and (GUI) that the
// same program instance still opens a good video and reads a frame afterwards.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "framework/DocTemplate.h"
#include "framework/Document.h"
#include "image/dib.h"
#include "dialogs/SelectVideoFrames.h"
#include "tests/gui_support/AppTestFixture.h"
#include "tests/robustness/BadInputs.h"
#include "tests/robustness/ChildProcess.h"
#include "tests/support/TestVideos.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"

namespace fs = std::filesystem;
using namespace robustness;
using testsupport::FileHash;
using testsupport::WriteFileBytes;

namespace {

enum class Backend { FFmpeg, AviReader };

enum class Input {
    ZeroByte,
    TextAsAvi,
    Truncated10,
    Truncated50,
    Truncated99,
    IndexPastEnd,
    HugeFrame,
    LengthZero,
    LengthMax,
    BrokenFrame,
    DeletedWhileOpen,
    ReplacedWhileOpen,     // another file renamed over it
    OverwrittenWhileOpen,  // the same file rewritten in place with text
    ReadOnlyFolder,        // the output goes to a folder the user may not write
    FullDisk,              // files may grow to kFullDiskBytes only
    NonAsciiPath,
    Directory,
};

// What the GUI does once the file is open (after stepping through its frames).
enum class Action { None, Sort, Export, Crop, Bmp };

// What one back end gives. Texts may hold %SRC% (the input) and %OUT% (the output); an empty list of
// GUI texts means no message at all.
struct Expected {
    std::vector<std::string> gui;               // message boxes as "[caption] text", then "status: ..." of the selector
    std::optional<std::vector<int>> guiFrames;  // frame indices the GUI's output shows; nullopt: no output
    int cliStatus = 0;
    std::string cliErr;  // all of standard error
    std::optional<std::vector<int>> cliFrames;
    // The outcome depends on what the back end had read before the file changed: only the crash, source
    // and still-usable checks apply.
    bool outcomeVaries = false;
};

struct Row {
    const char* name;
    Input input;
    Action action;
    std::vector<std::string> cli;  // arguments of tessaron-cli; %ARG% is the input, %OUT% the output
    Expected ffmpeg;
    std::optional<Expected> avi;  // nullopt: as ffmpeg
};

constexpr long kFullDiskBytes = 24000;  // the 16.9 kB header and three frames of 2312 bytes

std::vector<int> Range(int first, int end, int skip = -1) {
    std::vector<int> v;
    for (int i = first; i < end; ++i)
        if (i != skip) v.push_back(i);
    return v;
}

std::string Omitted(const std::vector<int>& frames, const std::string& heading = "Frames that could not be read:") {
    std::string text = heading + "\n";
    for (int f : frames) text += std::to_string(f) + "\n";
    return text;
}
// tessaron-cli's list names the frames for what they are.
std::string CliOmitted(const std::vector<int>& frames) {
    return Omitted(frames, "Frames that could not be read, left out:");
}

const std::string kAllFrames = "0,1,2,3,4,5,6,7,8,9";
const std::string kUnableToLoad = "[Info] Unable to load image frames - load cancelled...";
const std::string kNoDetector =
    "[Info] Cannot open your file.  It might open with FFmpeg.\n\n"
    "FFmpeg does not appear to be installed on your system.\n"
    "FFmpeg is free and may be obtained from the FFmpeg Web Site:\n"
    "https://ffmpeg.org/download.html\n\n"
    "Please try again after installing FFmpeg.\n\n";
const std::string kUnreadable = "[Info] ";  // the frames that could not be read, in the GUI
const std::string kCannotCreate = "[Cannot create AVI file...] ";
const std::string kSizeLimit = "[File size limit exceeded] ";  // a write the file's size limit stopped
const std::string kNotMedia = ": %SRC%: not a media file this build can read\n";
const std::string kNotAvi = ": %SRC%: the AVI reader cannot play it: not an AVI file\n";

const std::vector<std::string> kExportArgs = {"export", "%ARG%", "--frames", kAllFrames, "-o", "%OUT%"};

const std::vector<Row>& Table() {
    // One row a line, as a table: the formatter would put every field on a line of its own.
    // clang-format off
    static const std::vector<Row> rows = {
        {"zero_byte", Input::ZeroByte, Action::None, {"info", "%ARG%"},
         {{kUnableToLoad}, {}, 1, "tessaron-cli info" + kNotMedia, {}},
         Expected{{kNoDetector}, {}, 1, "tessaron-cli info" + kNotAvi, {}}},
        {"text_named_avi", Input::TextAsAvi, Action::None, {"info", "%ARG%"},
         {{kUnableToLoad}, {}, 1, "tessaron-cli info" + kNotMedia, {}},
         Expected{{kNoDetector}, {}, 1, "tessaron-cli info" + kNotAvi, {}}},
        {"truncated_10_percent", Input::Truncated10, Action::Export, kExportArgs,
         {{kUnableToLoad}, {}, 1, "tessaron-cli export" + kNotMedia, {}},
         Expected{{kNoDetector}, {}, 1, "tessaron-cli export: %SRC%: the AVI video stream has no frames\n", {}}},
        // Half the file holds one whole frame.
        {"truncated_50_percent", Input::Truncated50, Action::Export, kExportArgs,
         {{kUnreadable + Omitted(Range(1, 10))}, std::vector<int>{0}, 1,
          "tessaron-cli export: %SRC%: frame 1 is outside the video (frames 0 to 0)\n", {}}, {}},
        // Both back ends leave out the picture the file ends in the middle of.
        {"truncated_99_percent", Input::Truncated99, Action::Export, kExportArgs,
         {{kUnreadable + Omitted({9})}, Range(0, 9), 1,
          "tessaron-cli export: %SRC%: frame 9 is outside the video (frames 0 to 8)\n", {}}, {}},
        // FFmpeg finds the frames without the index; our reader trusts the index.
        {"index_past_end", Input::IndexPastEnd, Action::Export, kExportArgs,
         {{}, Range(0, 10), 0, "", Range(0, 10)},
         Expected{{kUnreadable + Omitted(Range(6, 10))}, Range(0, 6), 1, CliOmitted(Range(6, 10)), Range(0, 6)}},
        {"huge_frame_header", Input::HugeFrame, Action::None, {"info", "%ARG%"},
         {{kUnableToLoad}, {}, 1, "tessaron-cli info: %SRC%: no picture of the video stream decodes\n", {}},
         Expected{{kNoDetector}, {}, 1,
                  "tessaron-cli info: %SRC%: the AVI reader cannot play it: video frame size is too large\n", {}}},
        // Both back ends count the frames there are; frame 6 scores best.
        {"stream_length_0", Input::LengthZero, Action::Sort, {"rank", "%ARG%"},
         {{"status: Displaying frame:  6", "order: 10 keys"}, {}, 0, "", {}}, {}},
        // A length that would need more frames than the file has bytes is not believed.
        {"stream_length_2G", Input::LengthMax, Action::Sort, {"rank", "%ARG%"},
         {{"status: Displaying frame:  6", "order: 10 keys"}, {}, 0, "", {}}, {}},
        {"broken_frame_export", Input::BrokenFrame, Action::Export, kExportArgs,
         {{kUnreadable + Omitted({4})}, Range(0, 10, 4), 1, CliOmitted({4}), Range(0, 10, 4)}, {}},
        {"broken_frame_bmp", Input::BrokenFrame, Action::Bmp, {"frame", "%ARG%", "4", "-o", "%OUT%"},
         {{"status: Frame 4 could not be saved to %OUT%.\nThe frame cannot be read."}, {}, 1,
          "tessaron-cli frame: %SRC%: frame 4 cannot be decoded\n", {}},
         {}},
        // An open file stays readable on Linux after its name is removed or given to another file. The CLI
        // has no moment between opening and reading: it is given the path already changed.
        {"deleted_while_open", Input::DeletedWhileOpen, Action::Export, kExportArgs,
         {{}, Range(0, 10), 1, "tessaron-cli export: %SRC%: no such file\n", {}}, {}},
        {"replaced_while_open", Input::ReplacedWhileOpen, Action::Export, kExportArgs,
         {{}, Range(0, 10), 1, "tessaron-cli export" + kNotMedia, {}},
         Expected{{}, Range(0, 10), 1, "tessaron-cli export" + kNotAvi, {}}},
        {"overwritten_while_open", Input::OverwrittenWhileOpen, Action::Export, kExportArgs,
         {{}, {}, 1, "tessaron-cli export" + kNotMedia, {}, true},
         Expected{{kCannotCreate + "Nothing was written to %OUT%: no frame could be read.",
                   kUnreadable + Omitted(Range(0, 10))},
                  {}, 1, "tessaron-cli export" + kNotAvi, {}}},
        {"read_only_output_folder", Input::ReadOnlyFolder, Action::Export, kExportArgs,
         {{kCannotCreate + "Cannot create %OUT%: Permission denied."}, {}, 75,
          "tessaron-cli export: Cannot create %OUT%: Permission denied.\n", {}},
         {}},
        {"full_disk", Input::FullDisk, Action::Export, kExportArgs,
         {{kSizeLimit + "Writing %OUT% stopped after 3 frames: File too large. The 3 frames written before stay "
                        "readable."},
          Range(0, 3), 75,
          "tessaron-cli export: Writing %OUT% stopped after 3 frames: File too large. The 3 frames written before "
          "stay readable.\n",
          Range(0, 3)},
         {}},
        {"non_ascii_path_crop", Input::NonAsciiPath, Action::Crop, {"crop", "%ARG%", "--box", "4,2,20,14", "-o", "%OUT%"},
         {{}, Range(0, 10), 0, "", Range(0, 10)}, {}},
        {"non_ascii_path_bmp", Input::NonAsciiPath, Action::Bmp, {"frame", "%ARG%", "7", "-o", "%OUT%"},
         {{"status: Frame 7 saved to %OUT%."}, std::vector<int>{7}, 0, "", std::vector<int>{7}}, {}},
        {"directory", Input::Directory, Action::None, {"info", "%ARG%"},
         {{"[Tessaron] Cannot open the file \"%SRC%\".\nIt is a folder, not a file."}, {}, 1,
          "tessaron-cli info: %SRC%: is a directory\n", {}},
         {}},
    };
    // clang-format on
    return rows;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// The index each frame of a written AVI shows, as ffmpeg decodes it; nullopt when ffmpeg cannot.
std::optional<std::vector<int>> FrameIndices(const std::string& path, int width, int height) {
    const ChildResult run = RunChild("/usr/bin/ffmpeg",
                                     {"-v", "error", "-nostdin", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgr24",
                                      "-"},
                                     ChildOptions{});
    if (run.status != 0) return std::nullopt;
    const size_t frameBytes = size_t(width) * size_t(height) * 3;
    std::vector<int> indices;
    std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + frameBytes);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;  // top-down rows as ffmpeg writes them
    header.biPlanes = 1;
    header.biBitCount = 24;
    std::memcpy(block.data(), &header, sizeof header);
    for (size_t at = 0; at + frameBytes <= run.out.size(); at += frameBytes) {
        std::memcpy(block.data() + sizeof header, run.out.data() + at, frameBytes);
        indices.push_back(testsupport::ReadFrameIndex(block.data()));
    }
    return indices;
}

// What the output of the row's command shows: the frame index of every frame (export), the number of
// frames (crop: a 16 x 12 box shows no index), or the index of the saved BMP.
std::optional<std::vector<int>> OutputFrames(Action action, const std::string& path) {
    if (action == Action::Bmp) {
        FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return std::nullopt;
        std::vector<uint8_t> bytes(14 + sizeof(BITMAPINFOHEADER) + size_t(DibStride24(kWidth)) * kHeight + 1);
        const size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        if (n != bytes.size() - 1 || bytes[0] != 'B' || bytes[1] != 'M') return std::nullopt;
        return std::vector<int>{testsupport::ReadFrameIndex(bytes.data() + 14)};
    }
    if (action == Action::Crop) {
        std::optional<std::vector<int>> frames = FrameIndices(path, 16, 12);
        if (frames) frames = Range(0, int(frames->size()));
        return frames;
    }
    return FrameIndices(path, kWidth, kHeight);
}

// ROBUSTNESS_RECORD=1 prints one line per run with the texts, exit status and output frames it saw,
// with the paths replaced by %SRC% and %OUT%, so expected rows can be written from a real run.
void Record(const std::string& what, const std::vector<std::string>& texts, const std::string& path, Action action,
            const std::string& source) {
    if (qEnvironmentVariableIsEmpty("ROBUSTNESS_RECORD")) return;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string line = std::string(test->name()) + " " + what + ":";
    for (std::string t : texts)
        line += " <" + Replace(Replace(Replace(t, "\n", "\\n"), source, "%SRC%"), path, "%OUT%") + ">";
    const std::optional<std::vector<int>> frames = OutputFrames(action, path);
    line += " frames:";
    if (!frames)
        line += " none";
    else
        for (int f : *frames) line += " " + std::to_string(f);
    std::printf("RECORD %s\n", line.c_str());
}

// True when the output of the row's command is as expected (frames, or no file at all when none).
bool OutputAsExpected(Action action, const std::optional<std::vector<int>>& frames, const std::string& path,
                      std::string* seen) {
    const std::optional<std::vector<int>> got = OutputFrames(action, path);
    *seen = "none";
    if (got) {
        *seen = "";
        for (int f : *got) *seen += std::to_string(f) + " ";
    }
    if (frames) return got == frames;
    return !fs::exists(fs::symlink_status(path)) || action == Action::None || action == Action::Sort;
}

// One run of a row: its own folder (readable by every user, so an unprivileged child can read the
// input), the input made there, the output path beside it.
struct RunSetup {
    std::string dir;
    std::string source;  // the file the program is given
    std::string output;  // where the row's command writes
    std::string keep;    // a copy of the original input, for rows that replace it while open
    uint64_t sourceHash = 0;
};

std::string MakeFolder() {
    std::string pattern = (fs::temp_directory_path() / "tessaron-robust-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return std::string();
    ::chmod(pattern.c_str(), 0755);
    return pattern;
}

bool Prepare(const Row& row, RunSetup* s) {
    s->dir = MakeFolder();
    if (s->dir.empty()) return false;
    std::string folder = s->dir;
    std::string name = "clip.avi";
    if (row.input == Input::NonAsciiPath) {
        folder += "/Vidéos à l'été ü 日本";
        name = "clip ö 日本 (1).avi";
        if (::mkdir(folder.c_str(), 0755) != 0) return false;
    }
    s->source = folder + "/" + name;
    s->output = folder + "/out " + std::string(row.action == Action::Bmp ? "ü.bmp" : "ü.avi");
    Bytes bytes;
    switch (row.input) {
    case Input::ZeroByte: break;
    case Input::TextAsAvi: {
        const std::string text = "This is a text file, not a video.\n";
        for (int i = 0; i < 40; ++i) bytes.insert(bytes.end(), text.begin(), text.end());
        break;
    }
    case Input::Truncated10: bytes = DamagedAvi(Damage::Truncate10); break;
    case Input::Truncated50: bytes = DamagedAvi(Damage::Truncate50); break;
    case Input::Truncated99: bytes = DamagedAvi(Damage::Truncate99); break;
    case Input::IndexPastEnd: bytes = DamagedAvi(Damage::IndexPastEnd); break;
    case Input::HugeFrame: bytes = DamagedAvi(Damage::HugeFrame); break;
    case Input::LengthZero: bytes = DamagedAvi(Damage::LengthZero); break;
    case Input::LengthMax: bytes = DamagedAvi(Damage::LengthMax); break;
    case Input::BrokenFrame: bytes = DamagedAvi(Damage::BrokenFrame); break;
    case Input::Directory:
        if (::mkdir(s->source.c_str(), 0755) != 0) return false;
        return true;
    default: bytes = ValidAvi(); break;
    }
    if (row.input != Input::ZeroByte && row.input != Input::TextAsAvi && bytes.empty()) return false;
    if (!WriteFileBytes(s->source, bytes)) return false;
    ::chmod(s->source.c_str(), 0644);
    if (row.input == Input::ReadOnlyFolder) {
        const std::string locked = s->dir + "/locked";
        if (::mkdir(locked.c_str(), 0555) != 0) return false;
        s->output = locked + "/out.avi";
    }
    if (row.input == Input::ReplacedWhileOpen || row.input == Input::OverwrittenWhileOpen) {
        s->keep = s->dir + "/original.avi";
        if (!WriteFileBytes(s->keep, bytes)) return false;
    }
    s->sourceHash = FileHash(s->source);
    return true;
}

void RemoveFolder(const std::string& dir) {
    if (dir.empty()) return;
    std::error_code ec;
    fs::permissions(dir + "/locked", fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir, ec);
}

// What the test did to the source while it was open, and checks that the program did nothing to it.
void ExpectSourceUntouched(const Row& row, const RunSetup& s) {
    if (row.input == Input::DeletedWhileOpen) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(s.source))) << "a file came back at the deleted path";
    } else if (row.input == Input::ReplacedWhileOpen || row.input == Input::OverwrittenWhileOpen) {
        EXPECT_EQ(FileHash(s.source), FileHash(s.dir + "/replacement")) << "the replacement changed";
        EXPECT_EQ(FileHash(s.keep), s.sourceHash);
    } else if (row.input == Input::Directory) {
        EXPECT_TRUE(fs::is_directory(s.source));
        EXPECT_TRUE(fs::is_empty(s.source));
    } else {
        EXPECT_EQ(FileHash(s.source), s.sourceHash) << "the source changed";
    }
}

const Expected& ExpectedFor(const Row& row, Backend backend) {
    return backend == Backend::AviReader && row.avi ? *row.avi : row.ffmpeg;
}

std::string BackendName(Backend b) { return b == Backend::FFmpeg ? "ffmpeg" : "avireader"; }

std::string Shown(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& t : texts) all += "  \"" + t + "\"\n";
    return all;
}

using Param = std::tuple<size_t, Backend>;

std::string ParamName(const ::testing::TestParamInfo<Param>& info) {
    return std::string(Table()[std::get<0>(info.param)].name) + "_" + BackendName(std::get<1>(info.param));
}

// The GUI: a fresh program object per row, in-process and offscreen.
class GuiRow : public AppTest, public ::testing::WithParamInterface<Param> {
protected:
    void TearDown() override {
        AppTest::TearDown();
        RemoveFolder(setup.dir);
    }

    CTessaronView* ViewOf(const std::string& path) const {
        for (CDocument* doc : app()->DocTemplate()->GetDocuments())
            if (doc->GetPathName() == QString::fromStdString(path) && !doc->GetViews().isEmpty())
                return qobject_cast<CTessaronView*>(doc->GetViews().first());
        return nullptr;
    }

    // File > Open with the dialog answered; the view, or null when the file was refused.
    CTessaronView* OpenAsUser(const std::string& path) {
        fw.fileAnswers.push_back(QString::fromStdString(path));
        frame()->Action(ID_FILE_OPEN)->trigger();
        ProcessPendingEvents();
        CTessaronView* view = ViewOf(path);
        if (view) view->viewport()->repaint();
        return view;
    }

    void Step(CTessaronView* view) {
        const int count = view->m_pFrameInfo ? view->m_pFrameInfo->frameCount : 0;
        std::vector<int> frames = Range(0, std::min(count, kFrames + 2));
        if (count > kFrames + 2) frames.push_back(count - 1);
        for (int frame : frames) {
            view->ShowFrame(frame);
            view->viewport()->repaint();
        }
    }

    void Export(CTessaronView* view) {
        const std::vector<int> frames = Range(0, kFrames);
        fw.fileAnswers.push_back(QString::fromStdString(setup.output));
        view->ExportChecked(frames);
    }

    void Crop(CTessaronView* view) {
        QWidget* surface = view->viewport();
        QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(4, 2));
        QTest::mouseMove(surface, QPoint(12, 8));
        QTest::mouseMove(surface, QPoint(20, 14));
        QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(20, 14));
        fw.fileAnswers.push_back(QString::fromStdString(setup.output));
        frame()->Action(ID_CROP_AND_SAVE)->trigger();
    }

    // The row's command, under the row's conditions (a read-only folder, a full disk).
    void RunAction(const Row& row, CTessaronView* view) {
        rlimit saved{};
        void (*oldHandler)(int) = SIG_DFL;
        const bool fullDisk = row.input == Input::FullDisk;
        const bool dropUser = row.input == Input::ReadOnlyFolder && ::geteuid() == 0;
        if (fullDisk) {
            ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
            oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit small = saved;
            small.rlim_cur = rlim_t(kFullDiskBytes);
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        // Root writes into any folder: the command runs with the rights of user 65534 instead.
        if (dropUser) {
            ASSERT_EQ(::setegid(65534), 0);
            ASSERT_EQ(::seteuid(65534), 0);
        }
        switch (row.action) {
        case Action::None: break;
        case Action::Sort:
            view->m_pSelector->show();
            view->SortFrames();
            break;
        case Action::Export: Export(view); break;
        case Action::Crop: Crop(view); break;
        case Action::Bmp: {
            const int frame = row.input == Input::BrokenFrame ? kBrokenFrame : 7;
            view->m_pSelector->show();
            fw.fileAnswers.push_back(QString::fromStdString(setup.output));
            view->SaveDisplayedFrame(frame);
            break;
        }
        }
        if (dropUser) {
            EXPECT_EQ(::seteuid(0), 0);
            EXPECT_EQ(::setegid(0), 0);
        }
        if (fullDisk) {
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
        }
    }

    RunSetup setup;
};

TEST_P(GuiRow, ShowsTheExpectedTextsAndStaysUsable) {
    const Row& row = Table()[std::get<0>(GetParam())];
    const Backend backend = std::get<1>(GetParam());
    const Expected& expected = ExpectedFor(row, backend);
    ASSERT_TRUE(Prepare(row, &setup));
    qputenv("TESSARON_MEDIA_DETECTOR", backend == Backend::FFmpeg ? "1" : "0");
    Start();

    std::vector<std::string> shown;
    if (CTessaronView* view = OpenAsUser(setup.source)) {
        if (row.input == Input::DeletedWhileOpen) {
            ASSERT_EQ(::unlink(setup.source.c_str()), 0);
        } else if (row.input == Input::ReplacedWhileOpen) {
            ASSERT_TRUE(WriteFileBytes(setup.dir + "/replacement", Bytes(500, 'x')));
            ASSERT_TRUE(WriteFileBytes(setup.dir + "/replacing", Bytes(500, 'x')));
            ASSERT_EQ(::rename((setup.dir + "/replacing").c_str(), setup.source.c_str()), 0);
        } else if (row.input == Input::OverwrittenWhileOpen) {
            ASSERT_TRUE(WriteFileBytes(setup.dir + "/replacement", Bytes(500, 'x')));
            ASSERT_TRUE(WriteFileBytes(setup.source, Bytes(500, 'x')));  // same file, truncated and rewritten
        }
        Step(view);
        RunAction(row, view);
        if (row.action == Action::Sort || row.action == Action::Bmp)
            shown.push_back("status: " + view->m_pSelector->StatusText().toStdString());
        if (row.action == Action::Sort)
            shown.push_back("order: " + std::to_string(view->m_frameOrder.size()) + " keys");
        view->m_pSelector->hide();
    }
    std::vector<std::string> messages;
    for (const auto& m : fw.messages) messages.push_back("[" + m.caption.toStdString() + "] " + m.text.toStdString());
    messages.insert(messages.end(), shown.begin(), shown.end());
    Record("gui", messages, setup.output, row.action, setup.source);

    std::vector<std::string> want;
    for (const std::string& t : expected.gui)
        want.push_back(Replace(Replace(t, "%SRC%", setup.source), "%OUT%", setup.output));
    std::string seenFrames;
    const bool outputOk = OutputAsExpected(row.action, expected.guiFrames, setup.output, &seenFrames);
    EXPECT_TRUE(fw.unexpected.empty()) << fw.unexpected.front().toStdString();
    ExpectSourceUntouched(row, setup);

    // Still usable: every window closed, a good video opens and its frame 3 reads.
    app()->DocTemplate()->CloseAllDocuments();
    ProcessPendingEvents();
    EXPECT_EQ(WindowCount(), 0);
    const std::string good = setup.dir + "/good.avi";
    ASSERT_TRUE(WriteFileBytes(good, ValidAvi()));
    const size_t before = fw.messages.size();
    CTessaronView* view = OpenAsUser(good);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(fw.messages.size(), before);
    FrameBlockPtr block(view->m_pReader->ReadFrame(*view->m_pFrameInfo, 3));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(testsupport::ReadFrameIndex(block.get()), 3);

    if (expected.outcomeVaries) return;
    EXPECT_EQ(messages, want) << "shown:\n" << Shown(messages);
    EXPECT_TRUE(outputOk) << "output frames: " << seenFrames;
}

INSTANTIATE_TEST_SUITE_P(Table, GuiRow,
                         ::testing::Combine(::testing::Range(size_t(0), Table().size()),
                                            ::testing::Values(Backend::FFmpeg, Backend::AviReader)),
                         ParamName);

// tessaron-cli, spawned.
class CliRow : public ::testing::TestWithParam<Param> {
protected:
    void TearDown() override { RemoveFolder(setup.dir); }
    RunSetup setup;
};

TEST_P(CliRow, ExitsWithTheExpectedStatusAndMessage) {
    const Row& row = Table()[std::get<0>(GetParam())];
    const Backend backend = std::get<1>(GetParam());
    const Expected& expected = ExpectedFor(row, backend);
    ASSERT_TRUE(Prepare(row, &setup));
    // No program window stays open between opening and reading: the CLI gets the file already gone or
    // replaced.
    if (row.input == Input::DeletedWhileOpen) {
        ASSERT_EQ(::unlink(setup.source.c_str()), 0);
    } else if (row.input == Input::ReplacedWhileOpen || row.input == Input::OverwrittenWhileOpen) {
        ASSERT_TRUE(WriteFileBytes(setup.dir + "/replacement", Bytes(500, 'x')));
        ASSERT_TRUE(WriteFileBytes(setup.source, Bytes(500, 'x')));
    }
    std::vector<std::string> args;
    for (const std::string& a : row.cli)
        args.push_back(Replace(Replace(a, "%ARG%", setup.source), "%OUT%", setup.output));
    ChildOptions options;
    options.setEnv.push_back(std::string("TESSARON_MEDIA_DETECTOR=") + (backend == Backend::FFmpeg ? "1" : "0"));
    if (row.input == Input::FullDisk) options.fileSizeLimit = kFullDiskBytes;
    options.unprivileged = row.input == Input::ReadOnlyFolder;
    const ChildResult run = RunChild(TESSARON_CLI, args, options);

    Record("cli", {std::to_string(run.status), run.err}, setup.output, row.action, setup.source);
    ExpectSourceUntouched(row, setup);
    ASSERT_GE(run.status, 0) << "tessaron-cli did not run";
    EXPECT_LT(run.status, 128) << "tessaron-cli was killed by a signal";
    if (expected.outcomeVaries) return;
    const std::string want = Replace(Replace(expected.cliErr, "%SRC%", setup.source), "%OUT%", setup.output);
    std::string seenFrames;
    const bool outputOk = OutputAsExpected(row.action, expected.cliFrames, setup.output, &seenFrames);
    EXPECT_EQ(run.status, expected.cliStatus) << run.err;
    EXPECT_EQ(run.err, want);
    EXPECT_TRUE(outputOk) << "output frames: " << seenFrames;
}

INSTANTIATE_TEST_SUITE_P(Table, CliRow,
                         ::testing::Combine(::testing::Range(size_t(0), Table().size()),
                                            ::testing::Values(Backend::FFmpeg, Backend::AviReader)),
                         ParamName);

}  // namespace
