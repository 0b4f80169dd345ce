#include "wizard/ViewSinkBridge.h"

#include "wizard/PreviewListCtrl.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <utility>

namespace {

// Every column of the preview grid starts this wide, in pixels.
constexpr int kPreviewColumnWidth = 100;

QString FromUtf8(const std::string& str)
{
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

} // namespace

std::shared_ptr<CViewSinkBridge> CViewSinkBridge::Create(const ViewSinkTargets& targets)
{
    return std::shared_ptr<CViewSinkBridge>(new CViewSinkBridge(targets));
}

CViewSinkBridge::CViewSinkBridge(const ViewSinkTargets& targets)
    : m_targets(targets), m_tBatchStart(std::chrono::steady_clock::now())
{
}

CViewSinkBridge::~CViewSinkBridge() = default;

void CViewSinkBridge::Post(std::function<void()> fn)
{
    if (IsDetached() || !m_targets.pContext)
        return;
    QMetaObject::invokeMethod(
        m_targets.pContext,
        [self = shared_from_this(), fn = std::move(fn)] {
            if (!self->IsDetached())
                fn();
        },
        Qt::QueuedConnection);
}

void CViewSinkBridge::SetStatusText(const std::string& strText)
{
    Flush();
    Post([this, str = FromUtf8(strText)] {
        if (m_targets.pProgress)
            m_targets.pProgress->SetStatusText(str.toStdString());
    });
}

void CViewSinkBridge::SetProgress(int nValue)
{
    // The engine reports after every field; only a change is worth a call.
    if (nValue == 0 || nValue == m_nLastProgress)
        return;
    m_nLastProgress = nValue;
    Post([this, nValue] {
        if (m_targets.pProgress)
            m_targets.pProgress->SetProgress(nValue);
    });
}

void CViewSinkBridge::ShowPreview()
{
    Flush();
    Post([this] {
        if (m_targets.pProgress)
            m_targets.pProgress->ShowPreview();
    });
}

void CViewSinkBridge::ClearGrid()
{
    // Rows still collected belong to the grid that is being cleared.
    m_batch.Clear();
    m_nBatchFirstRow = 0;
    m_nGridRows = 0;
    Post([this] {
        if (m_targets.pGrid)
            m_targets.pGrid->ClearGrid();
    });
}

void CViewSinkBridge::InsertColumn(int nIndex, const std::string& strHeading)
{
    Flush();
    Post([this, nIndex, str = FromUtf8(strHeading)] {
        if (m_targets.pGrid)
            m_targets.pGrid->InsertColumn(nIndex, str, kPreviewColumnWidth);
    });
}

void CViewSinkBridge::InsertRow(int nIndex, const std::string& strLabel)
{
    if (nIndex != m_nGridRows) {
        // Not an append: keep the order by sending it on its own.
        Flush();
        if (nIndex < 0 || nIndex > m_nGridRows)
            return;
        ++m_nGridRows;
        m_nBatchFirstRow = m_nGridRows;
        Post([this, nIndex, str = strLabel] {
            if (m_targets.pGrid)
                m_targets.pGrid->InsertRow(nIndex, str);
        });
        return;
    }
    if (!m_batch.IsEmpty()
        && (m_batch.GetRowCount() >= kBatchRows
            || std::chrono::steady_clock::now() - m_tBatchStart >= kBatchTime))
        Flush();
    if (m_batch.IsEmpty()) {
        m_nBatchFirstRow = m_nGridRows;
        m_tBatchStart = std::chrono::steady_clock::now();
    }
    m_batch.AddRow(strLabel);
    ++m_nGridRows;
}

void CViewSinkBridge::SetCellText(int nRow, int nColumn, const std::string& strText)
{
    if (nRow >= m_nBatchFirstRow && nRow < m_nBatchFirstRow + m_batch.GetRowCount()) {
        m_batch.SetCell(nRow - m_nBatchFirstRow, nColumn, strText);
        return;
    }
    Flush();
    Post([this, nRow, nColumn, str = strText] {
        if (m_targets.pGrid)
            m_targets.pGrid->SetCellText(nRow, nColumn, str);
    });
}

void CViewSinkBridge::SetRowDeleted(int nRow)
{
    // Travels with the row's cells when the row is still being collected.
    if (nRow >= m_nBatchFirstRow && nRow < m_nBatchFirstRow + m_batch.GetRowCount()) {
        m_batch.SetRowDeleted(nRow - m_nBatchFirstRow);
        return;
    }
    Flush();
    Post([this, nRow] {
        if (m_targets.pGrid)
            m_targets.pGrid->SetRowDeleted(nRow);
    });
}

void CViewSinkBridge::AppendLog(const std::string& strText)
{
    Post([this, str = strText] {
        if (m_targets.pLog)
            m_targets.pLog->AppendLog(str);
    });
}

void CViewSinkBridge::ScrollLog(int nLines)
{
    Post([this, nLines] {
        if (m_targets.pLog)
            m_targets.pLog->ScrollLog(nLines);
    });
}

void CViewSinkBridge::Flush()
{
    if (m_batch.IsEmpty())
        return;
    PostBatch();
}

void CViewSinkBridge::PostBatch()
{
    WaitForRoom();
    if (IsDetached()) {
        m_batch.Clear();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nInFlight;
    }
    auto spBatch = std::make_shared<CPreviewRowBatch>(std::move(m_batch));
    m_batch = CPreviewRowBatch();
    m_nBatchFirstRow = m_nGridRows;
    ++m_nBatchesPosted;
    if (!m_targets.pContext) {
        BatchApplied();
        return;
    }
    // Posted directly (not through Post) so that a detached bridge still
    // gives back its room.
    QMetaObject::invokeMethod(
        m_targets.pContext,
        [self = shared_from_this(), spBatch] {
            if (!self->IsDetached() && self->m_targets.pGrid)
                self->m_targets.pGrid->AppendRows(*spBatch);
            self->BatchApplied();
        },
        Qt::QueuedConnection);
}

void CViewSinkBridge::WaitForRoom()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvRoom.wait(lock, [this] { return m_nInFlight < kMaxBatchesInFlight || IsDetached(); });
}

void CViewSinkBridge::BatchApplied()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_nInFlight;
    }
    m_cvRoom.notify_all();
}

void CViewSinkBridge::Detach()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bDetached.store(true, std::memory_order_release);
    }
    m_cvRoom.notify_all();
}
