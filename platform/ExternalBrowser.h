#pragma once

#include <QString>
#include <functional>

class QUrl;

// Opens a local page in the user's own web browser, without waiting for it. False when no
// browser could be started.
bool openInBrowser(const QString& path);

// Test seam: pages go to opener instead of a browser until reset with an empty function.
void setBrowserOpener(std::function<bool(const QUrl&)> opener);
