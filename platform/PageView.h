#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QStackedWidget;
class LocalPageBrowser;

// Shows the page or picture at a "file://" address: an HTML page with the pictures it names, or a
// picture file (BMP, PNG, ...) on its own, centred. It reads local files only and never touches the
// network; an address it cannot show gives a plain "not found" page, never a message box.
class PageView : public QWidget
{
    Q_OBJECT
public:
    enum class Mode { Page, Picture, NotFound };

    explicit PageView(QWidget* parent = nullptr);

    // Shows what the address names; the address is "file://" followed directly by a full path.
    void navigate(const QString& address);
    QString address() const { return m_address; }
    Mode mode() const { return m_mode; }
    // The text of the page shown (empty for a picture), for tests and accessibility.
    QString pageText() const;

private:
    void showPage(const QString& path);
    void showPicture(const QString& path);
    void showNotFound();

    QStackedWidget* m_stack = nullptr;
    LocalPageBrowser* m_browser = nullptr;
    QLabel* m_picture = nullptr;
    QString m_address;
    Mode m_mode = Mode::NotFound;
};
