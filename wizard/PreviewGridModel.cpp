#include "wizard/PreviewGridModel.h"

#include "wizard/PreviewRowBatch.h"

#include <QBrush>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <numeric>

namespace {

// Rows per chunk while appending; a chunk that grows past twice this through
// insertions in the middle is split in two.
constexpr int kChunkRows = 2048;
// A chunk's rows are addressed by 32-bit offsets; appending starts a new
// chunk well before that limit, and a cell never grows a chunk past it
// (5 bytes for a cell's length at most; rows hold no more cells than
// there are columns).
constexpr size_t kChunkTextSoftLimit = size_t(256) << 20;
constexpr size_t kChunkTextHardLimit = std::numeric_limits<uint32_t>::max() - (size_t(1) << 20);

bool StartsWith(std::string_view str, std::string_view strPrefix)
{
    return str.substr(0, strPrefix.size()) == strPrefix;
}

} // namespace

// Rows [first, first + rows) of the grid, packed into one text buffer: each
// row is its cells one after the other, each cell its UTF-8 length as a
// base-128 varint followed by its bytes. aRowStart[r] is where row r begins
// (one extra entry for the end). A cell costs its text plus one length byte
// for texts under 128 bytes; rows may hold fewer cells than there are columns.
struct CPreviewGridModel::Chunk {
    std::string strText;
    std::vector<uint32_t> aRowStart{0};
    // One flag per row: the record is marked deleted (a bit a row, so a
    // million rows cost 125 KB).
    std::vector<bool> aDeleted;

    int Rows() const { return static_cast<int>(aRowStart.size()) - 1; }

    // Reads the length at nPos and moves nPos past it.
    static size_t ReadLength(std::string_view str, size_t& nPos)
    {
        size_t nLength = 0;
        for (int nShift = 0; nPos < str.size() && nShift < 35; nShift += 7) {
            const auto by = static_cast<unsigned char>(str[nPos++]);
            nLength |= static_cast<size_t>(by & 0x7F) << nShift;
            if (!(by & 0x80))
                break;
        }
        return nLength;
    }
    static void AppendCell(std::string& str, std::string_view strCell)
    {
        size_t nLength = strCell.size();
        while (nLength >= 0x80) {
            str.push_back(static_cast<char>((nLength & 0x7F) | 0x80));
            nLength >>= 7;
        }
        str.push_back(static_cast<char>(nLength));
        str.append(strCell);
    }

    std::string_view RowBytes(int nRow) const
    {
        return std::string_view(strText).substr(aRowStart[nRow], aRowStart[nRow + 1] - aRowStart[nRow]);
    }
    int CellCount(int nRow) const
    {
        const std::string_view strRow = RowBytes(nRow);
        int nCells = 0;
        for (size_t nPos = 0; nPos < strRow.size(); ++nCells)
            nPos += ReadLength(strRow, nPos);
        return nCells;
    }
    std::string_view Cell(int nRow, int nColumn) const
    {
        if (nColumn < 0)
            return {};
        const std::string_view strRow = RowBytes(nRow);
        size_t nPos = 0;
        for (int i = 0; nPos < strRow.size(); ++i) {
            const size_t nLength = ReadLength(strRow, nPos);
            if (i == nColumn)
                return strRow.substr(nPos, nLength);
            nPos += nLength;
        }
        return {};
    }
    std::vector<std::string> RowCopy(int nRow) const
    {
        std::vector<std::string> aCells;
        const std::string_view strRow = RowBytes(nRow);
        for (size_t nPos = 0; nPos < strRow.size();) {
            const size_t nLength = ReadLength(strRow, nPos);
            aCells.emplace_back(strRow.substr(nPos, nLength));
            nPos += nLength;
        }
        return aCells;
    }

    void AppendRow(const std::vector<std::string_view>& aCells, bool bDeleted = false)
    {
        for (std::string_view str : aCells)
            AppendCell(strText, str);
        aRowStart.push_back(static_cast<uint32_t>(strText.size()));
        aDeleted.push_back(bDeleted);
    }

    // Replaces the cells of row nRow; the rows after it move.
    template <class Strings> void ReplaceRow(int nRow, const Strings& aCells)
    {
        std::string strNew;
        for (const auto& str : aCells)
            AppendCell(strNew, std::string_view(str.data(), str.size()));
        const uint32_t nStart = aRowStart[nRow];
        const uint32_t nOldLength = aRowStart[nRow + 1] - nStart;
        const int64_t nDelta = static_cast<int64_t>(strNew.size()) - nOldLength;
        strText.replace(nStart, nOldLength, strNew);
        for (size_t r = static_cast<size_t>(nRow) + 1; r < aRowStart.size(); ++r)
            aRowStart[r] = static_cast<uint32_t>(aRowStart[r] + nDelta);
    }

    // Inserts an empty row before row nRow (nRow == Rows() appends).
    void InsertEmptyRow(int nRow)
    {
        aRowStart.insert(aRowStart.begin() + nRow, aRowStart[nRow]);
        aDeleted.insert(aDeleted.begin() + nRow, false);
    }

    // Moves rows [nFrom, Rows()) into a new chunk.
    std::unique_ptr<Chunk> SplitOff(int nFrom)
    {
        auto pTail = std::make_unique<Chunk>();
        const uint32_t nBase = aRowStart[nFrom];
        pTail->strText.assign(strText, nBase, std::string::npos);
        pTail->aRowStart.clear();
        for (size_t r = static_cast<size_t>(nFrom); r < aRowStart.size(); ++r)
            pTail->aRowStart.push_back(aRowStart[r] - nBase);
        pTail->aDeleted.assign(aDeleted.begin() + nFrom, aDeleted.end());
        strText.resize(nBase);
        aRowStart.resize(static_cast<size_t>(nFrom) + 1);
        aDeleted.resize(static_cast<size_t>(nFrom));
        Compact();
        pTail->Compact();
        return pTail;
    }

    void Compact()
    {
        strText.shrink_to_fit();
        aRowStart.shrink_to_fit();
        aDeleted.shrink_to_fit();
    }

    size_t MemoryBytes() const
    {
        return sizeof(Chunk) + strText.capacity() + aRowStart.capacity() * sizeof(uint32_t)
               + aDeleted.capacity() / 8;
    }
};

CPreviewGridModel::CPreviewGridModel(QObject* pParent) : QAbstractTableModel(pParent) {}

CPreviewGridModel::~CPreviewGridModel() = default;

void CPreviewGridModel::ClearGrid()
{
    beginResetModel();
    m_aColumns.clear();
    m_aChunks.clear();
    m_aChunkFirstRow.clear();
    m_nRows = 0;
    m_spMended.reset();
    endResetModel();
}

void CPreviewGridModel::DeleteAllRows()
{
    m_spMended.reset();
    if (m_nRows == 0)
        return;
    beginRemoveRows(QModelIndex(), 0, m_nRows - 1);
    m_aChunks.clear();
    m_aChunkFirstRow.clear();
    m_nRows = 0;
    endRemoveRows();
}

void CPreviewGridModel::InsertColumn(int nIndex, const QString& strHeading, int nWidth)
{
    const int nColumns = static_cast<int>(m_aColumns.size());
    nIndex = std::clamp(nIndex, 0, nColumns);
    beginInsertColumns(QModelIndex(), nIndex, nIndex);
    m_aColumns.insert(m_aColumns.begin() + nIndex, ColumnInfo{strHeading, nWidth});
    // Cells at and after the new column move one to the right, as in a list
    // control. Only rows that reach that far need touching.
    for (auto& pChunk : m_aChunks) {
        for (int r = 0; r < pChunk->Rows(); ++r) {
            if (pChunk->CellCount(r) <= nIndex)
                continue;
            std::vector<std::string> aCells = pChunk->RowCopy(r);
            aCells.insert(aCells.begin() + nIndex, std::string());
            pChunk->ReplaceRow(r, aCells);
        }
    }
    endInsertColumns();
    emit columnWidthSet(nIndex, nWidth);
}

void CPreviewGridModel::InsertRow(int nIndex, std::string_view strLabel)
{
    nIndex = std::clamp(nIndex, 0, m_nRows);
    beginInsertRows(QModelIndex(), nIndex, nIndex);
    if (nIndex == m_nRows) {
        if (m_aChunks.empty() || m_aChunks.back()->Rows() >= kChunkRows ||
            m_aChunks.back()->strText.size() + strLabel.size() > kChunkTextSoftLimit) {
            if (!m_aChunks.empty())
                m_aChunks.back()->Compact();
            m_aChunks.push_back(std::make_unique<Chunk>());
            m_aChunkFirstRow.push_back(m_nRows);
        }
        m_aChunks.back()->AppendRow({strLabel});
    } else {
        const auto it = std::upper_bound(m_aChunkFirstRow.begin(), m_aChunkFirstRow.end(), nIndex);
        const size_t nChunk = static_cast<size_t>(it - m_aChunkFirstRow.begin()) - 1;
        Chunk& chunk = *m_aChunks[nChunk];
        const int nLocal = nIndex - m_aChunkFirstRow[nChunk];
        std::string_view strFitting = strLabel.substr(
            0, std::min(strLabel.size(), kChunkTextHardLimit - chunk.strText.size()));
        chunk.InsertEmptyRow(nLocal);
        chunk.ReplaceRow(nLocal, std::vector<std::string_view>{strFitting});
        for (size_t i = nChunk + 1; i < m_aChunkFirstRow.size(); ++i)
            ++m_aChunkFirstRow[i];
        if (chunk.Rows() > 2 * kChunkRows) {
            const int nHalf = chunk.Rows() / 2;
            m_aChunks.insert(m_aChunks.begin() + nChunk + 1, chunk.SplitOff(nHalf));
            m_aChunkFirstRow.insert(m_aChunkFirstRow.begin() + nChunk + 1,
                                    m_aChunkFirstRow[nChunk] + nHalf);
        }
    }
    ++m_nRows;
    endInsertRows();
}

void CPreviewGridModel::SetCellText(int nRow, int nColumn, std::string_view strText)
{
    // Like a list control, a cell of a row or column that does not exist is
    // not set.
    if (nRow < 0 || nRow >= m_nRows || nColumn < 0 || nColumn >= columnCount())
        return;
    const auto it = std::upper_bound(m_aChunkFirstRow.begin(), m_aChunkFirstRow.end(), nRow);
    const size_t nChunk = static_cast<size_t>(it - m_aChunkFirstRow.begin()) - 1;
    Chunk& chunk = *m_aChunks[nChunk];
    const int nLocal = nRow - m_aChunkFirstRow[nChunk];

    std::vector<std::string> aCells = chunk.RowCopy(nLocal);
    if (static_cast<int>(aCells.size()) <= nColumn)
        aCells.resize(static_cast<size_t>(nColumn) + 1);
    const size_t nRoom = kChunkTextHardLimit - (chunk.strText.size() - aCells[nColumn].size());
    aCells[nColumn].assign(strText.substr(0, std::min(strText.size(), nRoom)));
    chunk.ReplaceRow(nLocal, aCells);

    const QModelIndex index = createIndex(nRow, nColumn);
    if (nColumn == 1) // the row's colours follow column 1
        emit dataChanged(createIndex(nRow, 0), createIndex(nRow, std::max(0, columnCount() - 1)));
    else
        emit dataChanged(index, index);
}

void CPreviewGridModel::AppendRows(const CPreviewRowBatch& batch)
{
    if (batch.IsEmpty())
        return;
    const auto& aCells = batch.GetCells();
    // Cells normally arrive row by row; order them by row otherwise, keeping
    // the order of calls for one cell so that the last text set wins.
    std::vector<uint32_t> aOrder(aCells.size());
    std::iota(aOrder.begin(), aOrder.end(), 0u);
    const bool bSorted = std::is_sorted(aCells.begin(), aCells.end(),
                                        [](const auto& a, const auto& b) { return a.nRow < b.nRow; });
    if (!bSorted)
        std::stable_sort(aOrder.begin(), aOrder.end(),
                         [&](uint32_t a, uint32_t b) { return aCells[a].nRow < aCells[b].nRow; });

    const int nFirst = m_nRows;
    const int nCount = batch.GetRowCount();
    std::vector<bool> aDeleted(static_cast<size_t>(nCount), false);
    for (const uint32_t nRow : batch.GetDeletedRows())
        aDeleted[nRow] = true;
    beginInsertRows(QModelIndex(), nFirst, nFirst + nCount - 1);
    size_t nNext = 0;
    std::vector<std::string_view> aRow;
    for (int r = 0; r < nCount; ++r) {
        aRow.clear();
        size_t nRowBytes = 0;
        for (; nNext < aOrder.size() && aCells[aOrder[nNext]].nRow == static_cast<uint32_t>(r); ++nNext) {
            const auto& cell = aCells[aOrder[nNext]];
            if (cell.nColumn >= m_aColumns.size())
                continue;
            if (aRow.size() <= cell.nColumn)
                aRow.resize(cell.nColumn + 1);
            nRowBytes -= aRow[cell.nColumn].size();
            aRow[cell.nColumn] = batch.GetText(cell);
            nRowBytes += cell.nLength;
        }
        if (m_aChunks.empty() || m_aChunks.back()->Rows() >= kChunkRows ||
            m_aChunks.back()->strText.size() + nRowBytes > kChunkTextSoftLimit) {
            if (!m_aChunks.empty())
                m_aChunks.back()->Compact();
            m_aChunks.push_back(std::make_unique<Chunk>());
            m_aChunkFirstRow.push_back(m_nRows);
        }
        // A single row beyond the chunk's addressable text keeps what fits.
        size_t nRoom = kChunkTextHardLimit - m_aChunks.back()->strText.size();
        for (auto& str : aRow) {
            str = str.substr(0, std::min(str.size(), nRoom));
            nRoom -= str.size();
        }
        m_aChunks.back()->AppendRow(aRow, aDeleted[static_cast<size_t>(r)]);
        ++m_nRows;
    }
    endInsertRows();
}

int CPreviewGridModel::GetColumnWidth(int nColumn) const
{
    if (nColumn < 0 || nColumn >= static_cast<int>(m_aColumns.size()))
        return 0;
    return m_aColumns[nColumn].nWidth;
}

QString CPreviewGridModel::GetCellText(int nRow, int nColumn) const
{
    if (nRow < 0 || nRow >= m_nRows)
        return QString();
    const auto it = std::upper_bound(m_aChunkFirstRow.begin(), m_aChunkFirstRow.end(), nRow);
    const size_t nChunk = static_cast<size_t>(it - m_aChunkFirstRow.begin()) - 1;
    const std::string_view str = m_aChunks[nChunk]->Cell(nRow - m_aChunkFirstRow[nChunk], nColumn);
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

std::pair<size_t, int> CPreviewGridModel::Locate(int nRow) const
{
    const auto it = std::upper_bound(m_aChunkFirstRow.begin(), m_aChunkFirstRow.end(), nRow);
    const size_t nChunk = static_cast<size_t>(it - m_aChunkFirstRow.begin()) - 1;
    return {nChunk, nRow - m_aChunkFirstRow[nChunk]};
}

void CPreviewGridModel::SetRowDeleted(int nRow)
{
    if (nRow < 0 || nRow >= m_nRows)
        return;
    const auto [nChunk, nLocal] = Locate(nRow);
    m_aChunks[nChunk]->aDeleted[static_cast<size_t>(nLocal)] = true;
    emit dataChanged(createIndex(nRow, 0), createIndex(nRow, std::max(0, columnCount() - 1)));
}

bool CPreviewGridModel::IsRowDeleted(int nRow) const
{
    if (nRow < 0 || nRow >= m_nRows)
        return false;
    const auto [nChunk, nLocal] = Locate(nRow);
    return m_aChunks[nChunk]->aDeleted[static_cast<size_t>(nLocal)];
}

size_t CPreviewGridModel::GetMemoryBytes() const
{
    size_t nBytes = m_aChunks.capacity() * sizeof(m_aChunks[0]) +
                    m_aChunkFirstRow.capacity() * sizeof(int);
    for (const auto& pChunk : m_aChunks)
        nBytes += pChunk->MemoryBytes();
    return nBytes;
}

QColor CPreviewGridModel::CellBackground(int nColumn, std::string_view strColumn1)
{
    if (StartsWith(strColumn1, "Progress"))
        return QColor(0, 0, 0);
    switch (nColumn) {
    case 0: return QColor(245, 243, 178);
    case 1:
    case 3: return QColor(248, 233, 243);
    case 2:
    case 4:
    case 5: return QColor(220, 242, 226);
    default: return QColor();
    }
}

QColor CPreviewGridModel::CellForeground(std::string_view strColumn1)
{
    if (StartsWith(strColumn1, "Pending"))
        return QColor(0, 0, 0);
    if (StartsWith(strColumn1, "Done"))
        return QColor(0, 0, 255);
    if (StartsWith(strColumn1, "Fail"))
        return QColor(255, 0, 0);
    if (StartsWith(strColumn1, "Progress"))
        return QColor(0, 255, 0);
    return QColor();
}

QColor CPreviewGridModel::DeletedRowForeground()
{
    return QColor(128, 128, 128);
}

QString CPreviewGridModel::DeletedRowLabel(const QString& strLabel)
{
    return strLabel + QStringLiteral(" *");
}

void CPreviewGridModel::SetMendedCells(std::shared_ptr<const CMendedCells> spCells)
{
    m_spMended = std::move(spCells);
    if (m_nRows > 0 && columnCount() > 0)
        emit dataChanged(index(0, 0), index(m_nRows - 1, columnCount() - 1),
                         {Qt::BackgroundRole, Qt::ToolTipRole});
}

const CMendedCells::Cell* CPreviewGridModel::GetMendedCell(int nRow, int nColumn) const
{
    return m_spMended ? m_spMended->Find(int64_t{nRow} + 1, nColumn) : nullptr;
}

QColor CPreviewGridModel::MendedCellBackground()
{
    return QColor(255, 196, 140);
}

QString CPreviewGridModel::MendedCellToolTip(const CMendedCells::Cell& cell)
{
    // Printable ASCII as it is, every other byte as \xNN: the bytes
    // themselves, not what a code page makes of them.
    QString strBytes;
    for (const char ch : cell.strBytes) {
        const auto by = static_cast<unsigned char>(ch);
        if (by >= 0x20 && by < 0x7F && by != '\\')
            strBytes += QLatin1Char(ch);
        else
            strBytes += QStringLiteral("\\x") + QString::number(by, 16).rightJustified(2, QLatin1Char('0')).toUpper();
    }
    if (!cell.bCutOff && cell.strBytes.size() < cell.nLength)
        strBytes += QStringLiteral("...");
    if (cell.bCutOff) {
        return QStringLiteral("Mended: the file ends inside this value, after %1 of its %2 bytes: \"%3\"")
            .arg(cell.strBytes.size())
            .arg(cell.nLength)
            .arg(strBytes);
    }
    return QStringLiteral("Mended: the source held \"%1\"").arg(strBytes);
}

int CPreviewGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_nRows;
}

int CPreviewGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_aColumns.size());
}

QVariant CPreviewGridModel::data(const QModelIndex& index, int nRole) const
{
    if (!index.isValid() || index.row() >= m_nRows || index.column() >= columnCount())
        return QVariant();
    const int nRow = index.row();
    const auto it = std::upper_bound(m_aChunkFirstRow.begin(), m_aChunkFirstRow.end(), nRow);
    const size_t nChunk = static_cast<size_t>(it - m_aChunkFirstRow.begin()) - 1;
    const Chunk& chunk = *m_aChunks[nChunk];
    const int nLocal = nRow - m_aChunkFirstRow[nChunk];
    const bool bDeleted = chunk.aDeleted[static_cast<size_t>(nLocal)];

    switch (nRole) {
    case Qt::DisplayRole: {
        std::string_view str = chunk.Cell(nLocal, index.column());
        // A text field's padding is no part of its value; shown, it pushes a
        // short value into the cell's "..." as if it were cut off.
        while (!str.empty() && str.back() == ' ')
            str.remove_suffix(1);
        const QString strText = QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
        return bDeleted && index.column() == 0 ? DeletedRowLabel(strText) : strText;
    }
    case Qt::ToolTipRole: {
        QStringList aTips;
        if (bDeleted)
            aTips << QStringLiteral("Marked deleted in the repaired table");
        if (const CMendedCells::Cell* pCell = GetMendedCell(nRow, index.column()))
            aTips << MendedCellToolTip(*pCell);
        return aTips.isEmpty() ? QVariant() : QVariant(aTips.join(QLatin1Char('\n')));
    }
    case Qt::ForegroundRole: {
        const QColor color = bDeleted ? DeletedRowForeground() : CellForeground(chunk.Cell(nLocal, 1));
        return color.isValid() ? QVariant(QBrush(color)) : QVariant();
    }
    case Qt::BackgroundRole: {
        const QColor color = GetMendedCell(nRow, index.column()) ? MendedCellBackground()
                                                                  : CellBackground(index.column(), chunk.Cell(nLocal, 1));
        return color.isValid() ? QVariant(QBrush(color)) : QVariant();
    }
    case Qt::TextAlignmentRole:
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

QVariant CPreviewGridModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const
{
    if (orientation != Qt::Horizontal || nSection < 0 || nSection >= columnCount())
        return QVariant();
    if (nRole == Qt::DisplayRole)
        return m_aColumns[nSection].strHeading;
    if (nRole == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}

Qt::ItemFlags CPreviewGridModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
