#pragma once
// FoxPro and Visual FoxPro memo file (.FPT, .DCT; kinds 4, 8 and 12): values
// with an 8-byte big-endian block header (block type and length), appended at
// the header's next free block; a replaced value that no longer fits is
// abandoned. New files take block size 64 unless SetNewBlockSize says
// otherwise (1 to 65535 bytes).

#include "dbf/ByteCodec.h"
#include "dbf/MemoFile.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The header of every FoxPro memo value (big-endian), read by the memo file
// and by the repair's raw reader alike:
//
// OFFSET  SIZE  MEANING
//      0     4  block type: 0 picture (binary), 1 text, 2 object
//      4     4  data length n; the data follows at offset 8
struct FoxProBlockHeader {
    static constexpr size_t kSize = 8;
    static constexpr uint32_t kTypePicture = 0;
    static constexpr uint32_t kTypeText = 1;
    static constexpr uint32_t kTypeObject = 2;
    uint32_t nType = 0;
    uint32_t nLength = 0;

    static FoxProBlockHeader Decode(const unsigned char* p)
    {
        return {dbfbytes::DecodeFixed32BE(p), dbfbytes::DecodeFixed32BE(p + 4)};
    }
    void EncodeTo(unsigned char* p) const
    {
        dbfbytes::EncodeFixed32BE(p, nType);
        dbfbytes::EncodeFixed32BE(p + 4, nLength);
    }
};

class CFPTMemoFile : public CMemoFile {
public:
    CFPTMemoFile();
    ~CFPTMemoFile() override;

    void Close() override;
    dbfformat::MemoKind GetMemoKind() const override;

    // The next free block as last read or written.
    uint32_t GetNextFreeBlock() const { return m_nNextFree; }

    static constexpr size_t kHeaderSize = 8;

protected:
    void WriteNewHeader() override;
    void LoadHeader() override;
    uint32_t ReadValue(uint32_t nBlock, uint32_t nLength, std::vector<unsigned char>& data,
                       bool& bTerminated) override;
    uint32_t StoreText(uint32_t nBlock, uint32_t& nLength, const std::string& strText) override;
    uint32_t AppendBytes(std::span<const unsigned char> bytes, uint32_t nBlockType) override;
    uint32_t MaxNewBlockSize() const override;

private:
    // Re-reads the header image from the file (3012 when short).
    void ReadHeader();

    std::array<unsigned char, kHeaderSize> m_fptHeader {};
    uint32_t m_nNextFree = 0;
};
