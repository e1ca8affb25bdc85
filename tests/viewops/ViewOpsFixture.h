// A started program whose view has a video open, for the view's sort, quality preview, exports and BMP
// save. The framework stand-in can press Escape when a given progress text appears, which ends a long
// loop after a chosen number of frames, as a user would.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLocale>
#include <QSpinBox>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "framework/Document.h"
#include "selector/FrameOrder.h"
#include "dialogs/SelectVideoFrames.h"
#include "tests/gui_support/AppTestFixture.h"
#include "tests/ops/OpsTestSupport.h"
#include "tests/support/TestVideos.h"
#include "view/CTessaronView.h"

// Records like the scripted framework, and runs a hook on every status text.
class HookedFramework : public ScriptedFramework {
public:
    std::function<void(const QString&)> onStatus;
    void SetStatusText(const QString& text) override {
        ScriptedFramework::SetStatusText(text);
        if (onStatus) onStatus(text);
    }
};

class ViewOpsTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        Start();
    }

    // Opens path in a view of its own and paints it once, as the screen would.
    CTessaronView* OpenVideo(const std::string& path) {
        CTessaronView* view = OpenView(QString::fromStdString(path));
        if (view) view->viewport()->repaint();
        return view;
    }

    // Escape is pressed (and the question answered Yes) when the status bar shows text.
    void PressEscapeAt(CTessaronView* view, const QString& text) {
        ui.messageAnswers.push_back(IDYES);
        ui.onStatus = [view, text](const QString& shown) {
            if (shown == text)
                QCoreApplication::postEvent(view->viewport(),
                                            new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        };
    }

    // The frame order as (score, frame) pairs.
    static std::vector<std::pair<int, int>> Keys(const std::vector<std::string>& order) {
        std::vector<std::pair<int, int>> keys;
        for (const std::string& key : order) {
            int32_t score = 0, frame = 0;
            if (ParseFrameOrderKey(key.c_str(), &score, &frame) == 2) keys.emplace_back(score, frame);
        }
        return keys;
    }

    struct Ranked {
        int status = -1;
        std::vector<std::pair<int, int>> keys;  // (score, frame) in the CLI's order
        std::map<int, int> scoreOf;             // frame -> score
    };
    // tessaron-cli rank --json, as a user would script it.
    static Ranked Rank(const std::string& path, int quality) {
        Ranked ranked;
        const opstest::CommandRun run = opstest::RunCapture(std::string(TESSARON_CLI) + " rank --json --quality " +
                                                            std::to_string(quality) + " " +
                                                            testsupport::ShellQuote(path) + " 2>/dev/null");
        ranked.status = run.status;
        const QJsonDocument json = QJsonDocument::fromJson(QByteArray::fromStdString(run.out));
        for (const QJsonValue& entry : json.object().value("frames").toArray()) {
            const int score = entry.toObject().value("score").toInt();
            const int frame = entry.toObject().value("frame").toInt();
            ranked.keys.emplace_back(score, frame);
            ranked.scoreOf[frame] = score;
        }
        return ranked;
    }
    // The frame with the smallest score among frames [0, count), the earlier one on a tie.
    static int BestOf(const Ranked& ranked, int count) {
        int best = -1;
        for (int frame = 0; frame < count; ++frame) {
            auto it = ranked.scoreOf.find(frame);
            if (it == ranked.scoreOf.end()) continue;
            if (best < 0 || it->second < ranked.scoreOf.at(best)) best = frame;
        }
        return best;
    }

    HookedFramework ui;  // installed over the fixture's own stand-in for the test's length
};
