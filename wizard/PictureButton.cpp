#include "wizard/PictureButton.h"

#include <QEnterEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

CPictureButton::CPictureButton(OrvPicture normal, OrvPicture hover, const QString& strToolTip,
                               QSize size, QWidget* pParent)
    : QAbstractButton(pParent), m_bUsePictures(true), m_picNormal(normal), m_picHover(hover),
      m_size(size)
{
    setToolTip(strToolTip);
    setFixedSize(size);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setAccessibleName(strToolTip);
}

CPictureButton::CPictureButton(const QPixmap& pixNormal, const QPixmap& pixHover,
                               const QString& strToolTip, QSize size, QWidget* pParent)
    : QAbstractButton(pParent), m_pixNormal(pixNormal), m_pixHover(pixHover),
      m_bUsePictures(false), m_picNormal(OrvPicture::MainIcon), m_picHover(OrvPicture::MainIcon),
      m_size(size)
{
    setToolTip(strToolTip);
    setFixedSize(size);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover);
    setAccessibleName(strToolTip);
}

QSize CPictureButton::sizeHint() const
{
    return m_size;
}

QPixmap CPictureButton::CurrentPixmap() const
{
    const bool bHover = m_bHovered && isEnabled();
    if (m_bUsePictures)
        return OrvPixmap(bHover ? m_picHover : m_picNormal, size(), devicePixelRatioF());
    const QPixmap& pix = (bHover && !m_pixHover.isNull()) ? m_pixHover : m_pixNormal;
    return pix;
}

void CPictureButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!isEnabled())
        painter.setOpacity(0.45);
    // Pressed: the picture sinks by one pixel.
    const QRect rectTarget = isDown() ? rect().translated(1, 1) : rect();
    painter.drawPixmap(rectTarget, CurrentPixmap());
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(2, 2, -2, -2);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CPictureButton::enterEvent(QEnterEvent* pEvent)
{
    m_bHovered = true;
    update();
    QAbstractButton::enterEvent(pEvent);
}

void CPictureButton::leaveEvent(QEvent* pEvent)
{
    m_bHovered = false;
    update();
    QAbstractButton::leaveEvent(pEvent);
}

void CPictureButton::changeEvent(QEvent* pEvent)
{
    // A button hidden or disabled under the mouse gets no leave event.
    if (pEvent->type() == QEvent::EnabledChange && !isEnabled())
        m_bHovered = false;
    QAbstractButton::changeEvent(pEvent);
}
