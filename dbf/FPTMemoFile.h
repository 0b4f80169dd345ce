#pragma once
// FoxPro and Visual FoxPro memo file (.FPT, .DCT; kinds 4, 8 and 12): values
// with an 8-byte big-endian block header, appended at the header's next free
// block; a replaced value that no longer fits is abandoned.

#include "dbf/MemoFile.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class CFPTMemoFile : public CMemoFile {
public:
    CFPTMemoFile();
    ~CFPTMemoFile() override;

    void Close() override;
    int GetMemoKind() const override;

    // The next free block as last read or written.
    uint32_t GetNextFreeBlock() const { return m_nNextFree; }

    static constexpr size_t kHeaderSize = 8;

protected:
    void WriteNewHeader() override;
    void LoadHeader() override;
    uint32_t ReadValue(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                       bool& bTerminated) override;
    uint32_t StoreText(uint32_t nBlock, uint32_t& nLength, const std::string& strText) override;

private:
    // Re-reads the header image from the file (3012 when short).
    void ReadHeader();
    uint32_t AppendValue(const std::string& strText);

    std::array<unsigned char, kHeaderSize> m_fptHeader {};
    uint32_t m_nNextFree = 0;
};
