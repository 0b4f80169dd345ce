// Replays fuzz inputs through a target's entry point, for the normal and
// sanitizer builds (no libFuzzer needed). A broken rule aborts, as under the
// fuzzer.
//
//   replay [--seeds FIXTURES] [PATH...]       the target's seeds made from
//                                             FIXTURES, then every file named
//                                             and every file inside the
//                                             folders named
//   replay --write-seeds FIXTURES OUTDIR      writes the seeds for a fuzzer run

#include "fuzz/FuzzFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--write-seeds") == 0) {
        const auto seeds = orvfuzz::MakeSeeds(argv[2]);
        std::filesystem::create_directories(argv[3]);
        for (size_t i = 0; i < seeds.size(); ++i)
            orvfuzz::WriteFile(std::string(argv[3]) + "/seed-" + std::to_string(i), seeds[i]);
        std::printf("wrote %zu seeds\n", seeds.size());
        return seeds.empty() ? 1 : 0;
    }
    size_t nInputs = 0;
    auto replay = [&](const std::vector<uint8_t>& bytes, const std::string& strName) {
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", strName.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++nInputs;
    };
    std::vector<std::filesystem::path> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seeds") == 0 && i + 1 < argc) {
            const auto seeds = orvfuzz::MakeSeeds(argv[++i]);
            if (seeds.empty()) {
                std::fprintf(stderr, "replay: no seeds made from %s\n", argv[i]);
                return 2;
            }
            for (size_t k = 0; k < seeds.size(); ++k)
                replay(seeds[k], "seed " + std::to_string(k));
            continue;
        }
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else if (std::filesystem::is_regular_file(path)) {
            files.push_back(path);
        } else {
            // A target whose corpus folder git dropped for being empty.
            std::fprintf(stderr, "replay: no stored inputs at %s\n", argv[i]);
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files)
        replay(orvfuzz::ReadFile(path.string()), path.string());
    std::printf("replayed %zu inputs\n", nInputs);
    return 0;
}
