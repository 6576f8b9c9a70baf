#include "capture/CaptureCommandLine.h"

#include "capture/Capture.h"
#include "data/MD.h"
#include "data/UException.h"
#include "exchange/CommandLine.h"

#include <QCoreApplication>

namespace {
const QStringList kInvalid{"?"};
const char* const kCaptureUsage = "用法：jotterel --remind \"明天 9:00 开会\"\n"
                                  "      jotterel --note 文字 [--group 分组/子分组]\n"
                                  "      jotterel --bookmark 网址 [--title 标题] [--group 分组/子分组]\n"
                                  "      jotterel --agenda [天数]（1 至 366，默认 7）";
constexpr int kAgendaDays = 7;
constexpr int kMostAgendaDays = 366;

// --agenda and its days, alone.
QStringList ParseAgenda(const QStringList& arguments)
{
    bool ok = arguments.size() == 1;
    int days = kAgendaDays;
    if (arguments.size() == 2)
        days = arguments[1].toInt(&ok);
    if (!ok || arguments[0] != "--agenda" || days < 1 || days > kMostAgendaDays)
        return kInvalid;
    return {"agenda", QString::number(days)};
}

// The value of each option given once, in `values`; false when an option is
// given twice, lacks its value, or an argument is no option of `allowed`.
bool ReadOptions(const QStringList& arguments, const QStringList& allowed, QHash<QString, QString>& values)
{
    for (qsizetype i = 0; i < arguments.size(); i += 2) {
        if (!allowed.contains(arguments[i]) || values.contains(arguments[i]) || i + 1 >= arguments.size())
            return false;
        values.insert(arguments[i], arguments[i + 1]);
    }
    return true;
}
} // namespace

QStringList ParseCaptureCommand(const QStringList& arguments)
{
    const auto has = [&](const char* option) { return arguments.contains(QString(option)); };
    if (has("--agenda"))
        return ParseAgenda(arguments);
    const int kinds = int(has("--remind")) + int(has("--note")) + int(has("--bookmark"));
    if (kinds == 0)
        return {};
    QHash<QString, QString> values;
    if (kinds > 1 || !ReadOptions(arguments, {"--remind", "--note", "--bookmark", "--title", "--group"}, values))
        return kInvalid;
    if (has("--remind"))
        return values.size() == 1 ? QStringList{"remind", values["--remind"]} : kInvalid;
    if (has("--note"))
        return values.contains("--title") ? kInvalid : QStringList{"note", values["--note"], values["--group"]};
    return {"bookmark", values["--bookmark"], values["--title"], values["--group"]};
}

QStringList ParseWindowCommand(const QStringList& arguments)
{
    if (arguments == QStringList{"--toggle"})
        return {"toggle"};
    if (arguments.size() == 2 && arguments[0] == "--search")
        return {"search", arguments[1]};
    return arguments.contains("--toggle") || arguments.contains("--search") ? kInvalid : QStringList();
}

int RunCaptureCommandLine(int argc, char** argv)
{
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    if (ParseCaptureCommand(raw).isEmpty())
        return -1;
    // No window, so no display is needed.
    QCoreApplication app(argc, argv);
    app.setApplicationName("Jotterel");
    const QStringList command = ParseCaptureCommand(app.arguments().mid(1));
    if (command == kInvalid) {
        PrintLine(stderr, kCaptureUsage);
        return 1;
    }
    return RunOnData(
        [&] {
            if (command[0] == "agenda")
                return AgendaText(command[1].toInt());
            DbAccess->CheckWritable();
            return Capture(command).Text;
        },
        [](const std::exception& e) { return ErrorText(e); }, command);
}
