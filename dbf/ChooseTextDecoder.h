#pragma once
// The code page a table's texts are read in, chosen by one rule for every
// reader: the encoding the user named; else the one the code-page mark
// names; else, for a table whose mark decides nothing, the one its texts
// vote for (CCodePageDecoder::CTextVote). Only then are texts read: each
// reader hands over those of its sample, record by record.

#include "platform/CodePageDecoder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Adds the texts of record nRecord (from 0) of the sample to the vote;
// false when the table holds no such record.
using SampleRecordTexts = std::function<bool(int64_t nRecord, CCodePageDecoder::CTextVote& vote)>;

// strEncoding: empty, or a name IsKnownEncoding accepts. The vote takes the
// texts of at most nSampleRecords records.
std::unique_ptr<CCodePageDecoder> ChooseTextDecoder(uint8_t nMark, const std::string& strEncoding,
                                                    int64_t nSampleRecords, const SampleRecordTexts& addTexts);
