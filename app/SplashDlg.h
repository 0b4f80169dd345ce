#pragma once
// The start-up splash: a borderless window centred on the screen holding the
// splash picture as a picture button (the picture plus 8 pixels each way).

#include <QDialog>

class CPictureButton;

class CSplashDlg : public QDialog {
    Q_OBJECT
public:
    enum { IDD = 267 };
    // How long start-up waits with the splash on screen.
    static constexpr int kShowMilliseconds = 2000;

    explicit CSplashDlg(QWidget* pParent = nullptr);

    CPictureButton* GetPictureButton() const { return m_pButton; }

private:
    CPictureButton* m_pButton;
};
