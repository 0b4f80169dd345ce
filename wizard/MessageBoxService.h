#pragma once
// The one service through which every message of the desktop program is
// shown. Tests install their own implementation to read the texts and to
// answer questions.

#include <QString>

class QWidget;

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgResult { Ok, Cancel, Yes, No };

class CMessageBoxService {
public:
    virtual ~CMessageBoxService() = default;

    // Shows a modal message box; returns the button pressed.
    virtual MsgResult Show(QWidget* pParent, const QString& strCaption, const QString& strText,
                           MsgButtons buttons, MsgIcon icon);

    // The service in use (a QMessageBox-based one unless replaced).
    static CMessageBoxService& Instance();
    // Installs pService (nullptr restores the default); returns the previous.
    static CMessageBoxService* SetInstance(CMessageBoxService* pService);
};

// Shorthand with the program's caption "Orvane Tamsin DBF".
MsgResult AppMessageBox(QWidget* pParent, const QString& strText,
                        MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::Information);
