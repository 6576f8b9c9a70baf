#pragma once

#include "data/CommandLineRun.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

// `jotterel --skin NAME`: keeps NAME as the skin, without a window on the
// display. A name that no skin has, or a user's skin that is faulty, is
// refused with the reason (the names there are, the file and line), and so
// is one that 外观 would refuse on the program's windows, drawn off the
// screen for the check; while the program runs on the same data it is
// handed to it, which shows the skin at once.

// The program's windows as they stand before their data, to try a skin on
// (set by the program's entry, which knows its forms).
using TSkinTrialWindows = std::function<std::vector<std::unique_ptr<QWidget>>()>;
void SetSkinTrialWindows(TSkinTrialWindows make);

// The name the arguments (without the program's name) ask for; nullopt when
// they hold no --skin; Ok false when they hold it wrongly or with other options.
struct TSkinCommand
{
    bool Ok = false;
    QString Name;
};
std::optional<TSkinCommand> ParseSkinCommand(const QStringList& arguments);

// The skin command the arguments ask for: a name no skin has is refused
// here; the rest is tried on the windows drawn off the screen, on the data.
TCommandLineRun SkinCommandLine(const QStringList& arguments);
