#include "app/SplashDlg.h"

#include "wizard/PictureButton.h"
#include "wizard/Resources.h"

#include <QGuiApplication>
#include <QScreen>

CSplashDlg::CSplashDlg(QWidget* pParent)
    : QDialog(pParent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    OrvInitResources();
    const QSize sizePicture = OrvPictureSize(OrvPicture::Splash);
    const QSize sizeButton = sizePicture + QSize(8, 8);
    m_pButton = new CPictureButton(OrvPicture::Splash, OrvPicture::Splash, QString(), sizeButton, this);
    m_pButton->move(0, 0);
    m_pButton->setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeButton);

    if (QScreen* pScreen = QGuiApplication::primaryScreen())
        move(pScreen->availableGeometry().center() - rect().center());
}
