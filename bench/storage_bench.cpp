// Storage engine throughput: the field codec, the variant conversions the
// salvage calls once per field, and a full recordset scan with memo texts.

#include "dbf/DBFRecordset.h"
#include "dbf/FieldCodec.h"
#include "platform/VariantConversion.h"
#include "tests/dbf/DbfTestFields.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using dbftest::FieldAt;

void BM_DecodeNumeric(benchmark::State& state)
{
    const DBFFieldDescriptor fd = FieldAt("N", 'N', 12, 2, 1);
    const std::string rec = "     1234.56";
    std::vector<unsigned char> buffer(1 + rec.size(), ' ');
    std::copy(rec.begin(), rec.end(), buffer.begin() + 1);
    FieldValue v;
    for (auto _ : state) {
        DecodeField(buffer, fd, v);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_DecodeNumeric);

void BM_EncodeDateFromText(benchmark::State& state)
{
    const DBFFieldDescriptor fd = FieldAt("D", 'D', 8, 0, 1);
    std::vector<unsigned char> buffer(9, ' ');
    const FieldValue v = FieldValue::MakeText("2005/03/07");
    for (auto _ : state) {
        EncodeField(buffer, fd, v);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_EncodeDateFromText);

void BM_VarCyFromStr(benchmark::State& state)
{
    int64_t n = 0;
    for (auto _ : state) {
        VarCyFromStr("-123456789.1234", n);
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_VarCyFromStr);

// A table of 10 000 records with C, N, D, L and a memo text each, read
// field by field through the recordset (what `dbfrepair dump` does).
void BM_RecordsetScan(benchmark::State& state)
{
    const std::string strDir = std::filesystem::temp_directory_path() / ("orv-storage-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(strDir);
    const std::string strPath = strDir + "/scan.dbf";
    const int nRecords = 10000;
    {
        CDBFTableDef table;
        table.Create(strPath);
        table.CreateField(FieldAt("NAME", 'C', 30, 0, 0));
        table.CreateField(FieldAt("AMOUNT", 'N', 12, 2, 0));
        table.CreateField(FieldAt("DAY", 'D', 8, 0, 0));
        table.CreateField(FieldAt("FLAG", 'L', 1, 0, 0));
        table.CreateField(FieldAt("NOTES", 'M', 10, 0, 0));
        table.Append();
        table.Close();
        CDBFRecordset rs;
        rs.Open(strPath, CFile::modeReadWrite | CFile::shareDenyNone);
        for (int i = 0; i < nRecords; ++i) {
            rs.AddNew();
            rs.SetFieldValue(0, FieldValue::MakeText("name " + std::to_string(i)));
            rs.SetFieldValue(1, FieldValue::MakeDouble(i * 1.25));
            rs.SetFieldValue(2, FieldValue::MakeText("2005/03/07"));
            rs.SetFieldValue(3, FieldValue::MakeLogical(i % 2 == 0));
            rs.SetFieldValue(4, FieldValue::MakeText(std::string(100 + i % 300, 'm')));
            rs.Update();
        }
    }
    for (auto _ : state) {
        CDBFRecordset rs;
        rs.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext())
            for (int f = 0; f < 5; ++f)
                benchmark::DoNotOptimize(rs.GetFieldValue(f));
    }
    state.SetItemsProcessed(state.iterations() * nRecords);
    std::filesystem::remove_all(strDir);
}
BENCHMARK(BM_RecordsetScan)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
