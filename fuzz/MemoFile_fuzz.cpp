// Memo files of each kind: open one, read the values at four chosen blocks,
// store one text in place of a chosen value, and read it back.
//
// Input layout (integers little-endian):
//
// OFFSET  SIZE  MEANING
//      0     1  memo kind: 1, 3, 4, 8 or 16 by the byte modulo 5
//      1    16  four blocks to read
//     17     4  the length the record keeps, handed to the reads (SIx)
//     21     4  the block whose value the write replaces (0: none)
//     25     2  length of the text written, modulo 4096
//     27     1  first letter of the text
//     28     -  the memo file

#include "dbf/ByteCodec.h"
#include "dbf/DBFTableDef.h"
#include "dbf/MemoFile.h"
#include "fuzz/FuzzFiles.h"
#include "platform/Exception.h"

#include <algorithm>
#include <memory>

namespace {

constexpr size_t kInputHeader = 28;
using dbfformat::MemoKind;
const MemoKind kKinds[] = {MemoKind::DBase3, MemoKind::DBase4, MemoKind::FoxPro, MemoKind::VisualFoxPro,
                           MemoKind::SIx};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < kInputHeader)
        return 0;
    orvfuzz::SilenceReports();
    orvfuzz::ClearScratch();
    const MemoKind kind = kKinds[pData[0] % std::size(kKinds)];
    const std::string strPath = orvfuzz::ScratchFolder() + "/memo." + dbfformat::MemoKindExtension(kind);
    orvfuzz::WriteFile(strPath, std::span<const uint8_t>(pData + kInputHeader, nSize - kInputHeader));

    std::unique_ptr<CMemoFile> pMemo = MakeMemoFile(kind);
    try {
        if (!pMemo->OpenMemoFile(strPath, CFile::modeReadWrite | CFile::shareDenyNone))
            return 0;
    } catch (const CException&) {
        return 0;
    }
    ORV_FUZZ_CHECK(pMemo->IsMemoOpen(), "an open that succeeded leaves the memo open");
    ORV_FUZZ_CHECK(pMemo->GetBlockSize() >= 1, "the block size is at least 1");

    const uint32_t nRecordLength = dbfbytes::DecodeFixed32LE(pData + 17);
    for (int i = 0; i < 4; ++i) {
        const uint32_t nBlock = dbfbytes::DecodeFixed32LE(pData + 1 + 4 * i);
        uint32_t nLength = nRecordLength;
        std::vector<unsigned char> bytes;
        try {
            pMemo->ReadMemoBytes(nBlock, nLength, bytes);
        } catch (const CException&) {
            // A value that cannot be read is an answer, not a fault.
        }
    }

    uint32_t nBlock = dbfbytes::DecodeFixed32LE(pData + 21);
    const size_t nTextLength = dbfbytes::DecodeFixed16LE(pData + 25) % 4096;
    std::string strText(nTextLength, ' ');
    for (size_t i = 0; i < nTextLength; ++i)
        strText[i] = static_cast<char>('a' + (pData[27] + i) % 26);
    uint32_t nLength = nRecordLength;
    try {
        pMemo->WriteMemoText(nBlock, nLength, strText);
    } catch (const CException&) {
        return 0;
    }
    if (strText.empty()) {
        ORV_FUZZ_CHECK(nBlock == 0, "an empty text takes no block");
        return 0;
    }
    ORV_FUZZ_CHECK(nBlock != 0, "a stored text has a block");
    std::string strBack;
    uint32_t nBackLength = nLength;
    try {
        pMemo->ReadMemoText(nBlock, nBackLength, strBack);
    } catch (const CException& e) {
        orvfuzz::Broken("the text just written cannot be read back: " + e.GetMessage());
    }
    ORV_FUZZ_CHECK(strBack == strText, "the text just written reads back unchanged");
    return 0;
}

namespace {

std::vector<uint8_t> MemoInput(MemoKind kind, const std::vector<uint32_t>& blocks, uint32_t nLength,
                               const std::vector<uint8_t>& memo)
{
    std::vector<uint8_t> input(kInputHeader, 0);
    const auto* it = std::find(std::begin(kKinds), std::end(kKinds), kind);
    input[0] = static_cast<uint8_t>(it - std::begin(kKinds));
    for (size_t i = 0; i < 4; ++i)
        dbfbytes::EncodeFixed32LE(&input[1 + 4 * i], blocks.empty() ? 1 : blocks[i % blocks.size()]);
    dbfbytes::EncodeFixed32LE(&input[17], nLength);
    dbfbytes::EncodeFixed32LE(&input[21], blocks.empty() ? 0 : blocks.back());
    dbfbytes::EncodeFixed16LE(&input[25], 700);
    input.insert(input.end(), memo.begin(), memo.end());
    return input;
}

} // namespace

std::vector<std::vector<uint8_t>> orvfuzz::MakeSeeds(const std::string& strFixtures)
{
    std::vector<std::vector<uint8_t>> seeds;
    // A fresh file of every kind with a few values of different lengths.
    for (const MemoKind kind : kKinds) {
        ClearScratch();
        const std::string strPath = ScratchFolder() + "/seed." + dbfformat::MemoKindExtension(kind);
        std::vector<uint32_t> blocks;
        {
            std::unique_ptr<CMemoFile> pMemo = MakeMemoFile(kind);
            if (!pMemo->CreateMemoFile(strPath))
                Broken("cannot create a seed memo file");
            for (const size_t nLength : {5, 600, 1500}) {
                uint32_t nBlock = 0;
                uint32_t nStored = static_cast<uint32_t>(nLength);
                pMemo->WriteMemoText(nBlock, nStored, std::string(nLength, 'q'));
                blocks.push_back(nBlock);
            }
        }
        seeds.push_back(MemoInput(kind, blocks, 600, ReadFile(strPath)));
    }
    // The real memo files, with the kind their table's header asks for.
    for (const std::vector<uint8_t>& table : TableSeeds(strFixtures)) {
        const CarvedTable carved = Carve(table.data(), table.size());
        if (carved.strMemoExtension.empty() || carved.table.size() < 32)
            continue;
        const MemoKind kind = dbfformat::MemoKindForVersion(carved.table[0], carved.table[28]);
        if (kind == MemoKind::None)
            continue;
        seeds.push_back(MemoInput(kind == MemoKind::VisualFoxProDbc ? MemoKind::VisualFoxPro : kind,
                                  {1, 2, 8, 16}, 64, std::vector<uint8_t>(carved.memo.begin(), carved.memo.end())));
    }
    return seeds;
}
