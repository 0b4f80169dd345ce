// A source table another program holds open: a reader that keeps writers
// out, or one that shares nothing. The repair is refused with the reason
// "used by another process" (on Linux the holder's lock, on Windows the
// share mode of its open), nothing is saved and the table is untouched.
// Run in-process, so that it runs under Windows as well.

#include "cli/RepairCommand.h"
#include "platform/File.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

struct Holder {
    const char* lpszName;
    unsigned nShare;
};

const Holder kHolders[] = {
    {"DenyWrite", CFile::shareDenyWrite},
    {"Exclusive", CFile::shareExclusive},
};

class HeldSource : public ::testing::TestWithParam<Holder> {};

TEST_P(HeldSource, RepairIsRefusedAsUsedByAnotherProcess)
{
    orvtest::TempDir dir;
    std::filesystem::create_directories(dir.File("out"));
    const std::string strSource = dir.File("dbase_30.dbf");
    std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_30.dbf", strSource);
    std::filesystem::copy_file(orvtest::RealFixturesDir() + "/dbase_30.fpt", dir.File("dbase_30.fpt"));
    const auto before = orvtest::ReadBytes(strSource);
    {
        CFile holder;
        ASSERT_TRUE(holder.Open(strSource, CFile::modeRead | GetParam().nShare));
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RepairCommand().pfnRun({strSource, "-o", dir.File("out")}, out, err), 1);
        EXPECT_NE(err.str().find("used by another process"), std::string::npos) << err.str();
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("out")));
    EXPECT_EQ(orvtest::ReadBytes(strSource), before);
}

INSTANTIATE_TEST_SUITE_P(Holders, HeldSource, ::testing::ValuesIn(kHolders),
                         [](const ::testing::TestParamInfo<Holder>& info) { return std::string(info.param.lpszName); });

} // namespace
