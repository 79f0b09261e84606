#pragma once

#include <QString>

class QWidget;

// The open-file dialog, behind a seam a test can answer ahead of time.
class FileDialog
{
public:
    // The chosen file's full path, or a null text when the user cancels. No filter, no title. The
    // dialog starts at startPath(startFile).
    static QString getOpenFileName(QWidget* parent, const QString& startFile);
    // Where the dialog starts: startFile, selected in its folder, when that folder exists; else
    // "/usr/bin", where the programs are; else the user's home folder.
    static QString startPath(const QString& startFile);
    // Test seam: the next dialog is answered with fileName (a null text means Cancel).
    static void setNextFileName(const QString& fileName);
};
