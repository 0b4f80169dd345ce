#include "platform/JsonWriter.h"

#include "platform/CodePageDecoder.h"

#include <cstdio>

void CJsonWriter::BeforeItem()
{
    if (m_bAfterKey) {
        m_bAfterKey = false;
        return;
    }
    if (!m_empty.empty()) {
        if (!m_empty.back())
            m_strText += m_style.pszComma;
        m_empty.back() = false;
    }
    if (m_bLineBreak) {
        m_strText += '\n';
        m_bLineBreak = false;
    }
}

CJsonWriter& CJsonWriter::Open(char chBracket)
{
    BeforeItem();
    m_strText += chBracket;
    m_empty.push_back(true);
    return *this;
}

CJsonWriter& CJsonWriter::Close(char chBracket)
{
    if (m_bLineBreak) {
        m_strText += '\n';
        m_bLineBreak = false;
    }
    m_strText += chBracket;
    if (!m_empty.empty())
        m_empty.pop_back();
    return *this;
}

CJsonWriter& CJsonWriter::BeginObject()
{
    return Open('{');
}

CJsonWriter& CJsonWriter::EndObject()
{
    return Close('}');
}

CJsonWriter& CJsonWriter::BeginArray()
{
    return Open('[');
}

CJsonWriter& CJsonWriter::EndArray()
{
    return Close(']');
}

CJsonWriter& CJsonWriter::Key(std::string_view key)
{
    BeforeItem();
    m_strText += Quote(key, m_style.bEscapeDelete);
    m_strText += m_style.pszColon;
    m_bAfterKey = true;
    return *this;
}

CJsonWriter& CJsonWriter::String(std::string_view text)
{
    return Raw(Quote(text, m_style.bEscapeDelete));
}

CJsonWriter& CJsonWriter::StringOrNull(std::string_view text)
{
    return text.empty() ? Null() : String(text);
}

CJsonWriter& CJsonWriter::Strings(const std::vector<std::string>& texts)
{
    BeginArray();
    for (const std::string& str : texts)
        String(str);
    return EndArray();
}

CJsonWriter& CJsonWriter::Fixed(double d, int nDecimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", nDecimals, d);
    return Raw(buf);
}

CJsonWriter& CJsonWriter::Bool(bool b)
{
    return Raw(b ? "true" : "false");
}

CJsonWriter& CJsonWriter::Null()
{
    return Raw("null");
}

CJsonWriter& CJsonWriter::Raw(std::string_view json)
{
    BeforeItem();
    m_strText += json;
    return *this;
}

CJsonWriter& CJsonWriter::LineBreak()
{
    m_bLineBreak = true;
    return *this;
}

std::string CJsonWriter::Take()
{
    std::string strOut;
    strOut.swap(m_strText);
    return strOut;
}

std::string CJsonWriter::Quote(std::string_view text, bool bEscapeDelete)
{
    std::string strOut = "\"";
    char buf[8];
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '"': strOut += "\\\""; break;
            case '\\': strOut += "\\\\"; break;
            case '\n': strOut += "\\n"; break;
            case '\r': strOut += "\\r"; break;
            case '\t': strOut += "\\t"; break;
            default:
                if (c < 0x20 || (c == 0x7F && bEscapeDelete)) {
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    strOut += buf;
                } else {
                    strOut += static_cast<char>(c);
                }
            }
            ++i;
            continue;
        }
        if (const size_t nLength = CCodePageDecoder::Utf8SequenceLength(text, i); nLength > 0) {
            strOut.append(text, i, nLength);
            i += nLength;
            continue;
        }
        std::snprintf(buf, sizeof buf, "\\udc%02x", c);
        strOut += buf;
        ++i;
    }
    return strOut + "\"";
}
