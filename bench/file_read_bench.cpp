// One-byte positioned reads, the access pattern of the raw scans: CFile's
// window against a plain lseek(2)/read(2) pair per byte.
//
// Each iteration makes 10 million sequential Seek + Read pairs over a 4 MB
// scratch file (wrapping around at its end). Run with
//   bin/file_read_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "platform/File.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kFileSize = 4 * 1024 * 1024;
constexpr int64_t kReads = 10'000'000;

// The scratch file, made once in a fresh temporary folder and removed at exit.
class ScratchFile {
public:
    ScratchFile()
    {
        const char* szTmp = std::getenv("TMPDIR");
        std::string strTemplate = std::string(szTmp && *szTmp ? szTmp : "/tmp") + "/file_read_bench.XXXXXX";
        std::vector<char> name(strTemplate.begin(), strTemplate.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data()))
            throw std::runtime_error("cannot make a temporary folder");
        m_strDir = name.data();
        m_strPath = m_strDir + "/scratch.bin";
        std::vector<unsigned char> data(kFileSize);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
        CFile f;
        if (!f.Open(m_strPath, CFile::modeCreate | CFile::modeReadWrite))
            throw std::runtime_error("cannot create the scratch file");
        f.Write(data.data(), data.size());
        f.Close();
    }
    ~ScratchFile()
    {
        std::remove(m_strPath.c_str());
        ::rmdir(m_strDir.c_str());
    }
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strDir;
    std::string m_strPath;
};

const ScratchFile& Scratch()
{
    static const ScratchFile scratch;
    return scratch;
}

void BM_CFileSeekRead(benchmark::State& state)
{
    CFile f;
    if (!f.Open(Scratch().Path(), CFile::modeRead | CFile::shareDenyNone)) {
        state.SkipWithError("cannot open the scratch file");
        return;
    }
    for (auto _ : state) {
        unsigned nSum = 0;
        for (int64_t i = 0; i < kReads; ++i) {
            unsigned char b = 0;
            f.Seek(static_cast<int64_t>(static_cast<uint64_t>(i) % kFileSize), CFile::begin);
            f.Read(&b, 1);
            nSum += b;
        }
        benchmark::DoNotOptimize(nSum);
    }
    state.SetItemsProcessed(state.iterations() * kReads);
}

void BM_PlainLseekRead(benchmark::State& state)
{
    const int fd = ::open(Scratch().Path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.SkipWithError("cannot open the scratch file");
        return;
    }
    for (auto _ : state) {
        unsigned nSum = 0;
        for (int64_t i = 0; i < kReads; ++i) {
            unsigned char b = 0;
            ::lseek(fd, static_cast<off_t>(static_cast<uint64_t>(i) % kFileSize), SEEK_SET);
            if (::read(fd, &b, 1) != 1) {
                state.SkipWithError("short read");
                break;
            }
            nSum += b;
        }
        benchmark::DoNotOptimize(nSum);
    }
    state.SetItemsProcessed(state.iterations() * kReads);
    ::close(fd);
}

} // namespace

BENCHMARK(BM_CFileSeekRead)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlainLseekRead)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
