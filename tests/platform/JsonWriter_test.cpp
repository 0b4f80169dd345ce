// The one JSON writer: how texts are quoted in either style, and where the
// separators and line breaks fall.

#include "platform/JsonWriter.h"

#include <gtest/gtest.h>

namespace {

TEST(JsonWriter, QuotesAnyBytes)
{
    struct Case {
        std::string strText;
        const char* pszSpaced;  // DEL escaped
        const char* pszCompact; // DEL as it is
    };
    const Case cases[] = {
        {"plain", "\"plain\"", "\"plain\""},
        {"q\"b\\", "\"q\\\"b\\\\\"", "\"q\\\"b\\\\\""},
        {"\n\r\t", "\"\\n\\r\\t\"", "\"\\n\\r\\t\""},
        {std::string("\x00\x01\x1f", 3), "\"\\u0000\\u0001\\u001f\"", "\"\\u0000\\u0001\\u001f\""},
        {"a\x7f", "\"a\\u007f\"", "\"a\x7f\""},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"",
         "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
        // No UTF-8: a Latin-1 letter, a cut sequence, an encoded surrogate.
        {"\xE9t\xC3", "\"\\udce9t\\udcc3\"", "\"\\udce9t\\udcc3\""},
        {"\xED\xA0\x80", "\"\\udced\\udca0\\udc80\"", "\"\\udced\\udca0\\udc80\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszSpaced);
        EXPECT_EQ(CJsonWriter().String(c.strText).Text(), c.pszSpaced);
        EXPECT_EQ(CJsonWriter(CJsonWriter::kCompact).String(c.strText).Text(), c.pszCompact);
    }
}

TEST(JsonWriter, PutsSeparatorsBetweenItems)
{
    auto write = [](CJsonWriter& json) {
        json.BeginObject().Key("a").Number(-3).Key("b").BeginArray().Number(7u).Bool(false).Null().EndArray();
        json.Key("c").BeginObject().EndObject().Key("d").Strings({"x", ""}).Key("e").StringOrNull("");
        json.Key("f").Fixed(1.25, 3).Key("g").Raw("{}").EndObject();
    };
    CJsonWriter spaced;
    write(spaced);
    EXPECT_EQ(spaced.Text(),
              "{\"a\": -3, \"b\": [7, false, null], \"c\": {}, \"d\": [\"x\", \"\"], \"e\": null, \"f\": 1.250, "
              "\"g\": {}}");
    CJsonWriter compact(CJsonWriter::kCompact);
    write(compact);
    EXPECT_EQ(compact.Text(),
              "{\"a\":-3,\"b\":[7,false,null],\"c\":{},\"d\":[\"x\",\"\"],\"e\":null,\"f\":1.250,"
              "\"g\":{}}");
}

// Taken piece by piece, the text is the same as taken whole.
TEST(JsonWriter, BreaksLinesAndHandsOutPieces)
{
    for (const int nItems : {0, 1, 3}) {
        SCOPED_TRACE(nItems);
        CJsonWriter json(CJsonWriter::kCompact);
        json.BeginObject().Key("head").Number(1).LineBreak().Key("items").BeginArray();
        std::string strPieces = json.Take();
        std::string strExpected = "{\"head\":1,\n\"items\":[";
        for (int i = 0; i < nItems; ++i) {
            json.LineBreak().BeginArray().Number(i).EndArray();
            strPieces += json.Take();
            strExpected += (i ? ",\n[" : "\n[") + std::to_string(i) + "]";
        }
        strPieces += json.LineBreak().EndArray().EndObject().Take();
        EXPECT_EQ(strPieces, strExpected + "\n]}");
        EXPECT_EQ(json.Text(), "");
    }
}

} // namespace
