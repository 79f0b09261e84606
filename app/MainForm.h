#pragma once

#include "mailcheck/CheckSchedule.h"
#include "mailcheck/IntervalTrigger.h"
#include "mailcheck/CheckRun.h"
#include "mailcheck/QuietNews.h"
#include "platform/FormSlot.h"
#include "settings/Settings.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class DesktopNotifier;
class EventScene;
class GekitaiForm;
class HELPForm;
class HistoryForm;
class IdPassForm;
class MainFormCheckWindows;
class MsgForm;
class NetworkWatch;
class OptionForm;
class PageView;
class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class SetForm;
class SleepWatch;
class SoundCommands;
class StatusNotifierItem;
class TrayIcon;

// The main window. Loading it starts the program; closing it runs the orderly shutdown.
// Its buttons and menus lead to every other window. It owns the program's live settings and
// lends them to the windows that edit them; its hidden Text1 shows the mail program.
class MainForm : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    // Buttons of the left column, the scene and the interval display.
    QPushButton* Command1; // "切断", hidden
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QPushButton* Command6;
    QPushButton* Command7;
    QPushButton* Command8;
    QPushButton* Command9;
    QPushButton* Command10;
    QPushButton* Command11;
    QPushButton* Command12;
    QFrame* Picture1;
    PageView* WebBrowser1;
    QCheckBox* Check1;
    QLineEdit* Text7;
    QLabel* Label1;
    QLabel* StatusLabel;              // the outcome of the last check, or how far the running one has come
    QPushButton* CancelSignInCommand; // サインインを中止: over StatusLabel while the browser sign-in waits
    QLineEdit* Text1;                 // hidden: path of the mail program, or "未設定"
    QLineEdit* Text2;                 // hidden: its file title
    QTimer* Timer1;
    QTimer* Timer3;
    QTimer* Timer4;

    QMenu* mfile;
    QAction* mcheck;
    QAction* mspam;
    QAction* mset;
    QAction* mtask;
    QAction* mzenmen;
    QAction* mkaijyo;
    QAction* mend;
    QAction* mhistory;  // 削除履歴
    QLabel* TrialLabel; // shown while trial mode is on, so that nobody forgets it
    QMenu* mnuPopup;
    QAction* mtraycheck;        // メールチェック in the tray pop-up; off while a check runs, as the button
    QAction* mtraycancelsignin; // サインインを中止, there while the browser sign-in waits

    SettingsModel& settings() { return m_settings; }

    // The windows this one opens, each loaded on first use.
    FormSlot<SetForm>& setForm() { return *m_setForm; }
    FormSlot<IdPassForm>& idPassForm() { return *m_idPassForm; }
    FormSlot<OptionForm>& optionForm() { return *m_optionForm; }
    FormSlot<GekitaiForm>& gekitaiForm() { return *m_gekitaiForm; }
    FormSlot<MsgForm>& msgForm() { return *m_msgForm; }
    FormSlot<HELPForm>& helpForm() { return *m_helpForm; }
    FormSlot<HistoryForm>& historyForm() { return *m_historyForm; }

    EventScene& scene() { return *m_scene; }
    SoundCommands& sound() { return *m_sound; }

    // The orderly shutdown: silence the sound, store the mail program, release the mail
    // library, end the program. Runs once, whatever asked for it.
    void Form_Unload();
    // Stores the mail program's path, as the shutdown does (also when the desktop session saves).
    void saveMailProgramChoice();
    // Ends the program at once, storing nothing (the "終了" button and menu item).
    void endAtOnce();

    // Starts one complete mail check, a job that runs while the window goes on; ignored while one
    // is already running. checkEnded() follows when it is over.
    void CheckMailbox();
    bool isChecking() const { return m_checking; }
    // How the checks reach the server (tests trust their own server's certificate here).
    void setMailOptions(const Pop3Options& options) { m_mailOptions = options; }
    const CheckOutcome& lastCheck() const { return m_lastCheck; }
    // What the tray icon's tip says: when the window went there, and what the last check found.
    QString trayTip() const;
    // Shows text where the user looks (under the picture, and in the tray icon's tip); details
    // when the pointer rests on it.
    void showCheckStatus(const QString& text, const QString& details);
    const IntervalTrigger& trigger() const { return m_schedule.trigger(); }
    // When timed checks run; tests give it their own clock.
    CheckSchedule& schedule() { return m_schedule; }
    // What the status line and the tray's tip say when no check runs.
    QString statusLine() const;

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    // The picture, with an account's own sound or the usual one.
    void startEventScene(const QString& sound);
    void Command6_Click();
    void Command7_Click();
    void Command8_Click();
    void Command9_Click();
    void Command10_Click();
    void Command11_Click();
    void Command12_Click();
    void Timer1_Timer();
    void Timer3_Timer();
    void Timer4_Timer();
    void mzenmen_Click();
    void mkaijyo_Click();
    void TrayControl1_IconEvent(int code);
    void mnu_Popup_Click(int index);
    TrayIcon* TrayControl1() const { return m_tray; }

Q_SIGNALS:
    void checkEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void mailProgramChosen(const QString& chosen); // the answer of 「メーラー設定」's dialog
    void buildLayout();
    void buildMenus();
    void connectHandlers();
    void Form_Load();
    void setTimer3Interval(int milliseconds);
    void settingChanged(SettingKey key);
    void applyInterval();
    void reportFileProblem(const QString& error);
    template <class Form> void showOverSettings(FormSlot<Form>& slot);
    void showHistory();
    void checkFinished(const CheckOutcome& outcome);
    void setChecking(bool checking);
    void abortCheck();
    void showSignInWaiting(bool waiting);
    void cancelSignIn();

    SettingsModel m_settings; // outlives the windows that edit it
    std::unique_ptr<SoundCommands> m_sound;
    std::unique_ptr<EventScene> m_scene;
    std::unique_ptr<FormSlot<SetForm>> m_setForm;
    std::unique_ptr<FormSlot<IdPassForm>> m_idPassForm;
    std::unique_ptr<FormSlot<OptionForm>> m_optionForm;
    std::unique_ptr<FormSlot<GekitaiForm>> m_gekitaiForm;
    std::unique_ptr<FormSlot<MsgForm>> m_msgForm;
    std::unique_ptr<FormSlot<HELPForm>> m_helpForm;
    std::unique_ptr<FormSlot<HistoryForm>> m_historyForm;
    TrayIcon* m_tray = nullptr;          // the tray the window went to last
    StatusNotifierItem* m_sni = nullptr; // made on the first way to the tray; follows the desktop's host
    TrayIcon* m_qtTray = nullptr;        // Qt's own, where the desktop has no StatusNotifierItem host
    bool m_trayAsked = false;            // going to the tray waits for the bus to say which tray there is
    bool m_trayRefused = false;          // the user asked and there was no tray: use one that comes
    QPointer<QObject> m_clickedBox;      // the middle click's "Clicked!", while it is open
    QString m_commonDialogFileName;      // the open-file dialog remembers its last file for the run
    bool m_unloaded = false;
    bool m_checking = false;
    CheckSchedule m_schedule;
    void updateTrayTip();
    void trayAvailabilityChanged(bool available);
    TrayIcon* qtTray();

    CheckOutcome m_lastCheck;
    std::unique_ptr<MainFormCheckWindows> m_checkWindows;
    std::unique_ptr<CheckRun> m_check;
    QList<CheckRun::AccountOutcome> m_lastAccounts; // each account's part of the last check
    bool m_timedCheck = false;   // the check being started comes from the interval
    bool m_checkIsTimed = false; // the running check came from the interval
    QString m_trayDate;          // when the window went to the tray
    Pop3Options m_mailOptions;

    // Watching: the network, sleep, quiet hours, repeated failures, the desktop's notification.
    friend class MainFormCheckWindows;
    void startWatching();
    void networkChanged();
    void showLastCheck();
    bool quietNow() const;
    bool mayAnnounce(int newMail);
    bool failureToTell(const QString& accountKey, CheckOutcome::Kind kind);
    void releaseQuietNews();
    void announceQuietNews(const QuietNews::Summary& summary);
    void tellDesktop(const QString& summary, const QList<CheckOutcome::NewMessage>& newest);
    void startMailProgram();
    NetworkWatch* m_network = nullptr;
    SleepWatch* m_sleep = nullptr;
    DesktopNotifier* m_notifier = nullptr;
    RepeatedFailures m_failures;
    QuietNews m_quietNews;
    int m_heldNews = 0;      // the running check's news, held back for quiet hours
    int m_announcedNews = 0; // the running check's news, announced
};
