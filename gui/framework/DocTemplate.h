// Binds a document class, a child frame class and a view class: opens files into documents and gives
// every opened document a child frame with one view.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class CChildFrame;
class CDocument;
class CScrollView;
class QMdiArea;

class CDocTemplate : public QObject {
    Q_OBJECT
public:
    using DocumentFactory = std::function<std::unique_ptr<CDocument>()>;
    using FrameFactory = std::function<CChildFrame*()>;
    using ViewFactory = std::function<CScrollView*(CDocument*)>;

    // Parts of the description string, separated by '\n'.
    enum DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };

    CDocTemplate(int resourceId, const QString& docString, DocumentFactory document, FrameFactory frame,
                 ViewFactory view);
    ~CDocTemplate() override;

    int ResourceId() const { return m_resourceId; }
    QString GetDocString(DocStringIndex index) const;
    void SetViewFactory(ViewFactory view) { m_viewFactory = std::move(view); }

    // Where the child frames go.
    void SetMdiArea(QMdiArea* area) { m_mdiArea = area; }

    // Opens path in a new document with its window; an empty path makes a new, empty document. A file
    // that is already open only activates its window. Null when the document's open check failed: then
    // no window is made.
    CDocument* OpenDocumentFile(const QString& path);
    // The open document of path, or null.
    CDocument* FindDocument(const QString& path) const;

    QList<CDocument*> GetDocuments() const;
    // Closes the document's windows; the document goes with its last window.
    void CloseDocument(CDocument* document);
    void CloseAllDocuments();

signals:
    // A document was opened or closed.
    void documentsChanged();

private:
    void OnFrameDestroyed(CChildFrame* frame, CDocument* document);

    int m_resourceId;
    QStringList m_docStrings;
    DocumentFactory m_documentFactory;
    FrameFactory m_frameFactory;
    ViewFactory m_viewFactory;
    QMdiArea* m_mdiArea = nullptr;
    std::vector<std::unique_ptr<CDocument>> m_documents;
    int m_untitledCount = 0;
};
