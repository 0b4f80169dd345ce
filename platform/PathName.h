#pragma once
// std::filesystem::path to and from the program's UTF-8 strings. A path
// made from a std::string takes the system's narrow code page on Windows
// (and gives UTF-8 back), so "Données" would not survive the round trip;
// these two keep UTF-8 on every system.

#include <filesystem>
#include <string>

class CPathName {
public:
    static std::filesystem::path ToPath(const std::string& strUtf8);
    static std::string FromPath(const std::filesystem::path& path);
};
