#include "framework/Document.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include "framework/ChildFrame.h"
#include "framework/Framework.h"
#include "framework/ScrollView.h"

CDocument::CDocument() = default;

CDocument::~CDocument() = default;

bool CDocument::OnNewDocument() { return true; }

bool CDocument::OnOpenDocument(const QString& path) {
    QFileInfo info(path);
    QString reason;
    if (path.isEmpty()) {
        reason = QStringLiteral("No file name was given.");
    } else if (info.isDir()) {
        reason = QStringLiteral("It is a folder, not a file.");
    } else {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            // Nothing is read: the view reads the frames itself.
            file.close();
            return true;
        }
        reason = file.errorString();
        if (!info.exists()) reason = QStringLiteral("The file does not exist.");
    }
    QString caption = QCoreApplication::applicationName();
    if (caption.isEmpty()) caption = QStringLiteral("Tessaron");
    AppFramework().MessageBox(nullptr, QStringLiteral("Cannot open the file \"%1\".\n%2").arg(path, reason), caption,
                              MB_OK | MB_ICONWARNING);
    return false;
}

void CDocument::SetPathName(const QString& path) {
    m_strPathName = path;
    SetTitle(QFileInfo(path).fileName());
}

void CDocument::SetTitle(const QString& title) {
    m_strTitle = title;
    for (CScrollView* view : m_views) {
        if (CChildFrame* frame = view->GetParentFrame()) frame->setWindowTitle(title);
    }
    emit titleChanged(title);
}

void CDocument::AddView(CScrollView* view) {
    if (view && !m_views.contains(view)) m_views.append(view);
}

void CDocument::RemoveView(CScrollView* view) { m_views.removeAll(view); }

void CDocument::UpdateAllViews(CScrollView* sender) {
    for (CScrollView* view : m_views) {
        if (view != sender) view->OnUpdate(sender);
    }
}
