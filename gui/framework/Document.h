// The document side of the document/view framework: a path, a title and the views that show it.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

class CDocTemplate;
class CScrollView;

class CDocument : public QObject {
    Q_OBJECT
public:
    CDocument();
    ~CDocument() override;

    // A new, empty document (New); true unless it cannot be made.
    virtual bool OnNewDocument();
    // Opens the file at path for reading and closes it again; a file that cannot be opened is reported
    // with its name and the reason, and gives false. Documents that hold data read it here.
    virtual bool OnOpenDocument(const QString& path);

    const QString& GetPathName() const { return m_strPathName; }
    // Also titles the document with the file's name.
    void SetPathName(const QString& path);
    const QString& GetTitle() const { return m_strTitle; }
    // Sets the title and retitles every frame window of the document at once.
    virtual void SetTitle(const QString& title);

    void AddView(CScrollView* view);
    void RemoveView(CScrollView* view);
    const QList<CScrollView*>& GetViews() const { return m_views; }
    // Every view except sender redraws from the document's current state.
    void UpdateAllViews(CScrollView* sender);

    CDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }
    void SetDocTemplate(CDocTemplate* docTemplate) { m_pDocTemplate = docTemplate; }
    // Nothing in this program is ever edited, so nothing is ever saved.
    bool IsModified() const { return false; }

signals:
    void titleChanged(const QString& title);

private:
    QString m_strPathName;
    QString m_strTitle;
    QList<CScrollView*> m_views;
    CDocTemplate* m_pDocTemplate = nullptr;
};
