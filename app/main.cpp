#include "app/MainForm.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"
#include "oauth/DesktopBrowser.h"
#include "platform/DesktopNotice.h"
#include "platform/WindowPlacement.h"
#include "settings/ProgramFolder.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
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
