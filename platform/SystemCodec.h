#pragma once
// The system's converter from a code page to UTF-8: iconv on Linux,
// MultiByteToWideChar on Windows. It converts a whole byte string or
// nothing; what to put in place of bytes it refuses is the caller's choice
// (CCodePageMap).

#include <memory>
#include <string>
#include <string_view>

class CSystemCodec {
public:
    enum Result {
        converted,
        invalid,    // a byte or sequence the code page does not define
        incomplete, // the bytes end inside a multi-byte character
    };

    // The code page by its Windows number (437, 1252, 932, ...) or, when the
    // number is 0, by the name the system knows it under (Linux only).
    CSystemCodec(unsigned nCodePage, const std::string& strName);
    ~CSystemCodec();
    CSystemCodec(const CSystemCodec&) = delete;
    CSystemCodec& operator=(const CSystemCodec&) = delete;

    bool IsValid() const;
    // Appends the UTF-8 of bytes to strUtf8 when every byte converts;
    // otherwise leaves strUtf8 as it was.
    Result Decode(std::string_view bytes, std::string& strUtf8);

private:
    struct Handle;
    std::unique_ptr<Handle> m_pHandle;
};
