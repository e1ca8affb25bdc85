// Start-up, settings, Preferences, About, menus, accelerators, bars, help and printing.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QTextBrowser>
#include <QTest>

#include "dialogs/AboutBox.h"
#include "framework/ChildFrame.h"
#include "framework/Document.h"
#include "app/HelpWindow.h"
#include "dialogs/Preferences.h"
#include "framework/ScrollView.h"
#include "tests/gui_support/AppTestFixture.h"

namespace {

// Titles of the visible top-level menus.
QStringList VisibleMenus(CMainFrame* frame) {
    QStringList titles;
    for (QAction* a : frame->menuBar()->actions()) {
        if (a->isVisible()) titles << a->text();
    }
    return titles;
}

// Item texts of a top-level menu, "-" for a separator, hidden items left out.
QStringList MenuItems(CMainFrame* frame, const QString& title) {
    QStringList items;
    for (QAction* top : frame->menuBar()->actions()) {
        if (top->text() != title || !top->menu()) continue;
        for (QAction* a : top->menu()->actions()) {
            if (a->isVisible()) items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
    }
    return items;
}

// Answers the Preferences dialog: optionally clicks the check box, then ends it by button or close box.
enum class Close { Ok, Cancel, CloseBox };
std::function<int(QDialog*)> AnswerPreferences(bool click, Close how, bool* shownChecked = nullptr) {
    return [=](QDialog* dialog) {
        auto* prefs = qobject_cast<Preferences*>(dialog);
        EXPECT_NE(prefs, nullptr);
        if (!prefs) return int(QDialog::Rejected);
        if (shownChecked) *shownChecked = prefs->DeinterlaceBox()->isChecked();
        if (click) QTest::mouseClick(prefs->DeinterlaceBox(), Qt::LeftButton);
        if (how == Close::CloseBox) {
            prefs->close();
            return prefs->result();
        }
        auto* button = prefs->findChild<QAbstractButton*>(how == Close::Ok ? "IDOK" : "IDCANCEL");
        EXPECT_NE(button, nullptr);
        if (button) QTest::mouseClick(button, Qt::LeftButton);
        return prefs->result();
    };
}

// A view that counts its updates and reports frame limits when given some.
class CountingView : public CScrollView {
public:
    using CScrollView::CScrollView;
    void OnUpdate(CScrollView* sender) override {
        ++updates;
        CScrollView::OnUpdate(sender);
    }
    bool GetFrameLimits(int* w, int* h) const override {
        if (maxW <= 0) return false;
        *w = maxW;
        *h = maxH;
        return true;
    }
    void OnDraw(QPainter& painter) override { painter.fillRect(0, 0, 40, 30, Qt::red); }
    int updates = 0;
    int maxW = 0, maxH = 0;
};

TEST_F(AppTest, StartUpPlacesTheMainWindowAndOpensNothing) {
    Start();
    // At (50, 50), 750 x 650, as far as the screen holds it with its frame; always inside the screen.
    const QRect screen = frame()->screen()->availableGeometry();
    const QMargins margins(frame()->geometry().left() - frame()->frameGeometry().left(),
                           frame()->geometry().top() - frame()->frameGeometry().top(),
                           frame()->frameGeometry().right() - frame()->geometry().right(),
                           frame()->frameGeometry().bottom() - frame()->geometry().bottom());
    const QRect wanted = QRect(50, 50, 750, 650).marginsAdded(margins);
    EXPECT_TRUE(screen.contains(frame()->frameGeometry()));
    EXPECT_EQ(frame()->size(), QSize(750, 650).boundedTo(screen.size().shrunkBy(margins)));
    if (screen.contains(wanted)) {
        EXPECT_EQ(frame()->pos(), QPoint(50, 50));
    }
    EXPECT_TRUE(frame()->isVisible());
    EXPECT_EQ(frame()->windowTitle(), "Tessaron");
    EXPECT_EQ(WindowCount(), 0);
    EXPECT_EQ(DocumentCount(), 0);
    EXPECT_EQ(app()->startDirectory, QDir::currentPath());
    EXPECT_EQ(mainStatusBar, frame()->StatusBar());
    EXPECT_EQ(mainStatusBar->PaneCount(), 4);
    EXPECT_EQ(mainStatusBar->GetPaneText(1), "CAP");
    EXPECT_EQ(mainStatusBar->GetPaneText(2), "NUM");
    EXPECT_EQ(mainStatusBar->GetPaneText(3), "SCRL");
    EXPECT_TRUE(fw.messages.empty());
}

TEST_F(AppTest, StartUpReadsTheSettingsFileAndNeverCreatesIt) {
    Start();
    EXPECT_EQ(deinterlaceEnabled, 0);
    EXPECT_FALSE(QFile::exists(ConfigFile("Tessaron.ini")));
    runner.reset();

    const struct {
        const char* value;
        int flag;
    } cases[] = {{"ERROR", 0}, {"0", 0}, {"1", 1}, {"2", 1}, {"-1", 1}, {" 1", 1}, {"abc", 0}, {"error", 0}};
    for (const auto& c : cases) {
        WriteFile(ConfigFile("Tessaron.ini"), QByteArray("[Tessaron]\ndeinterlaceFlag=") + c.value + "\n");
        deinterlaceEnabled = 7;  // anything: start-up must set it
        Start();
        EXPECT_EQ(deinterlaceEnabled, c.flag) << c.value;
        runner.reset();
    }
}

TEST_F(AppTest, SettingsLiveInTheConfigFolderAndAFileLeftInTheStartFolderIsTakenOverOnce) {
    QTemporaryDir other;
    // A settings file left in the start folder by an earlier version, and the window's fit turned off.
    WriteFile(WorkFile("Tessaron.ini"), "; mine\n[Tessaron]\ndeinterlaceFlag=1\nfitLargeVideos=0\n");
    const QString large = WorkFile("large.avi");
    ASSERT_TRUE(MakeRawAvi(large, 1600, 1200, 1));
    Start({large});
    EXPECT_EQ(deinterlaceEnabled, 1);
    EXPECT_EQ(ReadFile(ConfigFile("Tessaron.ini")), "; mine\n[Tessaron]\ndeinterlaceFlag=1\nfitLargeVideos=0\n");
    // Read before the command line's file opened: the large frame is shown at 100 %.
    auto* view = qobject_cast<CTessaronView*>(app()->DocTemplate()->GetDocuments().first()->GetViews().first());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->m_fit, 0);

    // Started again with the old file changed: it is not read again. Then, from another folder,
    // Preferences writes the config folder's file.
    WriteFile(WorkFile("Tessaron.ini"), "[Tessaron]\ndeinterlaceFlag=0\n");
    runner.reset();
    Start();
    EXPECT_EQ(deinterlaceEnabled, 1);
    QDir::setCurrent(other.path());
    fw.dialogs.push_back(AnswerPreferences(true, Close::Ok));
    app()->ShowPreferences();
    EXPECT_EQ(deinterlaceEnabled, 0);
    EXPECT_EQ(ReadFile(ConfigFile("Tessaron.ini")), "; mine\n[Tessaron]\ndeinterlaceFlag=0\nfitLargeVideos=0\n");
    EXPECT_FALSE(QFile::exists(other.path() + "/Tessaron.ini"));
    EXPECT_EQ(ReadFile(WorkFile("Tessaron.ini")), "[Tessaron]\ndeinterlaceFlag=0\n");
    // The recent-file list stays where it was.
    EXPECT_EQ(app()->RecentFiles(), QStringList{QFileInfo(large).absoluteFilePath()});
    EXPECT_FALSE(QFile::exists(ConfigFile("Tessaron.conf")));
}

TEST_F(AppTest, PreferencesOkStoresAndWritesTheFlag) {
    Start();
    bool shown = true;
    fw.dialogs.push_back(AnswerPreferences(true, Close::Ok, &shown));
    app()->ShowPreferences();
    EXPECT_FALSE(shown);
    EXPECT_EQ(deinterlaceEnabled, 1);
    EXPECT_EQ(ReadFile(ConfigFile("Tessaron.ini")), "[Tessaron]\ndeinterlaceFlag=1\n");
    ASSERT_EQ(fw.dialogTitles.size(), 1u);
    EXPECT_EQ(fw.dialogTitles[0], "Preferences");
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(AppTest, PreferencesCancelAndCloseBoxDiscardTheClick) {
    Start();
    fw.dialogs.push_back(AnswerPreferences(true, Close::Cancel));
    app()->ShowPreferences();
    EXPECT_EQ(deinterlaceEnabled, 0);
    EXPECT_FALSE(QFile::exists(ConfigFile("Tessaron.ini")));

    fw.dialogs.push_back(AnswerPreferences(true, Close::CloseBox));
    app()->ShowPreferences();
    EXPECT_EQ(deinterlaceEnabled, 0);
    EXPECT_FALSE(QFile::exists(ConfigFile("Tessaron.ini")));
}

TEST_F(AppTest, AnIniFileEditedWhileRunningCountsFromTheNextPreferences) {
    WriteFile(ConfigFile("Tessaron.ini"), "[Tessaron]\ndeinterlaceFlag=0\n");
    Start();
    EXPECT_EQ(deinterlaceEnabled, 0);
    WriteFile(ConfigFile("Tessaron.ini"), "; edited\n[Tessaron]\ndeinterlaceFlag=1\n");
    EXPECT_EQ(deinterlaceEnabled, 0) << "not before Preferences is opened";
    bool shown = false;
    fw.dialogs.push_back(AnswerPreferences(false, Close::Cancel, &shown));
    app()->ShowPreferences();
    EXPECT_TRUE(shown);
    EXPECT_EQ(deinterlaceEnabled, 1);
    EXPECT_EQ(ReadFile(ConfigFile("Tessaron.ini")), "; edited\n[Tessaron]\ndeinterlaceFlag=1\n");
}

TEST_F(AppTest, PreferencesUpdatesEveryViewOfEveryDocument) {
    Start();
    QList<CountingView*> views;
    app()->DocTemplate()->SetViewFactory([&views](CDocument* doc) {
        auto* v = new CountingView(doc);
        views << v;
        return v;
    });
    app()->OnFileNew();
    app()->OnFileNew();
    ASSERT_EQ(views.size(), 2);
    int before0 = views[0]->updates, before1 = views[1]->updates;
    fw.dialogs.push_back(AnswerPreferences(true, Close::Ok));
    app()->ShowPreferences();
    EXPECT_EQ(views[0]->updates, before0 + 1);
    EXPECT_EQ(views[1]->updates, before1 + 1);
}

TEST_F(AppTest, AboutBoxTexts) {
    Start();
    QStringList texts;
    QString title;
    fw.dialogs.push_back([&](QDialog* d) {
        title = d->windowTitle();
        for (const char* name : {"IDC_VERSION", "IDC_DATE", "IDC_LIBRARIES"}) {
            auto* label = d->findChild<QLabel*>(name);
            texts << (label ? label->text() : QString());
        }
        EXPECT_NE(d->findChild<QAbstractButton*>("IDOK"), nullptr);
        return int(QDialog::Accepted);
    });
    frame()->Action(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(title, "About Tessaron");
    ASSERT_EQ(texts.size(), 3);
    EXPECT_EQ(texts[0], "Tessaron Version 1.7");
    EXPECT_EQ(texts[1], "22 Feb 04 -1800");
    EXPECT_TRUE(texts[2].startsWith("Qt " + QString::fromLatin1(qVersion()) + ", FFmpeg ")) << texts[2].toStdString();
    EXPECT_TRUE(texts[2].contains("libjpeg-turbo ")) << texts[2].toStdString();
    EXPECT_EQ(texts[2], AboutBox::LibraryVersions());
}

TEST_F(AppTest, MenusSwitchWhenADocumentOpensAndCloses) {
    Start();
    EXPECT_EQ(VisibleMenus(frame()), QStringList({"&File", "&View", "&Help"}));
    const QStringList file = {"&Open...\tCtrl+O", "&Close", "-", "Preferences...", "-", "Recent File", "-", "E&xit"};
    EXPECT_EQ(MenuItems(frame(), "&File"), file);
    EXPECT_FALSE(frame()->Action(ID_FILE_MRU_FILE1)->isEnabled()) << "grey until there are recent files";
    EXPECT_FALSE(frame()->Action(ID_FILE_CLOSE)->isEnabled());
    EXPECT_EQ(MenuItems(frame(), "&View"), QStringList({"&Toolbar", "&Status Bar"}));
    EXPECT_EQ(MenuItems(frame(), "&Help"),
              QStringList({"&Help Topics", "&Keyboard Shortcuts", "-", "&About Tessaron..."}));

    app()->OnFileNew();
    EXPECT_EQ(VisibleMenus(frame()), QStringList({"&File", "Tools", "&View", "&Zoom", "&Window", "&Help"}));
    EXPECT_EQ(MenuItems(frame(), "&File"), file);
    EXPECT_EQ(MenuItems(frame(), "Tools"), QStringList({"Crop and Save", "-", "Frame Selector...", "-",
                                                        "&Go to Frame...\tCtrl+G", "Crop &Box...\tCtrl+B"}));
    EXPECT_EQ(MenuItems(frame(), "&Zoom"), QStringList({"&Fit to Window\tCtrl+0", "&Actual Size (100 %)\tCtrl+1", "-",
                                                        "Zoom &In\tCtrl++", "Zoom &Out\tCtrl+-"}));
    // An empty document has no video: the commands on one stay grey.
    for (int id : {ID_CROP_AND_SAVE, ID_FRAME_SELECTOR, ID_GO_TO_FRAME, ID_CROP_BOX, ID_ZOOM_FIT, ID_ZOOM_IN})
        EXPECT_FALSE(frame()->Action(id)->isEnabled()) << id;
    EXPECT_EQ(MenuItems(frame(), "&Window"), QStringList({"&Cascade", "&Tile", "&Arrange Icons"}));
    EXPECT_TRUE(frame()->Action(ID_FILE_CLOSE)->isEnabled());
    EXPECT_EQ(frame()->windowTitle(), "Tessaron - Tessaron1");

    frame()->Action(ID_FILE_CLOSE)->trigger();
    ProcessPendingEvents();
    EXPECT_EQ(DocumentCount(), 0);
    EXPECT_EQ(VisibleMenus(frame()), QStringList({"&File", "&View", "&Help"}));
    EXPECT_EQ(frame()->windowTitle(), "Tessaron");

    // Closing the child window itself works the same way.
    app()->OnFileNew();
    ASSERT_EQ(WindowCount(), 1);
    frame()->MdiArea()->subWindowList().first()->close();
    ProcessPendingEvents();
    EXPECT_EQ(DocumentCount(), 0);
    EXPECT_EQ(VisibleMenus(frame()), QStringList({"&File", "&View", "&Help"}));
}

TEST_F(AppTest, AcceleratorTable) {
    Start();
    const struct {
        int id;
        QList<QKeySequence> keys;
        bool enabledWithDocument;
    } table[] = {
        {ID_FILE_NEW, {QKeySequence("Ctrl+N")}, true},
        {ID_FILE_OPEN, {QKeySequence("Ctrl+O")}, true},
        {ID_FILE_SAVE, {QKeySequence("Ctrl+S")}, false},
        {ID_FILE_PRINT, {QKeySequence("Ctrl+P")}, true},
        {ID_EDIT_UNDO, {QKeySequence("Ctrl+Z"), QKeySequence("Alt+Backspace")}, false},
        {ID_EDIT_CUT, {QKeySequence("Ctrl+X"), QKeySequence("Shift+Del")}, false},
        {ID_EDIT_COPY, {QKeySequence("Ctrl+C"), QKeySequence("Ctrl+Ins")}, false},
        {ID_EDIT_PASTE, {QKeySequence("Ctrl+V"), QKeySequence("Shift+Ins")}, false},
        {ID_NEXT_PANE, {QKeySequence("F6")}, true},
        {ID_PREV_PANE, {QKeySequence("Shift+F6")}, true},
        {ID_CONTEXT_HELP, {QKeySequence("Shift+F1")}, true},
        {ID_HELP, {QKeySequence("F1")}, true},
    };
    app()->OnFileNew();
    for (const auto& row : table) {
        QAction* a = frame()->Action(row.id);
        ASSERT_NE(a, nullptr) << row.id;
        EXPECT_EQ(a->shortcuts(), row.keys) << row.id;
        EXPECT_EQ(a->isEnabled(), row.enabledWithDocument) << row.id;
    }

    // Keys typed into the main window reach their commands.
    frame()->activateWindow();
    QTest::keyClick(frame(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(DocumentCount(), 2);
    QStringList titles;
    for (QMdiSubWindow* sub : frame()->MdiArea()->subWindowList()) titles << sub->windowTitle();
    EXPECT_EQ(titles, QStringList({"Tessaron1", "Tessaron2"}));

    QMdiSubWindow* current = frame()->MdiArea()->currentSubWindow();
    QTest::keyClick(frame(), Qt::Key_F6);
    EXPECT_NE(frame()->MdiArea()->currentSubWindow(), current);
    QTest::keyClick(frame(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(frame()->MdiArea()->currentSubWindow(), current);

    fw.fileAnswers.push_back(std::nullopt);
    QTest::keyClick(frame(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(fw.fileRequests.size(), 1u);
    EXPECT_FALSE(fw.fileRequests[0].save);
    EXPECT_EQ(NameFiltersFromFilterString(fw.fileRequests[0].filter),
              QStringList({"Video Files (*.mp4 *.mkv *.mov *.webm *.avi *.mpg *.m4v *.wmv *.flv *.ts)",
                           "AVI Files (*.avi)", "All Files (*)"}));
    EXPECT_EQ(DocumentCount(), 2) << "a cancelled open opens nothing";

    // Ctrl+S and the editing keys do nothing at all.
    QTest::keyClick(frame(), Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(frame(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(fw.unexpected.empty());
}

TEST_F(AppTest, FilterStringsBecomeNameFilters) {
    EXPECT_EQ(NameFiltersFromFilterString("AVI Files (*.avi)|*.avi|All Files (*.*)|*.*||"),
              QStringList({"AVI Files (*.avi)", "All Files (*)"}));
    EXPECT_EQ(NameFiltersFromFilterString("Bitmap|*.bmp;*.dib||"), QStringList({"Bitmap (*.bmp *.dib)"}));
    EXPECT_TRUE(NameFiltersFromFilterString("").isEmpty());
}

TEST_F(AppTest, ToolbarAndStatusBarToggle) {
    Start();
    QToolBar* tb = frame()->ToolBar();
    QStringList buttons;
    for (QAction* a : tb->actions()) buttons << (a->isSeparator() ? "-" : a->data().toString());
    EXPECT_EQ(buttons, QStringList({QString::number(ID_FILE_OPEN), "-", QString::number(ID_APP_ABOUT)}));
    EXPECT_EQ(tb->iconSize(), QSize(16, 15));

    frame()->Action(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_FALSE(tb->isVisible());
    frame()->Action(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_TRUE(tb->isVisible());

    frame()->Action(ID_VIEW_STATUS_BAR)->trigger();
    EXPECT_FALSE(mainStatusBar->isVisible());
    AppFramework().SetStatusText("while hidden");
    frame()->Action(ID_VIEW_STATUS_BAR)->trigger();
    EXPECT_TRUE(mainStatusBar->isVisible());
    AppFramework().SetStatusText("(1, 2)  -  (Click and drag to create crop box...)");
    EXPECT_EQ(mainStatusBar->GetPaneText(0), "(1, 2)  -  (Click and drag to create crop box...)");
}

TEST_F(AppTest, WaitCursorNests) {
    Start();
    Framework& f = AppFramework();
    f.BeginWaitCursor();
    f.BeginWaitCursor();
    f.EndWaitCursor();
    EXPECT_EQ(f.WaitCursorCount(), 1);
    f.EndWaitCursor();
    f.EndWaitCursor();  // one too many is harmless
    EXPECT_EQ(f.WaitCursorCount(), 0);
    EXPECT_EQ(fw.waitCursorShown, 1);
}

TEST_F(AppTest, HelpTopicsShowsTheUserGuide) {
    Start();
    frame()->Action(ID_HELP_FINDER)->trigger();
    ASSERT_NE(app()->Help(), nullptr);
    EXPECT_TRUE(app()->Help()->isVisible());
    QString text = app()->Help()->Browser()->toPlainText();
    for (const char* topic : {"Crop and Save", "Deinterlace images", "Zoom In", "Page Up", "Go to Frame", "handles",
                              "Sharpness", "Check best", "image set", "plot", "slider", "Ctrl+Z"})
        EXPECT_TRUE(text.contains(topic)) << topic;
    EXPECT_FALSE(text.contains("one screen pixel per image pixel"));
}

TEST_F(AppTest, KeyboardShortcutsListEveryKeyOfTheMenusAndWindows) {
    Start();
    // Frame Selector has a key of its own; its menu text stays.
    QAction* selector = frame()->Action(ID_FRAME_SELECTOR);
    EXPECT_EQ(selector->text(), "Frame Selector...");
    EXPECT_EQ(selector->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));

    frame()->Action(ID_HELP_KEYS)->trigger();
    ASSERT_NE(app()->Shortcuts(), nullptr);
    EXPECT_TRUE(app()->Shortcuts()->isVisible());
    const QString shown = app()->Shortcuts()->Browser()->toPlainText();
    QStringList used;
    for (const QAction* action : frame()->actions())
        for (const QKeySequence& keys : action->shortcuts()) used << keys.toString(QKeySequence::NativeText);
    EXPECT_GE(used.size(), 20);
    for (const QString& keys : used) EXPECT_TRUE(shown.contains(keys)) << keys.toStdString();
    app()->Shortcuts()->resize(620, 700);
    SaveScreenshot(app()->Shortcuts(), QStringLiteral("help-keyboard-shortcuts"));
}

TEST_F(AppTest, ChildFrameNeverGrowsBeyondItsViewsLimits) {
    Start();
    CountingView* view = nullptr;
    app()->DocTemplate()->SetViewFactory([&view](CDocument* doc) { return view = new CountingView(doc); });
    app()->OnFileNew();
    ASSERT_NE(view, nullptr);
    auto* child = qobject_cast<CChildFrame*>(frame()->MdiArea()->subWindowList().first());
    ASSERT_NE(child, nullptr);
    // Without limits (a new, empty document) the window is free.
    child->resize(500, 400);
    EXPECT_EQ(child->size(), QSize(500, 400));
    view->maxW = 300;
    view->maxH = 200;
    child->UpdateSizeLimits();
    child->resize(600, 500);
    EXPECT_EQ(child->size(), QSize(300, 200));
    child->resize(120, 90);
    EXPECT_EQ(child->size(), QSize(120, 90));
}

TEST_F(AppTest, PrintWritesTheActiveViewToThePrinter) {
    Start();
    app()->DocTemplate()->SetViewFactory([](CDocument* doc) { return new CountingView(doc); });
    EXPECT_FALSE(frame()->Action(ID_FILE_PRINT)->isEnabled()) << "nothing to print without a view";
    app()->OnFileNew();
    QString pdf = WorkFile("print.pdf");
    fw.printAnswers.push_back(pdf);
    QTest::keyClick(frame(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(fw.unexpected.empty());
    EXPECT_GT(QFileInfo(pdf).size(), 0);
    // A cancelled print writes nothing.
    QFile::remove(pdf);
    fw.printAnswers.push_back(std::nullopt);
    frame()->Action(ID_FILE_PRINT)->trigger();
    EXPECT_FALSE(QFile::exists(pdf));
}

}  // namespace
