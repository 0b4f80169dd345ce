#include "dbf/ChooseTextDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A named encoding wins, then a mark that names a code page; only a mark
// that decides nothing reads the texts, and no more records than the
// sample holds.
TEST(ChooseTextDecoder, OnlyAnUndecidedMarkReadsItsSample)
{
    struct Case {
        uint8_t nMark;
        const char* lpszEncoding;
        std::vector<std::string> records; // one text per record
        int64_t nSample;
        const char* lpszName;
        size_t nRead; // records handed to the vote
    };
    const Case cases[] = {
        {0x00, "", {"plain", "Zo\xC3\xAB"}, 10, "UTF-8", 2},
        {0x00, "", {"plain", "g\x81" "ell"}, 10, "IBM850", 2},
        {0x00, "", {"plain", "Zo\xC3\xAB"}, 1, "windows-1252", 1},
        {0x00, "", {}, 10, "windows-1252", 0},
        {0xFE, "", {"Zo\xC3\xAB"}, 10, "UTF-8", 1},
        {0xC9, "", {"Zo\xC3\xAB"}, 10, "windows-1251", 0},
        {0x00, "IBM866", {"Zo\xC3\xAB"}, 10, "IBM866", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lpszName);
        size_t nRead = 0;
        const auto pDecoder = ChooseTextDecoder(c.nMark, c.lpszEncoding, c.nSample,
                                                [&](int64_t nRecord, CCodePageDecoder::CTextVote& vote) {
                                                    if (nRecord >= static_cast<int64_t>(c.records.size()))
                                                        return false;
                                                    vote.Add(c.records[static_cast<size_t>(nRecord)]);
                                                    ++nRead;
                                                    return true;
                                                });
        EXPECT_STREQ(pDecoder->GetName(), c.lpszName);
        EXPECT_EQ(nRead, c.nRead);
    }
}
