#include "wizard/MessageBoxReporter.h"

#include "wizard/ErrorMessageDigest.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

CMessageBoxReporter::CMessageBoxReporter(QObject* pGuiObject) : m_pGuiObject(pGuiObject) {}

void CMessageBoxReporter::Report(const std::string& strText)
{
    auto show = [strText] { CErrorMessageDigest::Instance().Deliver(strText); };
    if (QThread::currentThread() == m_pGuiObject->thread())
        show();
    else
        QMetaObject::invokeMethod(m_pGuiObject, show, Qt::QueuedConnection);
}
