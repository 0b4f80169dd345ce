#pragma once
// What the texts of an open table show of their code page: the character and
// memo texts of every record, voted on as CCodePageDecoder describes. dump
// decodes by it and info tells it, so both name the same code page.

#include "platform/CodePageDecoder.h"

#include <cstdint>

class CDBFRecordset;

// Adds the character and memo texts of record nRecord to the vote; leaves
// the recordset on it.
void AddRecordTexts(CDBFRecordset& rs, int32_t nRecord, CCodePageDecoder::CTextVote& vote);

// Reads every record; leaves the recordset on the last one.
TextEvidence TableTextEvidence(CDBFRecordset& rs);
