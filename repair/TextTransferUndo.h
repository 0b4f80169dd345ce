#pragma once
// Tables that went through a text-mode transfer (FTP in ASCII mode, a mail
// gateway, a line-ending converter): every LF byte (0x0A) of the table and
// of its memo file became CR LF (0x0D 0x0A). Such a table is longer than its
// header says by the number of CR LF pairs in it, and its records line up
// only once they are turned back. A 0x0A in the header itself (a record
// count, a date or a field width of 10) makes the header longer too: the
// descriptors leave their 32-byte places and the header's numbers are read
// from the wrong bytes. A memo file may also have gone through the transfer
// alone.
//
// The undoing is exact: an original CR LF became CR CR LF, so turning every
// CR LF into LF gives back the original bytes. It is done on private copies;
// the source files are never written. CR LF pairs are common in sound files
// too (a record count of 0x0A0D, line ends in texts), so a file is judged
// converted only when its structure agrees once undone and not as it is.

#include "repair/StopToken.h"

#include <cstdint>
#include <string>

class CTextTransferUndo {
public:
    // Whether the table looks converted: it holds CR LF pairs, its header
    // does not bear out its length as it is, and with the pairs undone the
    // length is what the header's counts make it (an end-of-file mark may
    // follow). When the header itself held pairs, the undone header must
    // agree in full as well: the descriptors' 0x0D terminator on a 32-byte
    // place inside the header, and their widths adding up to the record
    // length.
    static bool TableLooksConverted(const std::string& strTable, const CStopToken& stop = CStopToken());

    // Whether a memo file went through the transfer. Its blocks decide:
    // walked from the first on (FoxPro and dBASE IV by their block headers,
    // dBASE III by the 0x1A that ends each text), they must cover the whole
    // file with the pairs undone and fail to as it is. When bTableConverted
    // (the memo came with a converted table) and the blocks cannot tell,
    // the end of the walk and the header's next free block decide.
    static bool MemoLooksConverted(const std::string& strMemo, bool bTableConverted,
                                   const CStopToken& stop = CStopToken());

    // Writes strSource with every CR LF turned into LF to strTarget. Platform
    // file errors pass as CFileException. Returns the number of pairs.
    static uint64_t Undo(const std::string& strSource, const std::string& strTarget,
                         const CStopToken& stop = CStopToken());

    // The number of CR LF pairs in a file (0 when it cannot be read).
    static uint64_t CountPairs(const std::string& strPath, const CStopToken& stop = CStopToken());
};
