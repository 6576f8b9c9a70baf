#include "skins/SkinCommandLine.h"

#include "app/Backup.h"
#include "app/SingleInstance.h"
#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "skins/Skins.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
const QString kSkin = "--skin";

void Print(std::FILE* to, const QString& text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
    std::fflush(to);
}

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
        Print(stderr, "用法：jotterel --skin 名字");
        return 1;
    }
    try {
        CheckSkin(command.Name);
    } catch (const EError& e) {
        Print(stderr, e.Message());
        return 1;
    }
    TSingleInstance instance(AppPath());
    if (!instance.Claim()) {
        Print(stderr, "程序正在运行，请在它的“软件设置 → 外观”中选择皮肤。\n" + instance.FailureText());
        return 2;
    }
    DbAccess = new TDbAccess;
    int status = 0;
    try {
        DbAccess->Connect();
        RemoveRestoreLeftovers();
        SaveSkinChoice(command.Name);
        Print(stdout, QString("皮肤已设为“%1”，程序下次启动时使用。").arg(SkinNamed(command.Name).Name));
    } catch (const EError& e) {
        const auto* db = dynamic_cast<const EDBException*>(&e);
        Print(stderr, "皮肤没有设置：" + (db ? db->UserMessage + "\n" + db->Message() : e.Message()));
        status = 1;
    }
    delete DbAccess;
    DbAccess = nullptr;
    return status;
}
