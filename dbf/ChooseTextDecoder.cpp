#include "dbf/ChooseTextDecoder.h"

std::unique_ptr<CCodePageDecoder> ChooseTextDecoder(uint8_t nMark, const std::string& strEncoding,
                                                    int64_t nSampleRecords, const SampleRecordTexts& addTexts)
{
    if (!strEncoding.empty() || !CCodePageDecoder::IsUndecidedMark(nMark))
        return std::make_unique<CCodePageDecoder>(nMark, TextEvidence::None, strEncoding);
    CCodePageDecoder::CTextVote vote;
    for (int64_t n = 0; n < nSampleRecords && addTexts(n, vote); ++n) {
    }
    return std::make_unique<CCodePageDecoder>(nMark, vote.GetEvidence());
}
