#pragma once
// Shows the engines' error reports (CException::ReportError) as message
// boxes of the program, each text once per repair run
// (wizard/ErrorMessageDigest.h). A report from a repair thread is queued to
// the GUI thread; the repair goes on meanwhile, so a report can never hold
// up a thread the GUI is waiting for.

#include "platform/ErrorReporter.h"

class QObject;

class CMessageBoxReporter : public CErrorReporter {
public:
    // pGuiObject: an object living on the GUI thread (the application).
    explicit CMessageBoxReporter(QObject* pGuiObject);
    void Report(const std::string& strText) override;

private:
    QObject* m_pGuiObject;
};
