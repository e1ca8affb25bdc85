#include "tests/gui_support/GuiTestUtil.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QMouseEvent>
#include <QTest>
#include <QPixmap>
#include <QProcess>
#include <QWidget>
#include <cstdio>

#include "app/TessaronApp.h"

QString ScreenshotDir() { return QString::fromUtf8(TESSARON_SCREENSHOT_DIR); }

QString SaveScreenshot(QWidget* widget, const QString& name) {
    if (!widget) return QString();
    QDir().mkpath(ScreenshotDir());
    QString path = ScreenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png");
    QPixmap pixmap = widget->grab();
    return pixmap.save(path, "PNG") ? path : QString();
}

bool RunFfmpeg(const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-v"), QStringLiteral("error"),
                                                        QStringLiteral("-nostdin"), QStringLiteral("-y")} +
                                                arguments);
    if (!process.waitForStarted(-1) || !process.waitForFinished(-1)) return false;
    QByteArray output = process.readAll();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", output.constData());
        return false;
    }
    return true;
}

bool MakeRawAvi(const QString& path, int width, int height, int frames) {
    return RunFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("testsrc2=size=%1x%2:rate=10").arg(width).arg(height), QStringLiteral("-frames:v"),
                      QString::number(frames), QStringLiteral("-c:v"), QStringLiteral("rawvideo"),
                      QStringLiteral("-pix_fmt"), QStringLiteral("bgr24"), path});
}

QByteArray DecodeFrameWithFfmpeg(const QString& path, int n) {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-nostdin"), QStringLiteral("-i"),
                   path, QStringLiteral("-vf"), QStringLiteral("select=eq(n\\,%1)").arg(n), QStringLiteral("-fps_mode"),
                   QStringLiteral("passthrough"), QStringLiteral("-frames:v"), QStringLiteral("1"),
                   QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                   QStringLiteral("bgr24"), QStringLiteral("-")});
    if (!process.waitForStarted(-1) || !process.waitForFinished(-1)) return QByteArray();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", process.readAllStandardError().constData());
        return QByteArray();
    }
    return process.readAllStandardOutput();
}

AppRunner::AppRunner(const QStringList& arguments) {
    m_words.push_back(QByteArrayLiteral("tessaron"));
    for (const QString& a : arguments) m_words.push_back(a.toLocal8Bit());
    for (QByteArray& w : m_words) m_argv.push_back(w.data());
    m_argv.push_back(nullptr);
    m_argc = static_cast<int>(m_words.size());
    m_app = std::make_unique<CTessaronApp>(m_argc, m_argv.data());
}

AppRunner::~AppRunner() {
    m_app.reset();
    ProcessPendingEvents();
}

void ProcessPendingEvents() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

void Drag(QWidget* widget, const QPoint& from, const QPoint& to, bool release) {
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from);
    // A move that carries the pressed button (QTest's own move does not).
    QMouseEvent move(QEvent::MouseMove, QPointF(to), widget->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
    if (release) QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to);
}
