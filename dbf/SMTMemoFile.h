#pragma once
// SIx memo file (.SMT, kind 16) of Clipper tables: values stored as raw bytes
// without block header or terminator, their length kept in the record, and a
// table of up to 81 free runs in the header that freed values return to and
// new values take from (first fit). New files take block size 128 unless
// SetNewBlockSize says otherwise (1 and up: the header keeps 32 bits).

#include "dbf/MemoFile.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CSMTMemoFile : public CMemoFile {
public:
    CSMTMemoFile();
    ~CSMTMemoFile() override;

    void Close() override;
    dbfformat::MemoKind GetMemoKind() const override;

    static constexpr size_t kHeaderSize = 510;
    static constexpr unsigned kMaxFreeRuns = 81;

protected:
    void WriteNewHeader() override;
    void LoadHeader() override;
    // nLength is an input here: the value's length as the record keeps it;
    // it is handed back unchanged.
    uint32_t ReadValue(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                       bool& bTerminated) override;
    uint32_t StoreText(uint32_t nBlock, uint32_t& nLength, const std::string& strText) override;
    uint32_t AppendBytes(std::span<const unsigned char> bytes, uint32_t nBlockType) override;

private:
    // Re-reads the header image from the file (3012 when short).
    void ReadHeader();
    void WriteHeader();
    // The first block after the header.
    uint32_t FirstDataBlock() const;
    // Whether nBlock names a block of the data area that the file holds.
    bool IsDataBlock(uint32_t nBlock) const;
    // Takes nNeed blocks from the free-run table; 0 when no run fits.
    uint32_t TakeFirstFit(uint32_t nNeed);
    // Writes the bytes into a free run that fits, else at the end.
    uint32_t StoreNew(std::span<const unsigned char> bytes);
    uint32_t AppendValue(std::span<const unsigned char> bytes);
    void FreeRunAt(uint32_t nBlock, uint64_t nCount);

    std::array<unsigned char, kHeaderSize> m_smtHeader {};
};
