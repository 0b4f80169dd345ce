#include "fuzz/FuzzFiles.h"

#include "platform/ErrorReporter.h"
#include "platform/TempFolder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace orvfuzz {

namespace {

class CNullReporter : public CErrorReporter {
public:
    void Report(const std::string&) override {}
};

const char* const kExtensions[] = {"dbt", "fpt", "smt", "DBT", "FPT", "SMT"};

} // namespace

CarvedTable Carve(const uint8_t* pData, size_t nSize)
{
    CarvedTable out;
    const std::span<const uint8_t> all(pData, nSize);
    const size_t nMarker = sizeof kMemoMarker - 1;
    const auto it = std::search(all.begin(), all.end(), kMemoMarker, kMemoMarker + nMarker);
    if (it == all.end()) {
        out.table = all;
        return out;
    }
    const size_t nAt = static_cast<size_t>(it - all.begin());
    out.table = all.first(nAt);
    if (nAt + nMarker < nSize) {
        out.strMemoExtension = kExtensions[all[nAt + nMarker] % std::size(kExtensions)];
        out.memo = all.subspan(nAt + nMarker + 1);
    }
    return out;
}

std::vector<uint8_t> Join(const std::vector<uint8_t>& table, const std::vector<uint8_t>& memo, uint8_t nExt)
{
    std::vector<uint8_t> out(table);
    out.insert(out.end(), kMemoMarker, kMemoMarker + sizeof kMemoMarker - 1);
    out.push_back(nExt);
    out.insert(out.end(), memo.begin(), memo.end());
    return out;
}

const std::string& ScratchFolder()
{
    static const CTempFolder folder("orvane-fuzz-");
    return folder.GetPath();
}

void ClearScratch()
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), ec))
        std::filesystem::remove_all(entry.path(), ec);
}

void WriteFile(const std::string& strPath, std::span<const uint8_t> bytes)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        Broken("cannot write scratch file " + strPath);
}

std::vector<uint8_t> ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string PlaceTable(const CarvedTable& input, const std::string& strStem, std::string& strMemoPath)
{
    const std::string strTable = ScratchFolder() + "/" + strStem + ".dbf";
    WriteFile(strTable, input.table);
    strMemoPath.clear();
    if (!input.strMemoExtension.empty()) {
        strMemoPath = ScratchFolder() + "/" + strStem + "." + input.strMemoExtension;
        WriteFile(strMemoPath, input.memo);
    }
    return strTable;
}

std::vector<std::vector<uint8_t>> TableSeeds(const std::string& strFixtures)
{
    std::vector<std::filesystem::path> tables;
    std::vector<std::filesystem::path> others;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(strFixtures, ec)) {
        std::string strExt = entry.path().extension().string();
        for (char& c : strExt)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        (strExt == ".dbf" ? tables : others).push_back(entry.path());
    }
    std::sort(tables.begin(), tables.end());
    std::vector<std::vector<uint8_t>> seeds;
    for (const auto& table : tables) {
        std::vector<uint8_t> bytes = ReadFile(table.string());
        for (const auto& other : others) {
            if (other.stem() != table.stem())
                continue;
            const std::string strExt = other.extension().string().substr(1);
            const auto it = std::find(std::begin(kExtensions), std::end(kExtensions), strExt);
            if (it != std::end(kExtensions))
                bytes = Join(bytes, ReadFile(other.string()), static_cast<uint8_t>(it - std::begin(kExtensions)));
        }
        seeds.push_back(std::move(bytes));
    }
    return seeds;
}

void SilenceReports()
{
    static CNullReporter reporter;
    SetErrorReporter(&reporter);
}

void Broken(const std::string& strRule)
{
    std::fprintf(stderr, "broken rule: %s\n", strRule.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace orvfuzz
