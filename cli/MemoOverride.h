#pragma once
// --memo FILE: the storage engine finds a table's memo file beside the table
// under the table's name. To read a table with a memo file kept elsewhere or
// under another name, the engine is given a private folder in which a link
// to the table and a link to the named memo file stand under the names it
// looks for. The folder goes with the object.

#include <memory>
#include <string>

class CTempFolder;

class CMemoOverride {
public:
    CMemoOverride();
    ~CMemoOverride();
    CMemoOverride(const CMemoOverride&) = delete;
    CMemoOverride& operator=(const CMemoOverride&) = delete;

    // Makes the links for a table whose header has the version byte and
    // table flags given. False with the reason in strError (prefixed by the
    // path it is about) when the memo file cannot be read, the table calls
    // for no memo file, or the links cannot be made.
    bool Prepare(const std::string& strTable, const std::string& strMemo, uint8_t nVersion, uint8_t nTableFlags,
                 std::string& strError);

    // The table path to give the engine.
    const std::string& GetTablePath() const { return m_strTablePath; }
    // The memo path the engine will open through the link.
    const std::string& GetLinkedMemoPath() const { return m_strLinkedMemo; }

private:
    std::unique_ptr<CTempFolder> m_pFolder;
    std::string m_strTablePath;
    std::string m_strLinkedMemo;
};
