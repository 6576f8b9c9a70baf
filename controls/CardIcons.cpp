#include "controls/CardIcons.h"

#include <QString>

// Q_INIT_RESOURCE declares the registration function, which must happen at global scope.
static void RegisterJotterelResources()
{
    Q_INIT_RESOURCE(jotterel);
}

void InitCardResources()
{
    static const bool registered = (RegisterJotterelResources(), true);
    Q_UNUSED(registered);
}

namespace {

QIcon IconFromResource(const QString& path)
{
    InitCardResources();
    return QIcon(path);
}

} // namespace

// The pictures below are created once and deliberately never destroyed: destroying pixmaps after the application
// object has gone is not safe on every platform, and the process exit frees them anyway.

const QList<QIcon>& TreeImages()
{
    static const auto* images = new QList<QIcon>{IconFromResource(QStringLiteral(":/icons/root.png")),
                                                 IconFromResource(QStringLiteral(":/icons/group.png")),
                                                 IconFromResource(QStringLiteral(":/icons/group-open.png"))};
    return *images;
}

const QIcon& GroupNodeIcon()
{
    static const auto* icon = [] {
        auto* result = new QIcon(TreeImages().at(1));
        result->addPixmap(TreeImages().at(2).pixmap(16, 16), QIcon::Selected);
        return result;
    }();
    return *icon;
}

const QPixmap& OpenUrlPicture()
{
    static const auto* picture = [] {
        InitCardResources();
        return new QPixmap(QStringLiteral(":/icons/openurl.png"));
    }();
    return *picture;
}

const QIcon& AppIcon()
{
    static const auto* icon = [] {
        InitCardResources();
        auto* result = new QIcon(QStringLiteral(":/icons/jotterel.png"));
        for (int size : {16, 32, 48, 64, 128})
            result->addFile(QStringLiteral(":/icons/jotterel-%1.png").arg(size), QSize(size, size));
        return result;
    }();
    return *icon;
}
