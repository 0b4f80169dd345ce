#pragma once
// The storage engine's exception: a numeric code from 3001 to 3020 and a
// message made on demand ("Error number 0x00000BBE.").

#include "platform/Exception.h"

#include <cstdint>
#include <optional>
#include <string>

enum DBFErrorCode : int32_t {
    DBF_ERR_CREATE = 3001,          // the table file cannot be created
    DBF_ERR_OPEN = 3002,            // the table file cannot be opened
    DBF_ERR_HEADER_SHORT = 3004,    // the header is shorter than 32 bytes
    DBF_ERR_HEADER_IO = 3005,       // reading or writing the header fails
    DBF_ERR_HEADER_BAD = 3006,      // implausible record length, count or file size
    DBF_ERR_VFP_NO_FIELD = 3007,    // a Visual FoxPro header has no room for a field
    DBF_ERR_VFP_SHORT = 3008,       // a Visual FoxPro file is shorter than its records
    DBF_ERR_DESCRIPTORS = 3009,     // the field descriptors cannot be read
    DBF_ERR_MEMO_CREATE = 3010,     // the memo file cannot be created
    DBF_ERR_MEMO_OPEN = 3011,       // the memo file cannot be opened
    DBF_ERR_MEMO_HEADER = 3012,     // the memo header cannot be read
    DBF_ERR_MEMO_BLOCKSIZE = 3013,  // the memo block size is below 1
    DBF_ERR_MEMO_READ = 3014,       // a memo read fails or a memo length is bad
    DBF_ERR_MEMO_WRITE = 3015,      // a memo write fails
    DBF_ERR_RECORD_EOF = 3018,      // a record lies wholly or partly beyond the end of the file
    DBF_ERR_RECORD_READ = 3019,     // reading a record fails
    DBF_ERR_RECORD_WRITE = 3020,    // writing a record fails
};

class CDBFException : public CException {
public:
    explicit CDBFException(int32_t nErrorCode);
    CDBFException(int32_t nErrorCode, const char* lpszText);

    // Copies at most nMaxError - 1 characters and a NUL; builds the message
    // once and keeps it.
    bool GetErrorMessage(char* lpszError, unsigned nMaxError,
                         unsigned* pnHelpContext = nullptr) const override;

    int32_t m_nErrorCode;

private:
    struct MessageRecord {
        int32_t nCode;
        std::string strText;
    };
    mutable std::optional<MessageRecord> m_message;
};

// Raises CDBFException with the code; a text, when given, becomes the message.
[[noreturn]] void ThrowDBFException(int32_t nErrorCode, const char* lpszText = nullptr);
