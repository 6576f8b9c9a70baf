#include "capture/CaptureCommandLine.h"

#include "capture/Capture.h"
#include "data/MD.h"
#include "data/UException.h"

namespace {
const QStringList kInvalid{"?"};
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

TCommandLineRun CaptureCommandLine(const QStringList& arguments)
{
    const QStringList command = ParseCaptureCommand(arguments);
    if (command == kInvalid)
        return TCommandLineRun::WrongArguments();
    return TCommandLineRun::OnData(
        [command] {
            if (command[0] == "agenda")
                return AgendaText(command[1].toInt());
            DbAccess->CheckWritable();
            return Capture(command).Text;
        },
        [](const std::exception& e) { return ErrorText(e); }, command);
}
