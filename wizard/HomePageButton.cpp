#include "wizard/HomePageButton.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

CHomePageButton::CHomePageButton(const QString& strToolTip, QWidget* pParent)
    : CPictureButton(OrvPicture::HomePage, OrvPicture::HomePageHover, strToolTip,
                     QSize(kWidth, kHeight), pParent)
{
    setCursor(Qt::PointingHandCursor);
}

void CHomePageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), CurrentPixmap());
    // A pressed link darkens a little instead of moving: it sits in the corner.
    if (isDown()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 40));
        painter.drawRoundedRect(QRectF(rect()).adjusted(6, 6, -6, -6), 10, 10);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(4, 4, -4, -4);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
