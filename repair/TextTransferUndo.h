#pragma once
// Tables that went through a text-mode transfer (FTP in ASCII mode, a mail
// gateway, a line-ending converter): every LF byte (0x0A) of the table and
// of its memo file became CR LF (0x0D 0x0A). Such a table is longer than its
// header says by the number of CR LF pairs in it, and its records line up
// only once they are turned back.
//
// The undoing is exact: an original CR LF became CR CR LF, so turning every
// CR LF into LF gives back the original bytes. It is done on private copies;
// the source files are never written.

#include <cstdint>
#include <string>

class CTextTransferUndo {
public:
    // Whether the table looks converted: it holds CR LF pairs, and without
    // them its length is what its header's counts make it (an end-of-file
    // mark may follow).
    static bool TableLooksConverted(const std::string& strTable);

    // Whether a memo file that came with a converted table went through the
    // same transfer: it holds CR LF pairs, and without them its length fits
    // its header's next free block better than with them.
    static bool MemoLooksConverted(const std::string& strMemo);

    // Writes strSource with every CR LF turned into LF to strTarget. Platform
    // file errors pass as CFileException. Returns the number of pairs.
    static uint64_t Undo(const std::string& strSource, const std::string& strTarget);

    // The number of CR LF pairs in a file (0 when it cannot be read).
    static uint64_t CountPairs(const std::string& strPath);
};
