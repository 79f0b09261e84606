#pragma once

#include <QString>

// The folder of the executable, where every settings and data file of the program lives.
// Tests point it at a temporary folder with setProgramFolder.
QString programFolder();
void setProgramFolder(const QString& folder);

// Where the settings and the keyword list live: the program folder itself, as the program has
// always kept them, unless that folder cannot be written (an installation in a system folder);
// then a folder of the user's own, "Mossvale" in the user's data folder (~/.local/share).
QString settingsFolder();
bool settingsBesideProgram();

// Every file of the program, built from the program folder or the settings folder. Names the old program spelled in
// more than one letter case ("★MAilData", "tlxdata50.data") map to one name each here, because
// this file system tells case apart.
namespace Paths {
QString dataFolder();          // "★MailData"
QString serverSettingsFile();  // "tolvex.ini"
QString generalSettingsFile(); // "★MailData/ini.ini"
QString accountFile();         // "★MailData/iniIdPass.ini"
QString keywordDataFile();     // "★MailData/Tlxdata50.data"
QString keywordTempFile();     // "★MailData/TLXDATA50.TMP"
QString restingPage();         // "画像データ/subako.html"
QString eventPicture();        // "画像データ/Bom.bmp"
QString effectSound();         // "Sound/Kouka.wav"
QString helpPage();            // "HTML/1.htm"
QString htmlFolder();          // "HTML"
// "file://" followed by the full path, as the page view is told to navigate.
QString fileAddress(const QString& path);
} // namespace Paths

// Creates the data folder (and a separate settings folder) when it is missing. Empty text on
// success, else the reason. *created tells whether this run had to make it.
QString ensureDataFolder(bool* created = nullptr);
