#pragma once
// Injected file faults for tests, in the manner of LevelDB's ErrorEnv: while
// an injector lives, the file layer's reads and writes (CFile and
// CFilePlacer) ask it whether this call fails. Unarmed, each read or write
// costs one test of a flag that is always false.
//
// A fault strikes one call of its kind:
//   - the nCall-th call (counting from 1) whose path matches, or
//   - the first call whose byte range reaches nOffset (with nCall 0).
// A write fails with nError (ENOSPC by default) and writes nothing; a read
// fails with nError (EIO by default); a short read returns only the bytes
// before the offset (none, when struck by count), as if the file ended
// there. With bSticky every later matching call of the kind fails
// (or comes back short) too, as a full disk or a dead sector would.
//
// The kind failRemove fails the removal of a file or folder with nError
// (EACCES by default) and removes nothing; it strikes by count only.
//
// The kind watchWrite fails nothing: it calls pfnOnStrike at the struck
// write (before it happens), so a test can make something else happen at
// that moment, a signal for instance.
//
// Only one injector may be alive at a time.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct FileFault {
    enum Kind { failWrite, failRead, shortRead, watchWrite, failRemove };
    Kind nKind = failWrite;
    int nError = 0;                   // 0: ENOSPC for writes, EIO for reads, EACCES for removals
    uint64_t nCall = 0;               // 1-based; 0 to strike by offset
    uint64_t nOffset = UINT64_MAX;    // used when nCall is 0
    std::string strPathPattern;       // "*", "?" and "[...]" pattern on the path; empty: any
    bool bSticky = false;
    std::function<void()> pfnOnStrike; // called at every struck call
};

class CFileFaultInjector {
public:
    explicit CFileFaultInjector(const FileFault& fault);
    ~CFileFaultInjector();
    CFileFaultInjector(const CFileFaultInjector&) = delete;
    CFileFaultInjector& operator=(const CFileFaultInjector&) = delete;

    // Matching calls of the fault's kind seen so far (writes for failWrite
    // and watchWrite, removals for failRemove, reads otherwise), and how
    // many of them were struck.
    uint64_t GetCallCount() const;
    uint64_t GetStrikeCount() const;
    // The path of the last struck call (empty before the first).
    std::string GetStruckPath() const;

    // The file layer's questions (only when IsArmed()). Write: the errno
    // to fail with, or 0. Read: the errno, or 0 with nCount possibly
    // lowered for a short read.
    static int OnWrite(const std::string& strPath, uint64_t nOffset, size_t nCount);
    static int OnRead(const std::string& strPath, uint64_t nOffset, size_t& nCount);
    // Remove: the errno to fail with, or 0.
    static int OnRemove(const std::string& strPath);

    static bool IsArmed() { return __builtin_expect(s_bArmed.load(std::memory_order_relaxed), false); }

private:
    bool Matches(const std::string& strPath) const;
    // Whether this call (already counted) is struck.
    bool Strikes(const std::string& strPath, uint64_t nOffset, size_t nCount);

    FileFault m_fault;
    uint64_t m_nCalls = 0;
    uint64_t m_nStrikes = 0;
    std::string m_strStruckPath;
    mutable std::mutex m_mutex;

    static std::atomic<bool> s_bArmed;
    static std::atomic<CFileFaultInjector*> s_pActive;
};
