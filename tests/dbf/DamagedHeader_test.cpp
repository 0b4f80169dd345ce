// Damaged headers and descriptors: every real table with bytes of its
// header overwritten either fails to open with a storage error or opens and
// reads every field of every record without leaving the record buffer
// (the sanitizer build checks the latter).

#include "dbf/DBFException.h"
#include "dbf/DBFRecordset.h"
#include "platform/ErrorReporter.h"
#include "platform/VariantConversionException.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

// Opens the table and reads everything; returns false when Open refused it.
bool ReadAll(const std::string& strPath)
{
    CDBFRecordset rs;
    try {
        rs.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
    } catch (const CDBFException&) {
        return false;
    }
    if (!rs.IsOpen())
        return false;
    for (int32_t i = 0; i < rs.GetRecordCount(); ++i) {
        rs.Move(i);
        for (int f = 0; f < rs.GetFieldCount(); ++f) {
            try {
                FieldValue v;
                rs.GetFieldValue(f, v);
            } catch (const CDBFException&) {
                // A damaged memo reference is reported per field.
            }
        }
    }
    return true;
}

} // namespace

TEST(DamagedHeader, RandomHeaderBytesNeverLeadOutsideTheRecord)
{
    CRecordingReporter reporter;
    CScopedErrorReporter scoped(&reporter);
    orvtest::TempDir dir;
    std::mt19937 random(20240611);
    int nOpened = 0;
    int nRefused = 0;
    for (const auto& entry : std::filesystem::directory_iterator(orvtest::RealFixturesDir())) {
        if (entry.path().extension() != ".dbf" || std::filesystem::file_size(entry.path()) > 200000)
            continue;
        const auto original = orvtest::ReadBytes(entry.path().string());
        // The memo file goes along under the table's new name.
        for (const char* ext : {".fpt", ".FPT", ".dbt"}) {
            auto memo = entry.path();
            memo.replace_extension(ext);
            if (std::filesystem::exists(memo))
                std::filesystem::copy_file(memo, dir.File(std::string("t") + ext),
                                           std::filesystem::copy_options::overwrite_existing);
        }
        const uint16_t nHeaderLength = static_cast<uint16_t>(original[8] | (original[9] << 8));
        for (int n = 0; n < 60; ++n) {
            auto bytes = original;
            const int nChanges = 1 + static_cast<int>(random() % 4);
            for (int k = 0; k < nChanges; ++k) {
                // Mostly the descriptors' type, offset and width bytes.
                size_t nPos = random() % 2 ? 4 + random() % 8 : 32 + random() % (nHeaderLength - 32);
                if (random() % 2 && nHeaderLength > 64)
                    nPos = 32 + 32 * (random() % ((nHeaderLength - 33) / 32)) + 11 + random() % 8;
                bytes[nPos] = static_cast<unsigned char>(random());
            }
            orvtest::WriteBytes(dir.File("t.dbf"), bytes);
            if (ReadAll(dir.File("t.dbf")))
                ++nOpened;
            else
                ++nRefused;
        }
    }
    EXPECT_GT(nOpened, 0);
    EXPECT_GT(nRefused, 0);
}
