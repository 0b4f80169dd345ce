// Renders the program's pictures outside the program:
//   orv_render_pictures icons FOLDER SIZE...   the main icon as
//       FOLDER/hicolor/SIZExSIZE/apps/orvane-tamsin-dbf.png for the desktop
//   orv_render_pictures sheet FILE.png         every picture on one sheet,
//       with the wizard's bands put together at two window sizes, to look at,
//       and FILE-zoom.png with the small pictures enlarged pixel by pixel
// Draws off screen; needs no display.

#include "wizard/Resources.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

// The wizard's bands as the view paints them, with the toolbar, home-page
// and navigation buttons in their places; bHover shows the hover pictures.
void PaintWizardMock(QPainter& painter, QPoint ptAt, int cx, int cy, bool bHover)
{
    painter.save();
    painter.translate(ptAt);
    painter.setClipRect(0, 0, cx, cy);
    const QPixmap pixLeft = OrvPixmap(OrvPicture::BannerLeft);
    const QPixmap pixRight = OrvPixmap(OrvPicture::BannerRight);
    const int nGap = cx - pixLeft.width() - pixRight.width();
    painter.drawPixmap(QRect(pixLeft.width(), 0, std::max(0, nGap) + 5, 229), OrvPixmap(OrvPicture::BannerMiddle));
    painter.drawPixmap(0, 0, pixLeft);
    painter.drawPixmap(cx - pixRight.width(), 0, pixRight);
    painter.drawPixmap(QRect(0, 225, cx, cy - 100 - 225), OrvPixmap(OrvPicture::Background));
    const QPixmap pixFooterRight = OrvPixmap(OrvPicture::FooterRight);
    painter.drawPixmap(QRect(0, cy - 100, cx - pixFooterRight.width(), 100), OrvPixmap(OrvPicture::FooterLeft));
    painter.drawPixmap(cx - pixFooterRight.width(), cy - 100, pixFooterRight);

    const struct {
        OrvPicture normal, hover;
        int x;
    } toolbar[] = {{OrvPicture::AddFiles, OrvPicture::AddFilesHover, 14},
                   {OrvPicture::Repair, OrvPicture::RepairHover, 103},
                   {OrvPicture::Save, OrvPicture::SaveHover, 199},
                   {OrvPicture::Settings, OrvPicture::SettingsHover, 288}};
    for (const auto& button : toolbar)
        painter.drawPixmap(button.x, 0, OrvPixmap(bHover ? button.hover : button.normal));
    painter.drawPixmap(cx - 133, 0, OrvPixmap(bHover ? OrvPicture::HomePageHover : OrvPicture::HomePage));

    // The status line, help text and path box with their fixed colours.
    painter.fillRect(QRect(180, 82, cx - 195, 33), QColor(255, 252, 179));
    painter.setPen(Qt::black);
    QFont fontHelp(QStringLiteral("serif"));
    fontHelp.setPixelSize(16);
    painter.setFont(fontHelp);
    painter.drawText(QRect(180, 82, cx - 195, 33), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("      1. Add files into list from the Add Files button from toolbar\n"
                                    "      2. Click Next or Repair Files button from toolbar."));
    painter.setFont(QFont());
    painter.fillRect(QRect(100, cy / 2 - 31, cx - 260, 18), QColor(255, 222, 85));
    painter.setPen(QColor(255, 0, 0));
    painter.drawText(QRect(100, cy / 2 - 31, cx - 260, 18), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Please select file to repair , Using Browse button"));
    painter.fillRect(QRect(100, cy / 2 - 11, cx - 260, 23), Qt::white);
    painter.setPen(QColor(120, 130, 140));
    painter.drawRect(QRect(100, cy / 2 - 11, cx - 261, 22));
    painter.fillRect(QRect(cx - 155, cy / 2 - 11, 60, 23), QColor(225, 225, 225));
    painter.drawRect(QRect(cx - 155, cy / 2 - 11, 59, 22));
    painter.setPen(Qt::black);
    painter.drawText(QRect(cx - 155, cy / 2 - 11, 60, 23), Qt::AlignCenter, QStringLiteral("Browse"));
    painter.drawPixmap(cx - 110, cy - 40, OrvPixmap(bHover ? OrvPicture::BackHover : OrvPicture::Back));
    painter.drawPixmap(cx - 55, cy - 40, OrvPixmap(bHover ? OrvPicture::NextHover : OrvPicture::Next));
    painter.restore();
}

int RenderSheet(const QString& strFile)
{
    const int nMargin = 16;
    const int nSheetWidth = 2 * nMargin + 1000;
    QImage sheet(nSheetWidth, 2900, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(128, 128, 128));
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont fontLabel;
    fontLabel.setPixelSize(11);
    painter.setFont(fontLabel);

    int y = nMargin;
    auto caption = [&](const QString& str) {
        painter.setPen(Qt::white);
        painter.drawText(nMargin, y + 12, str);
        y += 18;
    };
    caption(QStringLiteral("Wizard at 1000 x 700 (normal pictures)"));
    PaintWizardMock(painter, QPoint(nMargin, y), 1000, 700, false);
    y += 700 + nMargin;
    caption(QStringLiteral("Wizard at 712 x 600 (hover pictures)"));
    PaintWizardMock(painter, QPoint(nMargin, y), 712, 600, true);
    y += 600 + nMargin;

    // Every picture at its natural size (the large ones scaled down to fit),
    // each on a light and, for the small ones, also on a dark tile.
    int x = nMargin;
    int nRowHeight = 0;
    for (int i = 0; i < kOrvPictureCount; ++i) {
        const auto picture = static_cast<OrvPicture>(i);
        QSize size = OrvPictureSize(picture);
        if (size.width() > 480)
            size = size.scaled(480, 480, Qt::KeepAspectRatio);
        if (picture == OrvPicture::MainIcon)
            size = QSize(128, 128);
        const int nCellWidth = std::max(size.width(), 110);
        if (x + nCellWidth > nSheetWidth - nMargin) {
            x = nMargin;
            y += nRowHeight + 22;
            nRowHeight = 0;
        }
        const bool bSmall = size.width() <= 16;
        if (bSmall) {
            painter.fillRect(QRect(x, y, 52, 24), QColor(246, 247, 249));
            painter.drawPixmap(x + 4, y + 4, OrvPixmap(picture));
            painter.drawPixmap(QRect(x + 24, y, 24, 24), OrvPixmap(picture, QSize(24, 24)));
            painter.fillRect(QRect(x + 56, y, 24, 24), QColor(32, 40, 52));
            painter.drawPixmap(x + 60, y + 4, OrvPixmap(picture));
            size = QSize(80, 24);
        } else {
            painter.drawPixmap(x, y, OrvPixmap(picture, size));
        }
        painter.setPen(Qt::white);
        painter.drawText(x, y + size.height() + 14, OrvPictureName(picture));
        x += nCellWidth + 14;
        nRowHeight = std::max(nRowHeight, size.height());
    }
    y += nRowHeight + 30;
    painter.end();
    const QImage cropped = sheet.copy(0, 0, nSheetWidth, std::min(y, sheet.height()));
    if (!cropped.save(strFile)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(strFile));
        return 1;
    }
    return 0;
}

// Details at their real pixels, enlarged without smoothing: the toolbar,
// the corner link, the navigation buttons and the 16 x 16 icons.
int RenderZoom(const QString& strFile)
{
    QImage mock(1000, 700, QImage::Format_ARGB32_Premultiplied);
    QImage mockHover(1000, 700, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&mock);
        PaintWizardMock(painter, QPoint(0, 0), 1000, 700, false);
        QPainter painterHover(&mockHover);
        PaintWizardMock(painterHover, QPoint(0, 0), 1000, 700, true);
    }
    auto zoom = [](const QImage& image, QRect rect, int nFactor) {
        return image.copy(rect).scaled(rect.size() * nFactor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    };
    QList<QImage> aParts = {
        zoom(mock, QRect(0, 0, 360, 60), 3),      zoom(mockHover, QRect(0, 0, 360, 60), 3),
        zoom(mock, QRect(860, 0, 140, 66), 3),    zoom(mockHover, QRect(860, 0, 140, 66), 3),
        zoom(mock, QRect(880, 650, 120, 50), 4),  zoom(mockHover, QRect(880, 650, 120, 50), 4),
    };
    QImage icons(16 * 14 + 13 * 4, 20, QImage::Format_ARGB32_Premultiplied);
    icons.fill(QColor(246, 247, 249));
    {
        QPainter painter(&icons);
        int x = 0;
        for (int i = static_cast<int>(OrvPicture::MenuAddFiles); i < kOrvPictureCount; ++i, x += 20)
            painter.drawPixmap(x, 2, OrvPixmap(static_cast<OrvPicture>(i)));
    }
    aParts.append(icons.scaled(icons.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation));

    int nHeight = 0;
    int nWidth = 0;
    for (const QImage& part : aParts) {
        nHeight += part.height() + 8;
        nWidth = std::max(nWidth, part.width());
    }
    QImage sheet(nWidth, nHeight, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(128, 128, 128));
    QPainter painter(&sheet);
    int y = 0;
    for (const QImage& part : aParts) {
        painter.drawImage(0, y, part);
        y += part.height() + 8;
    }
    painter.end();
    return sheet.save(strFile) ? 0 : 1;
}

int RenderIcons(const QString& strFolder, const QStringList& aSizes)
{
    for (const QString& strSize : aSizes) {
        const int nSize = strSize.toInt();
        if (nSize <= 0)
            return 2;
        const QString strDir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(strFolder).arg(nSize);
        QDir().mkpath(strDir);
        const QImage image = OrvPixmap(OrvPicture::MainIcon, QSize(nSize, nSize)).toImage();
        const QString strFile = strDir + QStringLiteral("/orvane-tamsin-dbf.png");
        if (!image.save(strFile)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(strFile));
            return 1;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    OrvInitResources();
    const QStringList aArgs = app.arguments();
    if (aArgs.size() >= 4 && aArgs[1] == QLatin1String("icons"))
        return RenderIcons(aArgs[2], aArgs.mid(3));
    if (aArgs.size() == 3 && aArgs[1] == QLatin1String("sheet")) {
        QString strZoom = aArgs[2];
        strZoom.insert(strZoom.lastIndexOf(QLatin1Char('.')), QStringLiteral("-zoom"));
        return RenderSheet(aArgs[2]) | RenderZoom(strZoom);
    }
    std::fprintf(stderr, "usage: orv_render_pictures icons FOLDER SIZE... | sheet FILE.png\n");
    return 2;
}
