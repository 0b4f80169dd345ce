#pragma once
// Puts finished files under their final names all at once, never half.
//
// Each file is first written whole (or hard-linked, when moving within one
// file system) under a hidden temporary name in its target folder and
// flushed to disk; only when every one is complete are they renamed to
// their final names, one rename each, refusing a name that exists. A failure
// or a cancel at any step removes the temporary files and any final name
// already given, so a reader sees all the files or none of them.
//
// The reads and writes go through the file layer's fault seam
// (platform/FileFaultInjector.h).

#include <functional>
#include <string>
#include <vector>

struct PlacedFile {
    std::string strFrom;
    std::string strTo;
};

class CFilePlacer {
public:
    // Asked between steps (and between chunks of a copy); true cancels the
    // placing, which then cleans up and throws CFileException with
    // m_lOsError ECANCELED.
    void SetCancelCheck(std::function<bool()> pfnCancelled) { m_pfnCancelled = std::move(pfnCancelled); }
    // Lets Place give a final name that is taken, replacing that file in
    // the one rename (a reader sees the old file or the new one). Meant for
    // one file at a time: a replaced file cannot come back if a later one
    // fails.
    void SetReplaceExisting(bool bReplace) { m_bReplace = bReplace; }

    // With bMove the sources are removed once the files are placed (and may
    // be linked instead of copied). Throws CFileException naming the file
    // and the reason; m_lOsError is EEXIST when a final name is taken.
    void Place(const std::vector<PlacedFile>& files, bool bMove);

    // Place with names chosen by pfnNames, asked again while a final name
    // turns out to be taken between the choice and the rename (at most 100
    // rounds). Returns the files as placed.
    std::vector<PlacedFile> PlaceUnderFreeNames(const std::function<std::vector<PlacedFile>()>& pfnNames, bool bMove);

    // The hidden temporary name in strTo's folder that Place writes first
    // (".NAME.part-" and a unique suffix); exposed for tests.
    static std::string TemporaryNameFor(const std::string& strTo);

private:
    bool Cancelled() const { return m_pfnCancelled && m_pfnCancelled(); }
    // Copies strFrom to the new file strTo (created exclusively).
    void CopyInto(const std::string& strFrom, const std::string& strTo);

    std::function<bool()> m_pfnCancelled;
    bool m_bReplace = false;
};
