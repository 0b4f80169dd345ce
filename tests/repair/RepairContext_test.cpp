#include "repair/RepairContext.h"

#include "platform/ErrorReporter.h"
#include "platform/FileFaultInjector.h"
#include "repair/DBFRepair.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

// A run answers to its own context alone: its stop, its messages (the
// storage engine's among them) and its report stay there, and the
// process-wide flag and reporter see nothing.
TEST(RepairContext, ARunAnswersToItsOwnContextOnly)
{
    orvtest::TempDir dir;
    const std::string strSound = orvtest::RealFixturesDir() + "/dbase_03.dbf";
    // A header and blocks of letters: no descriptor list ends.
    std::vector<unsigned char> endless = orvtest::ReadBytes(strSound);
    endless.resize(32);
    endless.resize(32 + 32 * 1100, 'A');
    const std::string strEndless = dir.File("endless.dbf");
    orvtest::WriteBytes(strEndless, endless);

    struct Case {
        std::string strSource;
        bool bAbort;
        bool bOk;
        bool bStopped;
        bool bMessages;
        // Writes to the new memo file fail.
        bool bMemoFails = false;
    };
    const Case cases[] = {
        {strSound, false, true, false, false},
        {strSound, true, false, true, false},
        {strEndless, false, false, false, true},
        {orvtest::RealFixturesDir() + "/dbase_83.dbf", false, false, false, true, true},
    };
    int nCase = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(nCase);
        std::atomic<int> nAbort{c.bAbort ? 1 : 0};
        CRepairRunState state(&nAbort);
        CRecordingReporter runMessages;
        CRecordingReporter processMessages;
        CScopedErrorReporter scope(&processMessages);
        FileFault fault;
        fault.nCall = 1;
        fault.bSticky = true;
        fault.strPathPattern = c.bMemoFails ? "*.dbt" : "no such path";
        CFileFaultInjector injector(fault);
        CRepairContext context(state, nullptr, &runMessages);
        CDBFRepair engine(context);
        const bool bOk = engine.Repair(c.strSource, dir.File("out" + std::to_string(nCase++) + ".dbf"));
        EXPECT_EQ(bOk, c.bOk);
        EXPECT_EQ(engine.GetStatistics().bStopped, c.bStopped);
        EXPECT_EQ(runMessages.Messages().empty(), !c.bMessages);
        EXPECT_TRUE(processMessages.Messages().empty());
        EXPECT_EQ(g_bStopRepair.load(), 0);
        EXPECT_EQ(context.Report().bDone, c.bOk);
    }
}
