#include "skins/SkinCommandLine.h"

#include "data/UException.h"
#include "exchange/CommandLine.h"
#include "skins/Skins.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
const QString kSkin = "--skin";

// Refuses a name no skin has and a user's skin that cannot be used.
void CheckSkin(const QString& name)
{
    const TSkin skin = SkinNamed(name);
    if (skin.IsUserSkin())
        ReadSkinSheet(skin);
}
} // namespace

std::optional<TSkinCommand> ParseSkinCommand(const QStringList& arguments)
{
    if (!arguments.contains(kSkin))
        return std::nullopt;
    if (arguments.size() != 2 || arguments[0] != kSkin)
        return TSkinCommand{};
    return TSkinCommand{true, arguments[1]};
}

int RunSkinCommandLine(int argc, char** argv)
{
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    if (!ParseSkinCommand(raw))
        return -1;
    // No window, so no display is needed.
    QCoreApplication app(argc, argv);
    app.setApplicationName("Jotterel");
    const TSkinCommand command = *ParseSkinCommand(app.arguments().mid(1));
    if (!command.Ok) {
        PrintLine(stderr, "用法：jotterel --skin 名字");
        return 1;
    }
    try {
        CheckSkin(command.Name);
    } catch (const EError& e) {
        PrintLine(stderr, e.Message());
        return 1;
    }
    return RunOnData(
        [&] {
            SaveSkinChoice(command.Name);
            return QString("皮肤已设为“%1”，程序下次启动时使用。").arg(SkinNamed(command.Name).Name);
        },
        [](const std::exception& e) { return "皮肤没有设置：" + ErrorText(e); }, {"skin", command.Name});
}
