#include "skins/SkinCommandLine.h"

#include "data/UException.h"
#include "skins/SkinLook.h"
#include "skins/SkinSettings.h"
#include "skins/Skins.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QWidget>
#include <cstdio>

namespace {
const QString kSkin = "--skin";

TSkinTrialWindows& TrialWindows()
{
    static TSkinTrialWindows make;
    return make;
}

// Refuses a name no skin has and a user's skin that cannot be used.
void CheckSkin(const QString& name)
{
    const TSkin skin = SkinNamed(name);
    if (skin.IsUserSkin())
        ReadSkinSheet(skin);
}

// The check 外观 makes of a skin before it is kept, on the program's
// windows and that dialog drawn off the screen: a sheet Qt cannot parse, or
// one that leaves a button or label too small for its text, is refused here
// as there.
void CheckSkinShown(const QString& name)
{
    if (!SkinNamed(name).IsUserSkin())
        return;
    // What the screenless platform says of the windows is no news to the user.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type != QtWarningMsg && type != QtDebugMsg && type != QtInfoMsg)
                std::fprintf(stderr, "%s\n", qPrintable(message));
        });
    const auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    std::vector<std::unique_ptr<QWidget>> windows;
    if (TrialWindows())
        windows = TrialWindows()();
    windows.push_back(std::make_unique<TFormSkinSettings>());
    for (const std::unique_ptr<QWidget>& window : windows)
        window->show();
    QCoreApplication::processEvents(); // laid out as shown windows are
    ApplySkin(name);
}
} // namespace

void SetSkinTrialWindows(TSkinTrialWindows make)
{
    TrialWindows() = std::move(make);
}

std::optional<TSkinCommand> ParseSkinCommand(const QStringList& arguments)
{
    if (!arguments.contains(kSkin))
        return std::nullopt;
    if (arguments.size() != 2 || arguments[0] != kSkin)
        return TSkinCommand{};
    return TSkinCommand{true, arguments[1]};
}

TCommandLineRun SkinCommandLine(const QStringList& arguments)
{
    const TSkinCommand command = ParseSkinCommand(arguments).value_or(TSkinCommand{});
    if (!command.Ok)
        return TCommandLineRun::WrongArguments();
    try {
        CheckSkin(command.Name);
    } catch (const EError& e) {
        return TCommandLineRun::RefusedWith(e.Message());
    }
    return TCommandLineRun::OnData(
        [name = command.Name] {
            CheckSkinShown(name);
            SaveSkinChoice(name);
            return QString("皮肤已设为“%1”，程序下次启动时使用。").arg(SkinNamed(name).Name);
        },
        [](const std::exception& e) { return "皮肤没有设置：" + ErrorText(e); }, {"skin", command.Name});
}
