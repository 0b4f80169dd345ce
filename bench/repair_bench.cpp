// The repair engine's throughput: a whole repair run on a table without
// memo, and the salvage of single fields (straight byte path and value
// path). bench/compare.sh sets the whole tool against cp, pgdbf and
// python3-dbfread.

#include "dbf/ByteCodec.h"
#include "dbf/DBFFieldDescriptor.h"
#include "dbf/FieldCodec.h"
#include "platform/TempFolder.h"
#include "repair/DBFRepair.h"
#include "repair/FieldSalvage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct BenchField {
    const char* pszName;
    char chType;
    uint8_t nLength;
    uint8_t nDecimals;
};

const BenchField kFields[] = {
    {"NAME", 'C', 30, 0}, {"CITY", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"QTY", 'N', 8, 0},
    {"BORN", 'D', 8, 0},  {"ACTIVE", 'L', 1, 0}, {"COUNT", 'I', 4, 0}, {"PRICE", 'Y', 8, 0},
    {"STAMP", 'T', 8, 0}, {"RATIO", 'B', 8, 0}, {"CODE", 'C', 10, 0},
};

// Writes a Visual FoxPro table of nRecords records; returns its size.
uint64_t WriteTable(const std::string& strPath, uint32_t nRecords)
{
    uint32_t nRecordLength = 1;
    for (const auto& f : kFields)
        nRecordLength += f.nLength;
    const size_t nFields = sizeof kFields / sizeof kFields[0];
    const uint32_t nHeaderLength = 32 + 32 * static_cast<uint32_t>(nFields) + 1 + 263;
    std::vector<unsigned char> head(nHeaderLength, 0);
    head[0] = 0x30;
    dbfbytes::EncodeFixed32LE(&head[4], nRecords);
    dbfbytes::EncodeFixed16LE(&head[8], static_cast<uint16_t>(nHeaderLength));
    dbfbytes::EncodeFixed16LE(&head[10], static_cast<uint16_t>(nRecordLength));
    uint32_t nOffset = 1;
    for (size_t i = 0; i < nFields; ++i) {
        DBFFieldDescriptor fd;
        fd.SetName(kFields[i].pszName);
        fd.SetType(kFields[i].chType);
        fd.SetOffset(nOffset);
        fd.SetLength(kFields[i].nLength);
        fd.SetDecimals(kFields[i].nDecimals);
        std::copy(fd.m_bytes.begin(), fd.m_bytes.end(), head.begin() + 32 + 32 * static_cast<std::ptrdiff_t>(i));
        nOffset += kFields[i].nLength;
    }
    head[32 + 32 * nFields] = 0x0D;
    std::ofstream out(strPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    std::vector<unsigned char> record(nRecordLength);
    char text[64];
    for (uint32_t r = 0; r < nRecords; ++r) {
        unsigned char* p = record.data();
        *p++ = ' ';
        std::snprintf(text, sizeof text, "%-30s", ("Customer " + std::to_string(r)).c_str());
        std::copy(text, text + 30, p), p += 30;
        std::snprintf(text, sizeof text, "%-20s", r % 2 ? "Oslo" : "Porto");
        std::copy(text, text + 20, p), p += 20;
        std::snprintf(text, sizeof text, "%10.2f", (r % 100000) / 7.0);
        std::copy(text, text + 10, p), p += 10;
        std::snprintf(text, sizeof text, "%8u", r % 9973);
        std::copy(text, text + 8, p), p += 8;
        std::snprintf(text, sizeof text, "%04u%02u%02u", 1950 + r % 70, 1 + r % 12, 1 + r % 28);
        std::copy(text, text + 8, p), p += 8;
        *p++ = r % 3 ? 'T' : 'F';
        dbfbytes::EncodeFixed32LE(p, r), p += 4;
        dbfbytes::EncodeFixed64LE(p, static_cast<uint64_t>(r) * 137), p += 8;
        dbfbytes::EncodeFixed32LE(p, 2451545 + r % 9000), dbfbytes::EncodeFixed32LE(p + 4, (r % 86400) * 1000), p += 8;
        dbfbytes::EncodeDoubleLE(p, r / 3.0), p += 8;
        std::snprintf(text, sizeof text, "K%-9u", r % 1000000);
        std::copy(text, text + 10, p), p += 10;
        out.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    }
    out.put(0x1A);
    return static_cast<uint64_t>(nHeaderLength) + static_cast<uint64_t>(nRecords) * nRecordLength + 1;
}

void BM_RepairTable(benchmark::State& state)
{
    CTempFolder folder("repair-bench-");
    const std::string strSource = folder.GetPath() + "/bench.dbf";
    const uint64_t nBytes = WriteTable(strSource, static_cast<uint32_t>(state.range(0)));
    const std::string strOutput = folder.GetPath() + "/out.dbf";
    for (auto _ : state) {
        std::remove(strOutput.c_str());
        CDBFRepair engine;
        benchmark::DoNotOptimize(engine.Repair(strSource, strOutput));
    }
    state.SetBytesProcessed(static_cast<int64_t>(nBytes) * state.iterations());
}
BENCHMARK(BM_RepairTable)->Arg(200000)->Unit(benchmark::kMillisecond);

// One numeric field: checking its bytes (what the salvage does to a sound
// value) against decoding to a value and encoding it through the storage
// engine.
void BM_SalvageNumberField(benchmark::State& state)
{
    const bool bStraight = state.range(0) != 0;
    const std::string strBytes = "   1234.56";
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(strBytes.data()), strBytes.size());
    DBFFieldDescriptor fd;
    fd.SetType('N');
    fd.SetLength(10);
    fd.SetDecimals(2);
    fd.SetOffset(1);
    std::vector<unsigned char> record(11, ' ');
    for (auto _ : state) {
        if (bStraight) {
            benchmark::DoNotOptimize(IsSoundField('N', bytes));
        } else {
            EncodeField(record, fd, *DecodeSalvagedField('N', bytes));
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SalvageNumberField)->Arg(1)->Arg(0);

} // namespace

BENCHMARK_MAIN();
