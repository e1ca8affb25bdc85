// "About Tessaron": program name, version, build date and the libraries in use.
#pragma once

#include <QDialog>

class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

    // "Qt 6.4.2, FFmpeg 5.1.x, libjpeg-turbo 2.1.5": the versions of the libraries in use.
    static QString LibraryVersions();
};
