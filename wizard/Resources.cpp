#include "wizard/Resources.h"

#include <QHash>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <array>

static void InitOrvaneResource()
{
    Q_INIT_RESOURCE(orvane);
}

void OrvInitResources()
{
    static const bool bDone = (InitOrvaneResource(), true);
    (void)bDone;
}

namespace {

struct PictureInfo {
    const char* pszName;
    int nWidth;
    int nHeight;
};

// In the order of OrvPicture.
constexpr std::array<PictureInfo, kOrvPictureCount> kPictures = {{
    {"banner_left", 460, 229},
    {"banner_middle", 40, 229},
    {"banner_right", 260, 229},
    {"background", 64, 64},
    {"footer_left", 64, 100},
    {"footer_right", 420, 100},
    {"button_add_files", 58, 50},
    {"button_add_files_hover", 58, 50},
    {"button_repair", 58, 50},
    {"button_repair_hover", 58, 50},
    {"button_save", 58, 50},
    {"button_save_hover", 58, 50},
    {"button_settings", 58, 50},
    {"button_settings_hover", 58, 50},
    {"button_next", 50, 38},
    {"button_next_hover", 50, 38},
    {"button_back", 50, 38},
    {"button_back_hover", 50, 38},
    {"button_stop", 50, 38},
    {"button_stop_hover", 50, 38},
    {"button_home_page", 133, 62},
    {"button_home_page_hover", 133, 62},
    {"splash", 480, 300},
    {"skin_about", 440, 300},
    {"skin_settings", 370, 180},
    {"skin_saving", 360, 140},
    {"orvane-tamsin-dbf", 256, 256},
    {"menu_add_files", 16, 16},
    {"menu_save_files", 16, 16},
    {"menu_exit", 16, 16},
    {"menu_setting", 16, 16},
    {"menu_help", 16, 16},
    {"menu_about", 16, 16},
    {"menu_home_page", 16, 16},
    {"list_file_name", 16, 16},
    {"list_file_location", 16, 16},
    {"list_file_size", 16, 16},
    {"list_creation_time", 16, 16},
    {"list_last_access_time", 16, 16},
    {"list_last_written_time", 16, 16},
    {"list_file_type", 16, 16},
}};

const PictureInfo& Info(OrvPicture picture)
{
    return kPictures[static_cast<size_t>(picture)];
}

} // namespace

QString OrvPictureName(OrvPicture picture)
{
    return QString::fromLatin1(Info(picture).pszName);
}

QString OrvPicturePath(OrvPicture picture)
{
    return QStringLiteral(":/orvane/pictures/") + OrvPictureName(picture) + QStringLiteral(".svg");
}

QSize OrvPictureSize(OrvPicture picture)
{
    return QSize(Info(picture).nWidth, Info(picture).nHeight);
}

QPixmap OrvPixmap(OrvPicture picture, QSize sizeWanted, qreal dDevicePixelRatio)
{
    OrvInitResources();
    if (sizeWanted.isEmpty())
        sizeWanted = OrvPictureSize(picture);
    if (dDevicePixelRatio <= 0)
        dDevicePixelRatio = 1.0;
    const QSize sizePixels = (QSizeF(sizeWanted) * dDevicePixelRatio).toSize();
    const QString strKey = QStringLiteral("orv:%1:%2x%3")
                               .arg(static_cast<int>(picture))
                               .arg(sizePixels.width())
                               .arg(sizePixels.height());
    QPixmap pix;
    if (QPixmapCache::find(strKey, &pix))
        return pix;

    QSvgRenderer renderer(OrvPicturePath(picture));
    if (!renderer.isValid())
        return QPixmap();
    QImage image(sizePixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(sizePixels)));
    }
    pix = QPixmap::fromImage(image);
    pix.setDevicePixelRatio(dDevicePixelRatio);
    QPixmapCache::insert(strKey, pix);
    return pix;
}

QIcon OrvIcon(OrvPicture picture)
{
    OrvInitResources();
    return QIcon(OrvPicturePath(picture));
}
