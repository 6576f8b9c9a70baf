#include "controls/CardIcons.h"
#include "data/StartupWork.h"

#include <QImage>
#include <QImageReader>
#include <QString>
#include <future>
#include <system_error>

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

// The format is named, so that the reader neither asks every image plugin
// whether it knows the file (which loads them all) nor looks at its contents.
QImage ReadPng(const QString& path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QPixmap PixmapFromResource(const QString& path)
{
    InitCardResources();
    return QPixmap::fromImage(ReadPng(path));
}

} // namespace

// The pictures below are created once and deliberately never destroyed: destroying pixmaps after the application
// object has gone is not safe on every platform, and the process exit frees them anyway.

const QList<QIcon>& TreeImages()
{
    static const auto* images = new QList<QIcon>{QIcon(PixmapFromResource(QStringLiteral(":/icons/root.png"))),
                                                 QIcon(PixmapFromResource(QStringLiteral(":/icons/group.png"))),
                                                 QIcon(PixmapFromResource(QStringLiteral(":/icons/group-open.png")))};
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
    static const auto* picture = new QPixmap(PixmapFromResource(QStringLiteral(":/icons/openurl.png")));
    return *picture;
}

namespace {

// Decoded images are plain data and may be made on any thread; the pixmaps of an icon only on the GUI thread.
// They are decoded into the pixmaps' own format, so that making the pixmaps is a copy.
QList<QImage> ReadAppIconImages()
{
    const auto read = [](const QString& path) {
        return ReadPng(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    QList<QImage> images{read(QStringLiteral(":/icons/jotterel.png"))};
    for (int size : {16, 32, 48, 64, 128})
        images << read(QStringLiteral(":/icons/jotterel-%1.png").arg(size));
    return images;
}

std::future<QList<QImage>>& AppIconImages()
{
    static std::future<QList<QImage>> images;
    return images;
}

} // namespace

void PreloadAppIcon()
{
    static const bool started = [] {
        InitCardResources();
        try {
            AppIconImages() = BeginStartupWork(ReadAppIconImages);
        } catch (const std::system_error&) {
            AppIconImages() = std::async(std::launch::deferred, ReadAppIconImages); // no thread to be had
        }
        return true;
    }();
    Q_UNUSED(started);
}

const QIcon& AppIcon()
{
    static const auto* icon = [] {
        PreloadAppIcon();
        auto* result = new QIcon;
        for (const QImage& image : AppIconImages().get())
            result->addPixmap(QPixmap::fromImage(image));
        return result;
    }();
    return *icon;
}
