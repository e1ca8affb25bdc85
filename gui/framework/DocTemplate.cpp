#include "framework/DocTemplate.h"

#include <QFileInfo>
#include <QMdiArea>

#include "framework/ChildFrame.h"
#include "framework/Document.h"
#include "framework/ScrollView.h"

namespace {

// Two spellings of one file name the same document.
QString ComparablePath(const QString& path) {
    QFileInfo info(path);
    QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

}  // namespace

CDocTemplate::CDocTemplate(int resourceId, const QString& docString, DocumentFactory document, FrameFactory frame,
                           ViewFactory view)
    : m_resourceId(resourceId),
      m_docStrings(docString.split(QLatin1Char('\n'))),
      m_documentFactory(std::move(document)),
      m_frameFactory(std::move(frame)),
      m_viewFactory(std::move(view)) {}

CDocTemplate::~CDocTemplate() { CloseAllDocuments(); }

QString CDocTemplate::GetDocString(DocStringIndex index) const {
    return index < m_docStrings.size() ? m_docStrings[index] : QString();
}

CDocument* CDocTemplate::FindDocument(const QString& path) const {
    if (path.isEmpty()) return nullptr;
    QString wanted = ComparablePath(path);
    for (const auto& doc : m_documents) {
        if (!doc->GetPathName().isEmpty() && ComparablePath(doc->GetPathName()) == wanted) return doc.get();
    }
    return nullptr;
}

CDocument* CDocTemplate::OpenDocumentFile(const QString& path) {
    if (!m_documentFactory || !m_frameFactory || !m_viewFactory || !m_mdiArea) return nullptr;

    if (CDocument* open = FindDocument(path)) {
        const QList<CScrollView*>& views = open->GetViews();
        if (!views.isEmpty()) {
            if (CChildFrame* frame = views.first()->GetParentFrame()) m_mdiArea->setActiveSubWindow(frame);
        }
        return open;
    }

    std::unique_ptr<CDocument> doc = m_documentFactory();
    if (!doc) return nullptr;
    doc->SetDocTemplate(this);
    if (path.isEmpty()) {
        if (!doc->OnNewDocument()) return nullptr;
        doc->SetTitle(GetDocString(fileNewName) + QString::number(++m_untitledCount));
    } else {
        // A document whose check fails is discarded before any window is made for it.
        if (!doc->OnOpenDocument(path)) return nullptr;
        doc->SetPathName(path);
    }

    CDocument* document = doc.get();
    m_documents.push_back(std::move(doc));

    CChildFrame* frame = m_frameFactory();
    CScrollView* view = m_viewFactory(document);
    frame->SetView(view);
    frame->setWindowTitle(document->GetTitle());
    frame->onDestroyed = [this, document](CChildFrame* f) { OnFrameDestroyed(f, document); };
    m_mdiArea->addSubWindow(frame);
    frame->show();
    m_mdiArea->setActiveSubWindow(frame);
    view->OnInitialUpdate();
    emit documentsChanged();
    return document;
}

QList<CDocument*> CDocTemplate::GetDocuments() const {
    QList<CDocument*> list;
    for (const auto& doc : m_documents) list.append(doc.get());
    return list;
}

void CDocTemplate::CloseDocument(CDocument* document) {
    if (!document) return;
    QList<CChildFrame*> frames;
    for (CScrollView* view : document->GetViews()) {
        if (CChildFrame* frame = view->GetParentFrame()) frames.append(frame);
    }
    // Deleting the last frame deletes the document (OnFrameDestroyed).
    for (CChildFrame* frame : frames) delete frame;
    // A document that had no window at all.
    for (auto it = m_documents.begin(); it != m_documents.end(); ++it) {
        if (it->get() == document) {
            m_documents.erase(it);
            emit documentsChanged();
            break;
        }
    }
}

void CDocTemplate::CloseAllDocuments() {
    while (!m_documents.empty()) CloseDocument(m_documents.back().get());
}

void CDocTemplate::OnFrameDestroyed(CChildFrame*, CDocument* document) {
    if (!document->GetViews().isEmpty()) return;
    for (auto it = m_documents.begin(); it != m_documents.end(); ++it) {
        if (it->get() == document) {
            m_documents.erase(it);
            emit documentsChanged();
            return;
        }
    }
}
