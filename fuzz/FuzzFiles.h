#pragma once
// What the fuzz targets share: carving one input into a table and its memo
// file, a scratch folder of the process, file bytes, and the check that
// stops the fuzzer on a broken rule.
//
// Input layout of the table targets:
//
//   table bytes [ "ORVMEMO" ext memo bytes ]
//
// Without the marker the whole input is the table and there is no memo
// file, so a plain .dbf file is a valid input as it stands. ext picks the
// memo file's extension (0: .dbt, 1: .fpt, 2: .smt, 3: .DBT, 4: .FPT,
// 5: .SMT, the rest modulo 6).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orvfuzz {

inline constexpr const char kMemoMarker[] = "ORVMEMO";

struct CarvedTable {
    std::span<const uint8_t> table;
    std::span<const uint8_t> memo;
    std::string strMemoExtension; // empty when the input has no memo part
};

CarvedTable Carve(const uint8_t* pData, size_t nSize);

// Joins a table and its memo file into one input (for seeds).
std::vector<uint8_t> Join(const std::vector<uint8_t>& table, const std::vector<uint8_t>& memo, uint8_t nExt);

// A folder private to this process, emptied by ClearScratch, removed at exit.
const std::string& ScratchFolder();
void ClearScratch();

void WriteFile(const std::string& strPath, std::span<const uint8_t> bytes);
std::vector<uint8_t> ReadFile(const std::string& strPath);

// Writes the carved table as <scratch>/<stem>.dbf (and its memo beside it);
// returns the table path and fills strMemoPath (empty without memo).
std::string PlaceTable(const CarvedTable& input, const std::string& strStem, std::string& strMemoPath);

// Silences the engines' error reporter for the life of the process.
void SilenceReports();

// The seeds of a target, made from the real tables in strFixtures (each
// target defines it beside its entry point).
std::vector<std::vector<uint8_t>> MakeSeeds(const std::string& strFixtures);

// The tables of a fixture folder joined with their memo files (when they
// have one), in name order.
std::vector<std::vector<uint8_t>> TableSeeds(const std::string& strFixtures);

// A broken rule: prints the text and aborts, so the fuzzer keeps the input.
[[noreturn]] void Broken(const std::string& strRule);

} // namespace orvfuzz

#define ORV_FUZZ_CHECK(cond, text)                                                                 \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::orvfuzz::Broken(std::string(text) + " [" #cond "]");                                 \
    } while (0)
