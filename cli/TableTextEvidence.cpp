#include "cli/TableTextEvidence.h"

#include "dbf/DBFRecordset.h"

namespace {

// Texts of a type that holds characters (not binary memos).
bool IsTextField(const DBFFieldDescriptor& fd)
{
    const char chType = fd.GetType();
    return chType == 'C' || chType == 'M' || chType == 'V';
}

} // namespace

void AddRecordTexts(CDBFRecordset& rs, int32_t nRecord, CCodePageDecoder::CTextVote& vote)
{
    rs.Move(nRecord);
    for (int i = 0; i < rs.GetFieldCount(); ++i) {
        if (!IsTextField(rs.GetFieldInfo(i)))
            continue;
        const FieldValue v = rs.GetFieldValue(i);
        if (v.GetKind() == FieldKind::Text)
            vote.Add(v.GetText());
    }
}

TextEvidence TableTextEvidence(CDBFRecordset& rs)
{
    CCodePageDecoder::CTextVote vote;
    for (int32_t nRecord = 0; nRecord < rs.GetRecordCount(); ++nRecord)
        AddRecordTexts(rs, nRecord, vote);
    return vote.GetEvidence();
}
