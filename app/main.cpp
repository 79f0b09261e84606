#include "app/MainForm.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"
#include "oauth/DesktopBrowser.h"
#include "platform/DesktopNotice.h"
#include "platform/WindowPlacement.h"
#include "settings/ProgramFolder.h"

#include "MossvaleVersion.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {
const char* const helpEnglish =
    "Usage: mossvale [--help | --version] [Qt options such as -platform xcb]\n"
    "Watches a POP3 mailbox, deletes spam on the server by your keywords and announces new mail.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "An installed copy keeps its settings and data in $XDG_DATA_HOME/Mossvale (~/.local/share/Mossvale);\n"
    "a copy of the program folder keeps them beside itself, in \xe2\x98\x85MailData/. See mossvale(1).\n";
const char* const helpJapanese =
    "使い方: mossvale [--help | --version] [Qt のオプション（-platform xcb など）]\n"
    "POP3 メールボックスを見張り、迷惑メールをキーワードで削除して新着メールをお知らせします。\n"
    "\n"
    "  -h, --help     この説明を表示して終了します\n"
    "      --version  バージョンを表示して終了します\n"
    "\n"
    "インストールしたものは設定とデータを $XDG_DATA_HOME/Mossvale（~/.local/share/Mossvale）に、\n"
    "プログラムのフォルダーをコピーしたものはその中の ★MailData/ に保存します。mossvale(1) を参照。\n";

bool japaneseMessages()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return std::strncmp(value, "ja", 2) == 0;
    }
    return false;
}

// --help and --version are answered here, before Qt is asked for a display, so that they work on
// a console, over ssh and in a package's build. Every other argument is Qt's.
std::optional<int> answerCommandLine(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("mossvale " MOSSVALE_VERSION "\n", stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(japaneseMessages() ? helpJapanese : helpEnglish, stdout);
            return 0;
        }
    }
    return std::nullopt;
}
} // namespace

int main(int argc, char* argv[])
{
    if (const std::optional<int> status = answerCommandLine(argc, argv))
        return *status;
    // X11 first, through Xwayland on a Wayland desktop: only there can the notice board stay on top.
    preferX11Platform(argc, argv);
    QApplication app(argc, argv);
    forgetPlatformChoice();
    QApplication::setApplicationName(QStringLiteral("Mossvale"));
    // The windows speak Japanese, and so must Qt's own buttons, file dialog and context menus. A
    // missing catalogue leaves them in English, which is all it costs.
    installQtJapanese();
    // The small size is drawn on its own, so that it still reads in a title bar or the tray.
    QIcon icon(QStringLiteral(":/mossvale-32.png"));
    icon.addFile(QStringLiteral(":/mossvale.png"));
    QApplication::setWindowIcon(icon);
    // Sign-in pages open in the desktop's own browser (xdg-open, or $BROWSER where it is missing).
    useDesktopBrowserForSignIn();
    // The main window hides in the tray and other windows come and go: only the shutdown
    // steps end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start on the same folder brings the running program to the front and ends. The data
    // folder comes first: the lock lives in it, and a first start holds it as every later one does.
    ensureDataFolder();
    SingleInstance instance(Paths::dataFolder());
    const SingleInstance::Start start = instance.acquire();
    if (start == SingleInstance::Start::AnotherHolds)
        return runAsSecondStart(instance);

    MainForm mainForm;
    QObject::connect(&instance, &SingleInstance::showRequested, &mainForm, [&mainForm] {
        mainForm.mnu_Popup_Click(0);
        bringForward(&mainForm);
    });
    explainKeepAboveOnWayland(mainForm.mzenmen, &mainForm);
    SignalBridge signalBridge;
    QObject::connect(&signalBridge, &SignalBridge::terminationRequested, &mainForm, &MainForm::close);
    // The desktop session saves its state (also before logging out): store what the shutdown
    // would store; the end itself comes as a close or a signal.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &mainForm,
                     [&mainForm] { mainForm.saveMailProgramChoice(); });
    mainForm.show();
    if (start == SingleInstance::Start::HolderDeaf)
        tellDeafInstance(instance, &mainForm);
    return app.exec();
}
