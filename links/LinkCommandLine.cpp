#include "links/LinkCommandLine.h"

#include "data/MD.h"
#include "data/UException.h"
#include "data/UntPublic.h"
#include "links/LinkChecker.h"

#include <QEventLoop>

namespace {
const QString kCheck = "--check-links";
const QString kGroup = "--group";

// A text as a terminal shows it, not obeys it: control characters (an
// imported name may hold the escape sequences that set the terminal's title
// or colours, a redirect's address as well), the characters that turn the
// reading direction and line separators are written as \xNN or \uNNNN, and
// so is the backslash, so that every line says exactly what was stored.
QString Printable(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool turns = u == 0x061c || u == 0x200e || u == 0x200f || (u >= 0x202a && u <= 0x202e) ||
                           (u >= 0x2066 && u <= 0x2069) || u == 0x2028 || u == 0x2029;
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u <= 0x9f) || u == '\\')
            shown += QString("\\x%1").arg(u, 2, 16, QChar('0'));
        else if (turns)
            shown += QString("\\u%1").arg(u, 4, 16, QChar('0'));
        else
            shown += c;
    }
    return shown;
}

// The group asked for: 0 for all; -2 when the arguments are wrong.
int ParseGroupArgument(const QStringList& arguments, QString* path)
{
    if (arguments.size() == 1 && arguments[0] == kCheck)
        return 0;
    if (arguments.size() == 3 && arguments[0] == kCheck && arguments[1] == kGroup) {
        *path = arguments[2];
        return 1;
    }
    return -2;
}

// Runs the check on the event loop until it ends; its lines go out as the
// results come, and the counts are returned.
QString CheckHere(const QString& path)
{
    const int group = path.isEmpty() ? 0 : GroupOfPath(path);
    if (group < 0)
        RaiseError("找不到分组：" + path);
    DbAccess->CheckWritable();
    TLinkCheckSettings settings;
    settings.FetchIcons = FetchIconsEnabled();
    TLinkChecker checker(settings);
    QEventLoop loop;
    QObject::connect(&checker, &TLinkChecker::Checked, [](const TLinkTarget& target, const TLinkOutcome& outcome) {
        if (outcome.Result != TLinkResult::Ok)
            PrintLine(stdout, QString("%1\t%2\t%3")
                                  .arg(Printable(outcome.Text()), Printable(target.Url), Printable(target.GroupPath)));
    });
    QObject::connect(&checker, &TLinkChecker::Finished, &loop, &QEventLoop::quit);
    checker.Start(LinkTargetsOfGroup(group));
    if (checker.Running())
        loop.exec();
    return checker.Summary();
}
} // namespace

bool IsLinkCheckCommand(const QStringList& arguments)
{
    return arguments.contains(kCheck);
}

TCommandLineRun LinkCheckCommandLine(const QStringList& arguments)
{
    QString path;
    if (ParseGroupArgument(arguments, &path) < 0)
        return TCommandLineRun::WrongArguments();
    // The network runs on the event loop of the command line's application.
    return TCommandLineRun::OnData([path] { return CheckHere(path); },
                                   [](const std::exception& e) { return "检查网址失败：" + ErrorText(e); });
}
