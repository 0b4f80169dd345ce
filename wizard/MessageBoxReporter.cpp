#include "wizard/MessageBoxReporter.h"

#include "wizard/MessageBoxService.h"

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>

CMessageBoxReporter::CMessageBoxReporter(QObject* pGuiObject) : m_pGuiObject(pGuiObject) {}

void CMessageBoxReporter::Report(const std::string& strText)
{
    const QString str = QString::fromUtf8(strText.data(), static_cast<qsizetype>(strText.size()));
    auto show = [str] { AppMessageBox(nullptr, str, MsgButtons::Ok, MsgIcon::Warning); };
    if (QThread::currentThread() == m_pGuiObject->thread())
        show();
    else
        QMetaObject::invokeMethod(m_pGuiObject, show, Qt::QueuedConnection);
}
