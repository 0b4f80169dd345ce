#pragma once
// Names of the repair's files: the temporary repaired table, the name it is
// saved under, and the memo file that travels with a table.
//
// Paths use "/" as separator. The temporary table lives in this process's
// own folder (CTempFolder::ProcessFolder), so two programs repairing tables
// of the same name never share a file.

#include <functional>
#include <string>
#include <vector>

// The marker that every temporary repaired table carries in its name.
inline constexpr const char* kTempNameMarker = "ozn_aqf_xrj_196_temp";
// The file-name prefix of saved tables when the user chose none.
inline constexpr const char* kDefaultSavedPrefix = "Rep";
// The longest prefix the Settings dialog accepts.
inline constexpr size_t kMaxSavedPrefixLength = 50;

// The part of a path after its last "/" (the whole path when it has none).
std::string PathFileName(const std::string& strPath);
// The part of a path before its last "/" ("." when it has none, "/" for a
// file in the root).
std::string PathFolder(const std::string& strPath);
// ASCII letters lowered; other bytes unchanged.
std::string LowerCaseAscii(const std::string& str);

// The temporary repaired table for source file number nIndex + 1:
// strFolder + "/" + nIndex + kTempNameMarker + "_1_" + the source's file
// name in lower case. The file name is added only when the source can be
// opened for reading. The second form uses the process's own folder.
std::string BuildTempOutputPath(const std::string& strSourcePath, int nIndex,
                                const std::string& strFolder);
std::string BuildTempOutputPath(const std::string& strSourcePath, int nIndex);

// The saved table: strFolder + "/" + the temporary table's file name with
// every occurrence of "0" + kTempNameMarker replaced by strPrefix
// (0ozn_aqf_xrj_196_temp_1_sales.dbf becomes Rep_1_sales.dbf). No second
// "/" is added when strFolder already ends in one.
std::string BuildSavedPath(const std::string& strFolder, const std::string& strTempPath,
                           const std::string& strPrefix);

// While the name is taken, replaces every occurrence of strPrefix in the
// file name by strPrefix + "_(1)" (Rep_1_sales.dbf, Rep_(1)_1_sales.dbf, ...).
// A name counts as taken when the table exists, or, with strMemoExtension
// given, when its memo companion with that extension does, so a save never
// overwrites someone else's memo file either.
std::string MakeUniqueSavedPath(const std::string& strPath, const std::string& strPrefix,
                                const std::string& strMemoExtension = std::string());

// The command-line tool's saved table: strFolder + "/" + strPrefix + "_" + N
// + "_" + strName (the source's file name, its letter case kept), for the
// first N from 1 whose name is free (Rep_1_Sales.dbf, Rep_2_Sales.dbf,
// ...); taken as for MakeUniqueSavedPath.
std::string MakeCountedSavedPath(const std::string& strFolder, const std::string& strName,
                                 const std::string& strPrefix, const std::string& strMemoExtension = std::string());

// The memo file the storage engine keeps beside a table: the table path up
// to the last "." of its file name, then "." and strExtension (the whole
// path when the file name has no ".").
std::string MemoCompanionPath(const std::string& strTablePath, const std::string& strExtension);

// The memo file that lies beside a table: a file in the table's folder
// whose name is the table's name up to its last "." followed by ".fpt",
// ".dbt" or ".smt" in any letter case (tried in that order). Empty when
// there is none.
std::string FindMemoCompanion(const std::string& strTablePath);

// The extension of a path's file name after its last "." (empty when none).
std::string PathExtension(const std::string& strPath);

// The characters a file-name prefix may not hold.
inline constexpr const char* kForbiddenPrefixChars = "/\\|*:?<>'";

enum class SavedPrefixCheck { Valid, Empty, IllegalCharacter, TooLong };
// What is wrong with a file-name prefix, if anything (the Settings dialog
// and the command-line tool judge it alike).
SavedPrefixCheck ClassifySavedPrefix(const std::string& strPrefix);

// Checks a file-name prefix the way the Settings dialog does. Returns an
// empty text when it is acceptable, otherwise the message to show:
// "Please fill prefix" or "Illegal character found in file pre fix ".
std::string CheckSavedPrefix(const std::string& strPrefix);

// What CopyRepairedFiles copied.
struct SavedRepairFiles {
    std::string strTable;
    std::string strMemo; // empty when the repaired table has no memo file
};

// Copies the temporary repaired table into strFolder under its prefixed,
// collision-free name, and carries its memo file along under the name the
// storage engine expects beside the saved table: whole or not at all, and
// never over an existing file (platform/FilePlacer.h). The temporary files
// stay. pfnCancelled, when given, is asked between steps and cancels the
// save. Throws CFileException naming the file and the reason.
SavedRepairFiles CopyRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strPrefix, std::function<bool()> pfnCancelled = {});

// The same, for a result that is saved once and then discarded (the
// command-line tool), named by MakeCountedSavedPath after the source's file
// name strSourceName: the files are linked under their new names where the
// file system allows it and copied otherwise; the temporary files are gone
// afterwards.
SavedRepairFiles MoveRepairedFiles(const std::string& strTempTable, const std::string& strFolder,
                                   const std::string& strSourceName, const std::string& strPrefix,
                                   std::function<bool()> pfnCancelled = {});

// A file that could not be deleted, and the system's reason.
struct FileLeftBehind {
    std::string strPath;
    std::string strReason;
};

// Deletes the temporary repaired table and its memo file; missing files are
// not an error. Returns the files that stay.
std::vector<FileLeftBehind> RemoveRepairedFiles(const std::string& strTempTable);
