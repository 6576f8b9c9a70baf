#include "bookmarks/OpenAddress.h"

#include "bookmarks/UntIE.h"
#include "controls/UiPublic.h"
#include "data/UntPublic.h"

namespace {
// An address as a box names it: an inline page may be megabytes long.
QString AddressForBox(const QString& address)
{
    constexpr qsizetype most = 300;
    return address.size() <= most ? address : address.left(most) + QStringLiteral("…");
}
} // namespace

void OpenBookmarkAddress(QWidget* owner, const QString& address)
{
    const QString target = TrimBlanks(address);
    if (target.isEmpty())
        return;
    if (!IsWebAddress(target) &&
        !AskYesNo(QStringLiteral("这个地址不是网页，打开它可能会运行程序或脚本，或打开本机的文件：\r\n") +
                  AddressForBox(target) + QStringLiteral("\r\n确实要打开吗？")))
        return;
    if (!ShellOpen(owner, target))
        ShowError(QStringLiteral("没有可以打开这个地址的程序：\r\n") + AddressForBox(target));
}
