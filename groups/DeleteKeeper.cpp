#include "groups/DeleteKeeper.h"

#include "groups/GroupTableStore.h"

namespace {
std::unique_ptr<TDeleteKeeper>& Installed()
{
    static std::unique_ptr<TDeleteKeeper> keeper = std::make_unique<TDeleteKeeper>();
    return keeper;
}
} // namespace

QList<qint64> TDeleteKeeper::DeleteBranch(TGroupTable& groups, int self, const QString& alsoRun)
{
    groups.DeleteBranch(self, alsoRun);
    return {};
}

TDeleteKeeper& DeleteKeeper()
{
    return *Installed();
}

void InstallDeleteKeeper(std::unique_ptr<TDeleteKeeper> keeper)
{
    Installed() = keeper ? std::move(keeper) : std::make_unique<TDeleteKeeper>();
}

std::function<void()> TakeBackDelete(const QList<qint64>& entries, std::function<void(int id)> show)
{
    if (entries.isEmpty())
        return nullptr;
    return [entries, show = std::move(show)] {
        const QList<TRestored> restored = DeleteKeeper().RestoreAll(entries);
        if (!restored.isEmpty())
            show(int(restored.first().Id));
    };
}
