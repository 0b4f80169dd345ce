#pragma once
// The owner-drawn home-page link in the wizard's top right corner (133 x 62):
// its picture, a lighter picture under the mouse, a pointing-hand cursor and
// a focus mark when reached by keyboard.

#include "wizard/PictureButton.h"

class CHomePageButton : public CPictureButton {
    Q_OBJECT
public:
    static constexpr int kWidth = 133;
    static constexpr int kHeight = 62;

    explicit CHomePageButton(const QString& strToolTip, QWidget* pParent = nullptr);

protected:
    void paintEvent(QPaintEvent* pEvent) override;
};
