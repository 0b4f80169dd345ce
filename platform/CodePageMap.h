#pragma once
// One code page's bytes as UTF-8, byte for byte as the code page tables of
// IBM and Microsoft define them, whatever the system's converter (glibc's
// iconv or Windows) thinks of the corners: the IBM PC control characters,
// the bytes a Windows code page leaves undefined, a double-byte lead that
// has no trail.
//
// Single-byte code pages are read through a table of all 256 bytes made
// once from the system's converter; the double-byte ones (932, 936, 949,
// 950) are cut into characters here and each character converted. A byte
// or a lead without its trail that the code page does not define becomes
// U+FFFD (U+001A in 932, IBM's substitute), a lead at the very end is
// dropped, a lead followed by a byte that cannot trail it is replaced alone
// and the byte read anew.

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

class CSystemCodec;

class CCodePageMap {
public:
    // strName: "IBM850", "windows-1251", "cp1251", "Big5", "UTF-8", or any
    // name the system's converter knows.
    explicit CCodePageMap(const std::string& strName);
    ~CCodePageMap();
    CCodePageMap(const CCodePageMap&) = delete;
    CCodePageMap& operator=(const CCodePageMap&) = delete;

    bool IsValid() const { return m_eKind != Kind::none; }
    std::string ToUtf8(std::string_view bytes);

    // The Windows number of the code page strName names (1252 for
    // "windows-1252" and "cp1252", 10000 for "macintosh", 65001 for UTF-8),
    // 0 when the name has none the program knows.
    static unsigned CodePageNumber(const std::string& strName);

    // The lead and trail bytes of a double-byte code page.
    struct DoubleByteRules {
        unsigned nCodePage;
        bool (*pfnIsLead)(unsigned char);
        bool (*pfnIsTrail)(unsigned char);
        char32_t chUndefined; // for a byte or a lead the code page does not define
    };

private:
    enum class Kind { none, utf8, singleByte, doubleByte, other };

    void BuildByteTable(unsigned nCodePage);
    void AppendUtf8(std::string_view bytes, std::string& strOut) const;
    void AppendDoubleByte(std::string_view bytes, std::string& strOut);
    // The UTF-8 of a lead and trail (lead << 8 | trail), cached.
    const std::string& PairUtf8(unsigned nPair);
    void AppendOther(std::string_view bytes, std::string& strOut);

    Kind m_eKind = Kind::none;
    std::unique_ptr<CSystemCodec> m_pCodec;
    // The UTF-8 of each byte read alone (single-byte code pages, and the
    // single bytes of the double-byte ones); empty for a lead byte.
    std::array<std::string, 256> m_byteTable;
    const DoubleByteRules* m_pRules = nullptr;
    std::unordered_map<unsigned, std::string> m_pairCache;
};
