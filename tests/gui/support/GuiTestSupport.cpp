#include "support/GuiTestSupport.h"

#include "support/TestSupport.h"
#include "platform/TempFolder.h"
#include "repair/RepairState.h"
#include "wizard/ErrorMessageDigest.h"
#include "app/MainFrame.h"
#include "wizard/QuorvikView.h"
#include "wizard/RepairResultSaver.h"
#include "wizard/RunnerState.h"

#include "dbf/ByteCodec.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

#include <cstdio>
#include <fstream>

namespace guitest {

QString Q(const std::string& str)
{
    return QString::fromStdString(str);
}

std::string TempTableFor(const std::string& strFileName)
{
    return CTempFolder::ProcessFolder() + "/0ozn_aqf_xrj_196_temp_1_" + strFileName;
}

CTestMessageBoxService::CTestMessageBoxService()
    : m_pPrevious(CMessageBoxService::SetInstance(this))
{
}

CTestMessageBoxService::~CTestMessageBoxService()
{
    CMessageBoxService::SetInstance(m_pPrevious);
}

MsgResult CTestMessageBoxService::Show(QWidget* pParent, const QString& strCaption, const QString& strText,
                                       MsgButtons buttons, MsgIcon icon)
{
    ShownMessage msg;
    msg.bOwned = pParent != nullptr;
    msg.strCaption = strCaption;
    msg.strText = strText;
    msg.buttons = buttons;
    msg.icon = icon;
    m_messages.push_back(msg);
    if (m_onShow)
        m_onShow(msg);
    if (buttons == MsgButtons::Ok)
        return MsgResult::Ok;
    if (m_answers.empty()) {
        ++m_nUnanswered;
        qWarning("unanswered question: %s", qPrintable(strText));
        return MsgResult::Cancel;
    }
    const MsgResult result = m_answers.front();
    m_answers.pop_front();
    return result;
}

QStringList CTestMessageBoxService::Texts() const
{
    QStringList texts;
    for (const ShownMessage& msg : m_messages)
        texts << msg.strText;
    return texts;
}

CTestFolderChooser::CTestFolderChooser() : m_pPrevious(CFolderChooser::SetInstance(this)) {}

CTestFolderChooser::~CTestFolderChooser()
{
    CFolderChooser::SetInstance(m_pPrevious);
}

QString CTestFolderChooser::ChooseFolder(QWidget*, const QString& strTitle)
{
    m_titles << strTitle;
    if (m_answers.empty())
        return QString();
    const QString str = m_answers.front();
    m_answers.pop_front();
    return str;
}

namespace {

void RunPythonOrThrow(const std::string& strScript, const std::vector<std::string>& args)
{
    const orvtest::CommandResult result = orvtest::RunPython(strScript, args);
    if (result.nExitCode != 0)
        qFatal("python fixture script failed (%d): %s", result.nExitCode, result.strOut.c_str());
}

} // namespace

void WriteSalesTable(const std::string& strPath, int nRecords)
{
    RunPythonOrThrow(R"PY(
import sys, dbf
path, n = sys.argv[1], int(sys.argv[2])
t = dbf.Table(path, 'NAME C(20); QTY N(6,0); PRICE N(9,2); SOLD D; PAID L', dbf_type='db3')
t.open(dbf.READ_WRITE)
for i in range(n):
    t.append(('Item %d' % i, i, i * 1.25, dbf.Date(2020, 1, 1 + i % 28), i % 2 == 0))
t.close()
)PY",
                     {strPath, std::to_string(nRecords)});
}

void WriteLargeSalesTable(const std::string& strPath, int nRecords)
{
    const std::string strSeed = strPath + ".seed.dbf";
    WriteSalesTable(strSeed, 16);
    const std::vector<unsigned char> seed = orvtest::ReadBytes(strSeed);
    std::remove(strSeed.c_str());
    const uint16_t nHeader = dbfbytes::DecodeFixed16LE(&seed[8]);
    const uint16_t nRecordLength = dbfbytes::DecodeFixed16LE(&seed[10]);
    std::vector<unsigned char> header(seed.begin(), seed.begin() + nHeader);
    dbfbytes::EncodeFixed32LE(&header[4], static_cast<uint32_t>(nRecords));
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    for (int i = 0; i < nRecords; ++i) {
        const size_t nFrom = nHeader + static_cast<size_t>(i % 16) * nRecordLength;
        out.write(reinterpret_cast<const char*>(&seed[nFrom]), nRecordLength);
    }
    out.put(0x1A);
    if (!out)
        qFatal("cannot write %s", strPath.c_str());
}

void WriteMemoTable(const std::string& strPath, int nRecords)
{
    RunPythonOrThrow(R"PY(
import sys, dbf
path, n = sys.argv[1], int(sys.argv[2])
t = dbf.Table(path, 'NAME C(12); NOTE M', dbf_type='fp')
t.open(dbf.READ_WRITE)
for i in range(n):
    t.append(('Row %d' % i, 'Memo text number %d' % i))
t.close()
)PY",
                     {strPath, std::to_string(nRecords)});
}

QStringList ReadTableWithDbfread(const std::string& strPath)
{
    const orvtest::CommandResult result = orvtest::RunPython(R"PY(
import sys, dbfread
t = dbfread.DBF(sys.argv[1], load=True, char_decode_errors='replace')
print('|'.join(t.field_names))
for rec in t:
    print('|'.join(str(v) for v in rec.values()))
)PY",
                                                             {strPath});
    if (result.nExitCode != 0)
        return {QStringLiteral("<dbfread failed>")};
    return QString::fromUtf8(result.strOut.c_str()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool WaitUntil(const std::function<bool()>& pred, int nTimeoutMs)
{
    QDeadlineTimer deadline(nTimeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

bool WaitForRepairEnd(CQuorvikView& view, int nTimeoutMs)
{
    return WaitUntil([&] { return !IsRepairRunning() && !view.IsRepairThreadAlive(); }, nTimeoutMs);
}

CRepairHolder::CRepairHolder(int nPercent)
{
    if (nPercent <= 0) {
        g_repairPauseGate.Close();
        m_bHeld = true;
        return;
    }
    m_watcher = std::thread([this, nPercent] {
        while (!m_bQuit.load()) {
            if (g_nRepairProgress.load() >= nPercent) {
                g_repairPauseGate.Close();
                m_bHeld = true;
                return;
            }
            std::this_thread::yield();
        }
    });
}

CRepairHolder::~CRepairHolder()
{
    m_bQuit = true;
    if (m_watcher.joinable())
        m_watcher.join();
    g_repairPauseGate.Open();
}

bool CRepairHolder::WaitHeld(int nTimeoutMs)
{
    return WaitUntil([this] { return m_bHeld.load(); }, nTimeoutMs);
}

void ResetRunnerState()
{
    g_nRepairProgress.store(0);
    g_strSelectedFile.clear();
    g_repairOutcome.reset();
    g_bRepairRunning.store(false);
    g_bRepairStopped.store(false);
    g_bStopRepair.store(0);
    g_repairPauseGate.Open();
    CErrorMessageDigest::Instance().EndRun(false);
}

std::unique_ptr<CMainFrame> ShowTestFrame(int cx, int cy)
{
    auto pFrame = std::make_unique<CMainFrame>();
    pFrame->SetQuitAction([] {});
    pFrame->resize(cx, cy);
    pFrame->show();
    return pFrame;
}

void LeaveResultPage(CQuorvikView& view)
{
    view.GetSaver().SetResultHandled(true);
    view.OnBackPage();
}

} // namespace guitest
