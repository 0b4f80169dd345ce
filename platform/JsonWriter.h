#pragma once
// Writes JSON text item by item: the caller gives keys and values in order,
// the writer puts the separators between them, quotes the texts and keeps
// track of the nesting. Every JSON form the program prints (the repair
// report, the results of repair, info and dump) comes from here, so that a
// text is quoted the same way wherever it appears.
//
// Texts are bytes: UTF-8 goes out as it is, a byte that is no UTF-8 (a path
// in another encoding) as a lone low surrogate \udcXX, the way Python's
// surrogateescape writes it, so that the output stays valid JSON and the
// bytes can still be recovered.
//
// The writer checks nothing of the order of calls: a key outside an object
// or a missing End gives text that is no JSON.

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CJsonWriter {
public:
    struct Style {
        const char* pszComma; // between two items
        const char* pszColon; // between a key and its value
        bool bEscapeDelete;   // DEL (0x7F) as \u007f, else as it is
    };
    // The reports and the results of repair and info.
    static constexpr Style kSpaced{", ", ": ", true};
    // The records of dump, which can be large.
    static constexpr Style kCompact{",", ":", false};

    explicit CJsonWriter(Style style = kSpaced) : m_style(style) {}

    CJsonWriter& BeginObject();
    CJsonWriter& EndObject();
    CJsonWriter& BeginArray();
    CJsonWriter& EndArray();
    CJsonWriter& Key(std::string_view key);

    CJsonWriter& String(std::string_view text);
    // The text, or null when it is empty (a path that is not there).
    CJsonWriter& StringOrNull(std::string_view text);
    // An array of texts.
    CJsonWriter& Strings(const std::vector<std::string>& texts);
    CJsonWriter& Number(std::integral auto n) { return Raw(std::to_string(n)); }
    CJsonWriter& Number(bool) = delete; // Bool, not 0 or 1
    // A number with nDecimals digits after the point ("1.250").
    CJsonWriter& Fixed(double d, int nDecimals);
    CJsonWriter& Bool(bool b);
    CJsonWriter& Null();
    // A value already in JSON form.
    CJsonWriter& Raw(std::string_view json);
    // Puts a line break before the next item, or before the closing
    // bracket when none comes.
    CJsonWriter& LineBreak();

    const std::string& Text() const { return m_strText; }
    // The text written so far, taken out of the writer (which goes on where
    // it was): for output written as it is made.
    std::string Take();

    // A text as a JSON string.
    static std::string Quote(std::string_view text, bool bEscapeDelete = true);

private:
    // The separator and line break due before an item.
    void BeforeItem();
    CJsonWriter& Open(char chBracket);
    CJsonWriter& Close(char chBracket);

    Style m_style;
    std::string m_strText;
    std::vector<bool> m_empty; // per open bracket: nothing in it yet
    bool m_bAfterKey = false;
    bool m_bLineBreak = false;
};
