#include "cli/TextDecoder.h"

#include <QStringDecoder>

CTextDecoder::CTextDecoder(uint8_t nMark, bool bTextIsUtf8, const std::string& strEncoding)
    : m_markDecoder(nMark, bTextIsUtf8)
{
    if (!strEncoding.empty())
        m_pNamed = std::make_unique<QStringDecoder>(strEncoding.c_str(), QStringConverter::Flag::Stateless);
}

CTextDecoder::~CTextDecoder() = default;

std::string CTextDecoder::ToUtf8(std::string_view bytes)
{
    if (!m_pNamed)
        return m_markDecoder.ToUtf8(bytes);
    const QString text = m_pNamed->decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return text.toUtf8().toStdString();
}

bool CTextDecoder::IsKnownEncoding(const std::string& strEncoding)
{
    return !strEncoding.empty() && QStringDecoder(strEncoding.c_str()).isValid();
}
