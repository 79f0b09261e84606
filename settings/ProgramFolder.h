#pragma once

#include <QString>

// The folder of the executable, where every settings and data file of the program lives.
// Tests point it at a temporary folder with setProgramFolder.
QString programFolder();
void setProgramFolder(const QString& folder);

// Where the settings and the keyword list live: the program folder itself, as the program has
// always kept them, unless the folder was installed (a package or `make install`) or cannot be
// written; then a folder of the user's own, "Mossvale" in the user's data folder ($XDG_DATA_HOME,
// ~/.local/share). An installed folder never holds data, even for root, who can write anywhere.
QString settingsFolder();
bool settingsBesideProgram();

// The file the install step writes into an installed program folder. Its first line names the
// command that starts the program (the link in the install's bin folder).
inline constexpr char16_t InstalledMarkerName[] = u"installed.txt";
bool installedCopy();
// The path that starts this program from the desktop: the installed command while it still
// leads to this program folder, else the executable itself.
QString programCommand();

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
