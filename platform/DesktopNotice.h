#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class QAction;
class QWidget;

// Loads Qt's own Japanese catalogue (qtbase) from Qt's translations folder, so that standard
// buttons, the file dialog and text-box context menus speak the program's language. False when
// the catalogue is not installed: Qt's texts then stay in English.
bool installQtJapanese();

// Chooses X11 before Wayland (through Xwayland on a Wayland desktop), where only X11 lets the notice board and
// 「常に前面表示」 keep a window above the others, and Wayland where no X server answers. Leaves a choice the user made
// (QT_QPA_PLATFORM, -platform) alone. Call before the application object is made, and forgetPlatformChoice() after
// it, so that the programs it starts (the mail program) choose their own.
void preferX11Platform(int argc, char* argv[]);
void forgetPlatformChoice();

// One message named in a notification.
struct NoticeLine
{
    QString sender;
    QString subject;
};

// A notification as it goes to the desktop's service.
struct DesktopNotification
{
    QString summary;
    QString body;
    QStringList actions; // key, label, key, label ...
};

// The notification for summary and lines, as the service's capabilities allow: one line per
// message, "sender: subject", each text cut to a bound and stripped of control characters; escaped
// where the service reads markup ("body-markup"), plain otherwise, and none where it shows no body.
// The actions only where it has "actions": the default one (bring the main window), and
// 「メーラーを起動」 when offerMailProgram.
DesktopNotification composeNotification(const QString& summary, const QList<NoticeLine>& lines,
                                        const QStringList& capabilities, bool offerMailProgram);

// The window system cannot keep a window above the others (Wayland): a notice board may go unseen.
bool noticesHide();

// The program's one notification on the desktop's notification service: each one replaces the one
// sent before, with the program's icon and desktop entry. Never waits for the service: it asks for
// the capabilities once, one call is in flight at most (given up after ReplyTimeoutMs), and only
// the newest news waits for it.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReplyTimeoutMs = 5000;

    explicit DesktopNotifier(QObject* parent = nullptr);
    // The picture shown with each notification, by its path: "HTML/icon.png" beside the executable
    // unless set; where the file is missing, the installed icon "mossvale" by its name.
    void setIconFile(const QString& file);
    // False when there is no session bus to send it on.
    bool send(const QString& summary, const QList<NoticeLine>& lines, bool offerMailProgram);

Q_SIGNALS:
    void openRequested();        // the notification itself was clicked
    void mailProgramRequested(); // 「メーラーを起動」

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& key);

private:
    struct Request
    {
        QString summary;
        QList<NoticeLine> lines;
        bool offerMailProgram = false;
    };
    void askCapabilities();
    void call(const Request& request);
    void callDone();

    QString m_iconFile;
    uint m_lastId = 0;
    bool m_inFlight = false;
    std::optional<QStringList> m_capabilities;
    std::optional<Request> m_waiting;
};

// On Wayland the first use of keepAbove in a run explains, over window, that it cannot work there
// and how to get it. Does nothing elsewhere.
void explainKeepAboveOnWayland(QAction* keepAbove, QWidget* window);
