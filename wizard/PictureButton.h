#pragma once
// A button drawn entirely by two pictures: the normal one, and the hover one
// while the mouse is over it. It has a tooltip and a fixed size.

#include <QAbstractButton>
#include <QPixmap>

#include "wizard/Resources.h"

class CPictureButton : public QAbstractButton {
    Q_OBJECT
public:
    // A button of the given size showing the two embedded pictures.
    CPictureButton(OrvPicture normal, OrvPicture hover, const QString& strToolTip, QSize size,
                   QWidget* pParent = nullptr);
    // A button of the given size showing two pictures of the caller's.
    CPictureButton(const QPixmap& pixNormal, const QPixmap& pixHover, const QString& strToolTip,
                   QSize size, QWidget* pParent = nullptr);

    // The command id the button stands for (0 when none was set).
    void SetCommandId(int nId) { m_nCommandId = nId; }
    int GetCommandId() const { return m_nCommandId; }

    // True while the mouse is over the button (the hover picture shows).
    bool IsHovered() const { return m_bHovered; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void enterEvent(QEnterEvent* pEvent) override;
    void leaveEvent(QEvent* pEvent) override;
    void changeEvent(QEvent* pEvent) override;

    // The picture to show for the current state, scaled to the button.
    QPixmap CurrentPixmap() const;

private:
    QPixmap m_pixNormal;
    QPixmap m_pixHover;
    bool m_bUsePictures;  // pictures from OrvPixmap (rendered per pixel ratio)
    OrvPicture m_picNormal;
    OrvPicture m_picHover;
    QSize m_size;
    int m_nCommandId = 0;
    bool m_bHovered = false;
};

// The home-page link lives in its own file pair; included here because every
// user of picture buttons needs both.
#include "wizard/HomePageButton.h"
