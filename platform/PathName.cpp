#include "platform/PathName.h"

std::filesystem::path CPathName::ToPath(const std::string& strUtf8)
{
    return std::filesystem::path(std::u8string(strUtf8.begin(), strUtf8.end()));
}

std::string CPathName::FromPath(const std::filesystem::path& path)
{
    const std::u8string strUtf8 = path.u8string();
    return std::string(strUtf8.begin(), strUtf8.end());
}
