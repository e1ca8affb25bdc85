// A fresh application object per test, started in a temporary working directory with the scripted
// framework services installed.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "framework/DocTemplate.h"
#include "app/MainFrame.h"
#include "app/TessaronApp.h"
#include "framework/Document.h"
#include "view/CTessaronView.h"
#include "tests/gui_support/GuiTestUtil.h"
#include "tests/gui_support/ScriptedFramework.h"

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work.isValid());
        previousDir = QDir::currentPath();
        QDir::setCurrent(work.path());
        // Settings of this test's own, never the user's.
        previousConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(WorkFile("config")));
        deinterlaceEnabled = 0;
        // Each test starts with an empty recent-file list.
        QSettings("Local AppWizard-Generated Applications", "Tessaron").clear();
    }
    void TearDown() override {
        runner.reset();
        QDir::setCurrent(previousDir);
        qputenv("XDG_CONFIG_HOME", previousConfig);
        qunsetenv("TESSARON_MEDIA_DETECTOR");
    }

    // Starts the program as if from the command line.
    CTessaronApp* Start(const QStringList& arguments = {}) {
        runner = std::make_unique<AppRunner>(arguments);
        EXPECT_TRUE(runner->app()->InitInstance());
        // Keys reach shortcuts only in the active window.
        runner->app()->MainFrame()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(runner->app()->MainFrame()));
        return runner->app();
    }
    CTessaronApp* app() const { return runner->app(); }
    CMainFrame* frame() const { return runner->app()->MainFrame(); }
    int WindowCount() const { return frame()->MdiArea()->subWindowList().size(); }
    int DocumentCount() const { return app()->DocTemplate()->GetDocuments().size(); }

    // Opens path and lets the window settle (layout, scroll bars, queued calls); its view, or null when
    // it did not open. Unsettled, the view has had its initial update but no paint yet.
    CTessaronView* OpenView(const QString& path, bool settle = true) {
        CDocument* doc = app()->OpenDocumentFile(path);
        if (!doc || doc->GetViews().isEmpty()) return nullptr;
        if (settle) ProcessPendingEvents();
        return qobject_cast<CTessaronView*>(doc->GetViews().first());
    }

    QString WorkFile(const QString& name) const { return work.path() + QLatin1Char('/') + name; }
    // A file in the program's settings folder.
    QString ConfigFile(const QString& name) const { return WorkFile("config/tessaron/") + name; }
    static void WriteFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    static QByteArray ReadFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir work;
    QString previousDir;
    QByteArray previousConfig;
    ScriptedFramework fw;
    std::unique_ptr<AppRunner> runner;
};
