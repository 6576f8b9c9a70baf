#include "app/Main.h"
#include "app/Backup.h"
#include "app/CardApplication.h"
#include "app/CommandLine.h"
#include "app/EndSignals.h"
#include "app/SingleInstance.h"
#include "capture/CaptureCommandLine.h"
#include "controls/BringToFront.h"
#include "controls/UiException.h"
#include "controls/UiPublic.h"
#include "data/Formats.h"
#include "data/MD.h"
#include "history/Trash.h"
#include "skins/SkinCommandLine.h"
#include "skins/SkinLook.h"

#include <QPointer>
#include <cstdio>

namespace {

// What a second start does: bring the running one to the front, or, when the
// data directory is held by an instance that does not answer, say so (on
// stderr for a terminal, in a box for a start from the menu) and keep away
// from the database. A `--toggle` or `--search` the running one could not
// carry out ends with status 1 and the reason, as the other commands handed
// to it do.
int EndSecondStart(const TSingleInstance& instance, TSingleInstance::TStart start)
{
    if (start == TSingleInstance::TStart::Handed)
        return 0;
    std::fprintf(stderr, "%s\n", instance.FailureText().toLocal8Bit().constData());
    if (start == TSingleInstance::TStart::Refused)
        return 1;
    ShowError(instance.FailureText());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Chinese dates, weekdays and sizes on any system locale, also for the
    // commands of the command line (the window's application object does
    // the same).
    QLocale::setDefault(ProgramLocale());
    // Deletes keep what they take in the trash, from the command line too.
    InstallDeleteKeeper(std::make_unique<TTrash>());
    // The commands of the command line need no display; a skin is tried on
    // the main window's form drawn off the screen.
    SetSkinTrialWindows([] {
        std::vector<std::unique_ptr<QWidget>> windows;
        windows.push_back(MainWindowForm());
        return windows;
    });
    if (const int status = RunCommandLine(argc, argv); status >= 0)
        return status;
    TCardApplication app(argc, argv);
    app.setApplicationName("Jotterel");
    app.setDesktopFileName("io.github.jotterel.Jotterel");
    app.LoadTranslations();
    // `--toggle` and `--search` ask the running window; without one, this
    // start's window does the same once it stands.
    const QStringList windowCommand = ParseWindowCommand(app.arguments().mid(1));
    if (windowCommand == QStringList{"?"}) {
        PrintLine(stderr, "用法：jotterel --toggle\n      jotterel --search 文字");
        return 1;
    }
    // Decided before the database is opened: two instances must never write the same file.
    TSingleInstance instance(AppPath());
    instance.HandOverInstead(windowCommand);
    const TSingleInstance::TStart start =
        instance.Start(TSingleInstance::DefaultAnswerTimeoutMs, TSingleInstance::TListening::Later);
    if (start != TSingleInstance::TStart::Run)
        return EndSecondStart(instance, start);
    QPointer<QWidget> mainWindow;
    QObject::connect(&instance, &TSingleInstance::ShowRequested, [&mainWindow] { BringToFront(mainWindow); });

    if (!DbAccess)
        DbAccess = new TDbAccess;
    int status = 1;
    bool cleanExit = false;
    if (ConnectDatabase()) {
        instance.LockDataFile(); // a first start has just made it
        ApplyStoredSkin();
        TFormMain formMain;
        mainWindow = &formMain;
        // A copy waiting for the user before its window stands (at the login,
        // say) answers a later start by bringing that dialog to the front.
        QObject::connect(&formMain, &TFormMain::WaitingForUser, &instance, [&instance] { instance.Listen(); });
        // A signal, or the end of the desktop session, ends it as 关闭 does;
        // the session manager first asks for what is unsaved.
        EndOnSignals(&formMain, [&formMain] { formMain.EndAsClosed(); });
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &formMain,
                         [&formMain] { formMain.SaveForTheSessionEnd(); });
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &formMain, [&formMain] { formMain.EndAsClosed(); });
        formMain.show();
        if (formMain.TerminateRequested()) {
            status = formMain.ExitCode();
        } else {
            formMain.WatchIntegrity();
            // A restore needs the window: its leftovers may wait for it.
            formMain.AfterFirstPaint([&instance, windowCommand] {
                instance.Listen();
                RemoveRestoreLeftovers();
                if (windowCommand.value(0) == "search")
                    RunningCommands().value("search")(windowCommand.mid(1));
            });
            status = app.exec();
            cleanExit = status == 0;
        }
    }
    // After the window's last save: the next start may trust the file as it is now.
    if (cleanExit)
        DbAccess->RecordCleanExit();
    try {
        delete DbAccess;
    } catch (...) {
    }
    DbAccess = nullptr;
    return status;
}
