// mossvale-demo-shot PROGRAM_FOLDER OUTPUT_FOLDER [MAILDIR]
// mossvale-demo-shot --notice-board COUNT OUTPUT.png
// mossvale-demo-shot --windows FACE OUTPUT_PREFIX
//
// The first form builds the real main window on PROGRAM_FOLDER, presses "メールチェック" once, saves the main window
// and the notice board as OUTPUT_FOLDER/main-window.png and OUTPUT_FOLDER/notice-board.png, prints
// what the check deleted and, given the server's MAILDIR, the messages left in it. Meant for the
// offscreen platform, where nobody could press the button; the program itself takes no options.
// The second saves the notice board showing COUNT, for tests that compare the board on screen.
// The third, on a real display (Xvfb with a window manager), shows the windows in the design face FACE
// on a temporary program folder with a short deletion history and saves the whole screen three times:
// 「設定」 with 「その他の設定」, 「削除履歴」, and 「削除履歴」's question with the notice board open, as
// OUTPUT_PREFIX-settings.png, -history.png and -question.png.
// Exit status: 0 when the check went through (or the board was saved), 1 when it did not, 2 on wrong usage.
#include "app/MainForm.h"
#include "mailcheck/DeletionHistory.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MsgForm.h"
#include "maillib/HeaderDecoder.h"
#include "oauth/DesktopBrowser.h"
#include "platform/DesignFont.h"
#include "platform/DesktopNotice.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/MoreOptionsForm.h"
#include "settings/ProgramFolder.h"
#include "settings/SetForm.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>

namespace {
QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Lets the windows lay out and paint before they are grabbed.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget* window, const QString& path)
{
    const bool saved = window->grab().save(path);
    out() << (saved ? "  saved " : "  could not save ") << QDir::toNativeSeparators(path) << "\n";
    return saved;
}

// Maildir files in delivery order: new/ and cur/ (Dovecot moves what a session has seen to cur/).
QStringList maildirFiles(const QString& maildir)
{
    QStringList files;
    for (const char* sub : {"new", "cur"}) {
        const QDir dir(maildir + u'/' + QLatin1String(sub));
        for (const QString& name : dir.entryList(QDir::Files))
            files.append(dir.filePath(name));
    }
    std::sort(files.begin(), files.end(),
              [](const QString& a, const QString& b) { return QFileInfo(a).fileName() < QFileInfo(b).fileName(); });
    return files;
}

void listMaildir(const QString& maildir)
{
    const QStringList files = maildirFiles(maildir);
    out() << "Left on the server (" << files.size() << "):\n";
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray message = file.readAll();
        const int end = message.indexOf("\r\n\r\n");
        const MessageHeaders headers = HeaderDecoder::decode(end < 0 ? message : message.left(end + 2));
        out() << "  + " << headers.subject << "  (" << headers.sender << ")\n";
    }
}

void printCheck(const CheckOutcome& result)
{
    out() << result.details() << "\n";
    out() << "Checked the mailbox: " << result.messages << " messages, " << result.deleted << " deleted as spam, "
          << result.remaining() << " left.\n";
    out() << "Deleted on the server (" << result.deletedSubjects.size() << "):\n";
    for (const QString& subject : result.deletedSubjects)
        out() << "  - " << subject << "\n";
    for (const MessageBox::Shown& box : MessageBox::shown())
        out() << "The program said: [" << box.caption << "] " << box.text << "\n";
}
// The notice board as the check shows it, with count as its number.
int saveNoticeBoard(const QString& count, const QString& path)
{
    MsgForm notice;
    notice.Text2->setText(count);
    settle(200);
    return notice.grab().save(path) ? 0 : 1;
}

bool saveScreen(const QString& path)
{
    settle(700);
    const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
    out() << (saved ? "  saved " : "  could not save ") << path << "\n";
    return saved;
}

void saveStatusTip(MainForm& form, const QString& path)
{
    QToolTip::showText(form.StatusLabel->mapToGlobal(QPoint(0, form.StatusLabel->height())),
                       form.StatusLabel->toolTip(), form.StatusLabel);
    settle(300);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible())
            save(widget, path);
    }
}

int saveWindows(const QString& face, const QString& prefix)
{
    designFamilies() = {face};
    QTemporaryDir folder;
    setProgramFolder(folder.path());
    QDir(folder.path()).mkdir(QStringLiteral("★MailData"));
    const QDateTime now = QDateTime::currentDateTime();
    DeletionHistory::append(
        {{now.addDays(-1), false, "", -1, QStringLiteral("激安"), QStringLiteral("激安ショップ <sale@shop.example>"),
          QStringLiteral("【本日限り】激安ブランド品のご案内")},
         {now.addSecs(-3600), true, "", -1, QStringLiteral("casino"),
          QStringLiteral("Lucky Casino <win@casino.example>"), QStringLiteral("You have won a casino bonus")},
         {now, false, "", -1, QStringLiteral("未承諾広告※"), QStringLiteral("広告配信 <info@ad.example>"),
          QStringLiteral("未承諾広告※ 新春キャンペーンのお知らせ")}});
    SettingsModel settings;
    bool saved = true;
    {
        SetForm setForm(settings);
        setForm.show();
        setForm.move(0, 0);
        setForm.Command3->click();
        QWidget* more = setForm.moreOptionsForm().loaded();
        const int screenWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
        more->move(std::min(setForm.frameGeometry().right() + 20, screenWidth - more->frameGeometry().width()), 0);
        saved &= saveScreen(prefix + QStringLiteral("-settings.png"));
    }
    HistoryForm history(settings);
    history.show();
    centreOnScreen(&history);
    saved &= saveScreen(prefix + QStringLiteral("-history.png"));
    MsgForm notice;
    notice.Text2->setText(QStringLiteral("3"));
    settle(300);
    history.List1->setCurrentItem(history.List1->topLevelItem(0));
    history.Command3_Click();
    saved &= saveScreen(prefix + QStringLiteral("-question.png"));
    return saved ? 0 : 1;
}

int usage()
{
    QTextStream(stderr) << "usage: mossvale-demo-shot PROGRAM_FOLDER OUTPUT_FOLDER [MAILDIR]\n"
                           "       mossvale-demo-shot --notice-board COUNT OUTPUT.png\n"
                           "       mossvale-demo-shot --windows FACE OUTPUT_PREFIX\n";
    return 2;
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Mossvale"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/mossvale.png")));
    installQtJapanese();          // as the program does: 「はい」 and 「いいえ」 in its questions
    useDesktopBrowserForSignIn(); // a manual check may sign in, as in the program
    const QStringList args = QApplication::arguments();
    if (args.size() == 4 && args.at(1) == u"--notice-board")
        return saveNoticeBoard(args.at(2), args.at(3));
    if (args.size() == 4 && args.at(1) == u"--windows")
        return saveWindows(args.at(2), args.at(3));
    if (args.size() < 3 || args.size() > 4)
        return usage();
    setProgramFolder(QDir(args.at(1)).absolutePath());
    const QDir output(args.at(2));
    if (const QString face = qEnvironmentVariable("DEMO_SHOT_FACE"); !face.isEmpty())
        designFamilies() = {face};

    MainForm mainForm;
    mainForm.show();
    settle(300);
    {
        // The check is a job: this tool, and only it, waits for its end in a loop of its own.
        QEventLoop loop;
        QObject::connect(&mainForm, &MainForm::checkEnded, &loop, &QEventLoop::quit);
        mainForm.CheckMailbox();
        if (mainForm.isChecking())
            loop.exec();
    }
    settle(500);

    const CheckOutcome& result = mainForm.lastCheck();
    printCheck(result);
    if (args.size() == 4)
        listMaildir(args.at(3));

    out() << "The tray's tip says:\n" << mainForm.trayTip() << "\n";
    out() << "Screenshots:\n";
    save(&mainForm, output.filePath(QStringLiteral("main-window.png")));
    if (result.accountLines.size() > 1) // several accounts: the status line's tip, as the pointer shows it
        saveStatusTip(mainForm, output.filePath(QStringLiteral("status-tip.png")));
    if (MsgForm* notice = mainForm.msgForm().loaded()) {
        out() << "The notice board \"" << notice->windowTitle() << "\" says: " << notice->Text1->text() << " "
              << notice->Text2->text() << "\n";
        save(notice, output.filePath(QStringLiteral("notice-board.png")));
    }
    out().flush();
    return result.kind == CheckOutcome::Kind::Checked ? 0 : 1; // a failed check counts no messages either
}
