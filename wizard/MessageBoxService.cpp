#include "wizard/MessageBoxService.h"

#include <QMessageBox>

namespace {

CMessageBoxService g_defaultService;
CMessageBoxService* g_pService = &g_defaultService;

} // namespace

MsgResult CMessageBoxService::Show(QWidget* pParent, const QString& strCaption,
                                   const QString& strText, MsgButtons buttons, MsgIcon icon)
{
    QMessageBox box(pParent);
    box.setWindowTitle(strCaption);
    box.setText(strText);
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
    case MsgButtons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Cancel: return MsgResult::Cancel;
    default: return MsgResult::Ok;
    }
}

CMessageBoxService& CMessageBoxService::Instance()
{
    return *g_pService;
}

CMessageBoxService* CMessageBoxService::SetInstance(CMessageBoxService* pService)
{
    CMessageBoxService* pOld = g_pService;
    g_pService = pService ? pService : &g_defaultService;
    return pOld;
}

MsgResult AppMessageBox(QWidget* pParent, const QString& strText, MsgButtons buttons, MsgIcon icon)
{
    return CMessageBoxService::Instance().Show(pParent, QStringLiteral("Orvane Tamsin DBF"), strText,
                                               buttons, icon);
}
