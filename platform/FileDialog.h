#pragma once

#include <QString>
#include <functional>

class QWidget;

// The open-file dialog, behind a seam a test can answer ahead of time.
class FileDialog
{
public:
    // Opens the dialog, window-modal over parent, and returns at once; chosen runs once, later, with
    // the chosen file's full path, or a null text when the user cancels (or nobody can see the
    // dialog). No filter, no title. The dialog starts at startPath(startFile).
    static void open(QWidget* parent, const QString& startFile, std::function<void(const QString&)> chosen);
    // Where the dialog starts: startFile, selected in its folder, when that folder exists; else
    // "/usr/bin", where the programs are; else the user's home folder.
    static QString startPath(const QString& startFile);
    // Test seam: the next dialog is answered with fileName (a null text means Cancel).
    static void setNextFileName(const QString& fileName);
};
