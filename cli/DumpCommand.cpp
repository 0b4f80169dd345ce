#include "cli/DumpCommand.h"

#include "cli/CommandLine.h"
#include "cli/MemoOverride.h"
#include "cli/TableTextEvidence.h"
#include "dbf/ChooseTextDecoder.h"
#include "dbf/TableProbe.h"
#include "dbf/DBFTableDef.h"
#include "platform/ErrorReporter.h"

#include "dbf/ByteCodec.h"
#include "dbf/CalendarDate.h"
#include "dbf/DBFRecordset.h"
#include "dbf/FieldCodec.h"
#include "platform/CodePageDecoder.h"
#include "platform/File.h"
#include "platform/JsonWriter.h"
#include "platform/VariantConversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace {

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair dump TABLE.dbf [--json] [--encoding NAME] [--memo FILE]\n"
           "\n"
           "Reads every record through the storage engine and prints the values\n"
           "as the engine gives them, memo texts resolved, texts converted to\n"
           "UTF-8 from the table's code page. An unmarked table (or one with an\n"
           "unknown mark) is read as UTF-8 when all its character and memo texts\n"
           "are valid UTF-8 and one at least has a multi-byte character, as DOS\n"
           "code page 850 when one holds a byte Windows-1252 leaves undefined\n"
           "(0x81, 0x8D, 0x8F, 0x90, 0x9D), else as Windows-1252; info names\n"
           "the choice and why.\n"
           "\n"
           "Default output: CSV (RFC 4180, CRLF line ends), a header row, first\n"
           "column \"deleted\" (true/false), then one column per field.\n"
           "\n"
           "--json  {\"fields\":[{\"name\",\"type\",\"length\",\"decimals\"}],\n"
           "         \"records\":[{\"deleted\":bool,\"values\":[...]}]}\n"
           "\n"
           "Values are positional, in field order: where names repeat, every\n"
           "field keeps its own column and value (dbfread's field list has both\n"
           "too; its default record, a dict, keeps the name once, with the last\n"
           "value). A table without fields gives a header of \"deleted\" alone and\n"
           "one empty \"values\" list per record.\n"
           "\n"
           "Value forms (as python3-dbfread reads them):\n"
           "  N, F    the stored digits, never rounded through a binary number\n"
           "          (sign, point and exponent put in JSON form; a comma point\n"
           "          of N read as a point); blank (spaces, NULs, asterisks) is\n"
           "          null; text that is no number is given as a string\n"
           "  D       \"YYYY-MM-DD\"; blank (spaces, zeros, NULs) is null; a\n"
           "          stored text that is no date is given as that text\n"
           "  T       \"YYYY-MM-DDTHH:MM:SS\", with \".mmm000\" when the time has\n"
           "          milliseconds; blank (spaces, day 0) or outside the years 1\n"
           "          to 9999 is null\n"
           "  L       true (T t Y y), false (F f N n), anything else (\"?\",\n"
           "          blank, NUL) null\n"
           "  Y       text with four decimals (\"12.3456\"), exact\n"
           "  I, B(8) numbers; null-flags fields the number of their first bytes\n"
           "  memos   texts; binary values as {\"bytes\": N} (\"<N bytes>\" in CSV)\n"
           "Null values are an empty CSV cell.\n"
           "\n"
           "  --json           JSON instead of CSV (see above)\n"
           "  --encoding NAME  read the texts in the code page NAME (as the text\n"
           "                   codec names it: cp1251, IBM866, ISO-8859-2, ...)\n"
           "                   whatever the table's mark says\n"
           "  --memo FILE      read the memo file FILE instead of the one beside\n"
           "                   the table\n"
           "\n"
           "A table the storage engine refuses is not dumped: the message names\n"
           "what is wrong (see dbfrepair info; dbfrepair repair mends it).\n"
           "\n"
           "Exit codes: 0 success, 1 the table could not be read (missing, not\n"
           "readable, not a table, damaged) or the output could not be written,\n"
           "2 bad usage.\n";
}

std::string CsvCell(const std::string& strUtf8)
{
    if (strUtf8.find_first_of(",\"\r\n") == std::string::npos)
        return strUtf8;
    std::string out = "\"";
    for (char c : strUtf8) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

// Shortest text that reads back as the same double.
std::string NumberText(double d)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, res.ptr);
}

std::string CurrencyText(int64_t nUnits)
{
    const bool bNegative = nUnits < 0;
    const uint64_t nAbs = bNegative ? 0 - static_cast<uint64_t>(nUnits) : static_cast<uint64_t>(nUnits);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%s%llu.%04llu", bNegative ? "-" : "",
                  static_cast<unsigned long long>(nAbs / 10000), static_cast<unsigned long long>(nAbs % 10000));
    return buf;
}

constexpr std::string_view kWhite = " \t\r\n\v\f";
constexpr std::string_view kBlankDate(" 0\0", 3);
constexpr std::string_view kSpaceOrNul(" \0", 2);
constexpr std::string_view kNumberPadding(" \t\r\n\v\f*\0", 9);

// The bytes without the leading and trailing ones in strip.
std::string_view Trim(std::string_view s, std::string_view strip)
{
    const size_t nFirst = s.find_first_not_of(strip);
    if (nFirst == std::string_view::npos)
        return {};
    return s.substr(nFirst, s.find_last_not_of(strip) - nFirst + 1);
}

// A value in one of the two output forms.
struct ValueForm {
    enum Kind { null, raw, text } kind = null;
    std::string strValue; // raw: JSON literal; text: UTF-8 text
};

// The stored text of an N or F field as a JSON number, keeping its digits:
// [sign] digits [point digits] [exponent], with a comma point for N (as
// dbfread reads both). False when the text is no number of that form.
bool NumberLiteral(std::string_view s, bool bCommaPoint, std::string& strOut)
{
    size_t i = 0;
    std::string strSign;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        strSign = s[i++] == '-' ? "-" : "";
    auto digits = [&] {
        const size_t nStart = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return s.substr(nStart, i - nStart);
    };
    std::string_view whole = digits();
    std::string_view fraction;
    if (i < s.size() && (s[i] == '.' || (bCommaPoint && s[i] == ','))) {
        ++i;
        fraction = digits();
    }
    if (whole.empty() && fraction.empty())
        return false;
    std::string strExponent;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        std::string strExpSign;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            strExpSign = s[i++] == '-' ? "-" : "";
        const std::string_view exponent = digits();
        if (exponent.empty())
            return false;
        strExponent = "e" + strExpSign + std::string(exponent);
    }
    if (i != s.size())
        return false;
    // JSON wants one digit at least before the point and no leading zeros.
    const size_t nNonZero = whole.find_first_not_of('0');
    const std::string strWhole = nNonZero == std::string_view::npos ? "0" : std::string(whole.substr(nNonZero));
    strOut = strSign + strWhole + (fraction.empty() ? "" : "." + std::string(fraction)) + strExponent;
    return true;
}

// N and F from their stored text (dbfread: strip white space and '*'
// padding; nothing left is blank). NULs count as blank too.
ValueForm NumberForm(std::string_view field, char chType)
{
    const std::string_view t = Trim(field, kNumberPadding);
    if (t.empty())
        return {};
    std::string strNumber;
    if (NumberLiteral(t, chType == 'N', strNumber))
        return {ValueForm::raw, strNumber};
    return {ValueForm::text, std::string(t)};
}

// D from its stored text: a valid date, blank (spaces, zeros, NULs: dbfread
// reads spaces and zeros as None), or the text as stored.
ValueForm DateForm(const FieldValue& v, std::string_view field)
{
    if (field.find_first_not_of(kBlankDate) == std::string_view::npos)
        return {};
    OleDateParts p;
    if (v.GetKind() == FieldKind::Date && OleDateToParts(v.GetDate(), p)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.nYear, p.nMonth, p.nDay);
        return {ValueForm::text, buf};
    }
    return {ValueForm::text, std::string(Trim(field, kSpaceOrNul))};
}

// T from its bytes: Julian day and milliseconds since midnight, as dbfread
// adds them (milliseconds past a day roll into the next).
ValueForm DateTimeForm(std::string_view field)
{
    unsigned char b[8] = {};
    std::memcpy(b, field.data(), std::min<size_t>(field.size(), 8));
    if (Trim(field, kWhite).empty())
        return {};
    const uint32_t nJulian = dbfbytes::DecodeFixed32LE(b);
    const uint32_t nMillis = dbfbytes::DecodeFixed32LE(b + 4);
    if (nJulian == 0)
        return {};
    const int64_t nDay = static_cast<int64_t>(nJulian) + nMillis / 86400000;
    const uint32_t nTime = nMillis % 86400000;
    const CalendarDate date = CalendarDate::FromJulianDay(nDay);
    if (nJulian < kJulianDayOfYearOne || date.GetYear() < 1 || date.GetYear() > 9999)
        return {};
    char buf[48];
    int n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02u:%02u:%02u", static_cast<int>(date.GetYear()),
                          date.GetMonth(), date.GetDay(), nTime / 3600000, nTime / 60000 % 60, nTime / 1000 % 60);
    if (nTime % 1000 != 0)
        std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%03u000", nTime % 1000);
    return {ValueForm::text, buf};
}

ValueForm LogicalForm(std::string_view field)
{
    const char c = field.empty() ? ' ' : field[0];
    if (c == 'T' || c == 't' || c == 'Y' || c == 'y')
        return {ValueForm::raw, "true"};
    if (c == 'F' || c == 'f' || c == 'N' || c == 'n')
        return {ValueForm::raw, "false"};
    return {};
}

// The value from the engine, with the field's stored bytes for the types
// whose blanks and digits the engine's value does not keep.
ValueForm FormOf(const FieldValue& v, const DBFFieldDescriptor& fd, std::string_view field,
                 CCodePageDecoder& decoder)
{
    // Stored texts that are no number or date are shown as stored.
    auto decoded = [&](ValueForm f) {
        if (f.kind == ValueForm::text)
            f.strValue = decoder.ToUtf8(f.strValue);
        return f;
    };
    switch (fd.GetType()) {
    case 'N':
    case 'F':
        return decoded(NumberForm(field, fd.GetType()));
    case 'D':
        return decoded(DateForm(v, field));
    case 'T':
        return DateTimeForm(field);
    case 'L':
        return LogicalForm(field);
    default:
        break;
    }
    ValueForm f;
    switch (v.GetKind()) {
    case FieldKind::Empty:
    case FieldKind::Null:
    case FieldKind::Date:
        break;
    case FieldKind::Integer:
        f = {ValueForm::raw, std::to_string(v.GetInteger())};
        break;
    case FieldKind::Unsigned:
        f = {ValueForm::raw, std::to_string(v.GetUnsigned())};
        break;
    case FieldKind::Double:
        if (std::isfinite(v.GetDouble()))
            f = {ValueForm::raw, NumberText(v.GetDouble())};
        break;
    case FieldKind::Currency:
        f = {ValueForm::text, CurrencyText(v.GetCurrency())};
        break;
    case FieldKind::Text:
        f = {ValueForm::text, decoder.ToUtf8(v.GetText())};
        break;
    case FieldKind::Logical:
        f = {ValueForm::raw, v.GetLogical() ? "true" : "false"};
        break;
    case FieldKind::MemoRef:
        f = {ValueForm::raw,
             CJsonWriter()
                 .BeginObject()
                 .Key("memoBlock")
                 .Number(v.GetMemoBlock())
                 .Key("memoLength")
                 .Number(v.GetMemoLength())
                 .EndObject()
                 .Text()};
        break;
    case FieldKind::Bytes:
        f = {ValueForm::raw, CJsonWriter().BeginObject().Key("bytes").Number(v.GetByteCount()).EndObject().Text()};
        break;
    }
    return f;
}

void WriteJsonValue(const ValueForm& f, CJsonWriter& json)
{
    switch (f.kind) {
    case ValueForm::null: json.Null(); break;
    case ValueForm::raw: json.Raw(f.strValue); break;
    case ValueForm::text: json.String(f.strValue); break;
    }
}

std::string CsvOf(const FieldValue& v, const ValueForm& f)
{
    if (v.GetKind() == FieldKind::Bytes)
        return "<" + std::to_string(v.GetByteCount()) + " bytes>";
    if (v.GetKind() == FieldKind::MemoRef)
        return CsvCell("<memo block " + std::to_string(v.GetMemoBlock()) + ">");
    return f.kind == ValueForm::null ? std::string() : CsvCell(f.strValue);
}

std::string TypeText(char chType)
{
    const unsigned char c = static_cast<unsigned char>(chType);
    if (c >= 0x20 && c < 0x7F)
        return std::string(1, chType);
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", c);
    return buf;
}

// The field's bytes in the current record (Open has checked that every field
// lies inside the record).
std::string_view FieldBytes(CDBFRecordset& rs, const DBFFieldDescriptor& fd)
{
    const auto& buffer = rs.GetTableDef()->GetRecordBuffer();
    return {reinterpret_cast<const char*>(buffer.data()) + fd.GetOffset(), fd.GetWidth()};
}

// Why the engine refused a table the probe read: the problems the raw
// header shows, else a memo file that is not there, else the engine's own
// message.
std::string RefusalText(const CTableProbe& probe, const std::string& strOpenPath, const std::string& strEngine)
{
    std::string strText;
    for (const std::string& strProblem : probe.GetProblems())
        strText += (strText.empty() ? "" : "; ") + strProblem;
    if (!strText.empty())
        return "damaged table: " + strText;
    CDBFTableDef table;
    table.SetMemoFileOptional(true);
    try {
        CRecordingReporter quiet;
        CScopedErrorReporter scope(&quiet);
        table.Open(strOpenPath, CFile::modeRead | CFile::shareDenyNone);
    } catch (const std::exception&) {
    }
    if (table.IsOpen() && table.IsMemoFileMissing())
        return "its memo file " + table.GetMemoPath() + " is missing (--memo FILE names another)";
    return strEngine;
}

// What the command line asks for.
struct DumpOptions {
    std::string strPath;
    std::string strEncoding; // empty: the code page the table's mark names
    std::string strMemo;     // empty: the memo file beside the table
    bool bJson = false;
    std::string strPrefix; // "dbfrepair dump: ", the start of every message
};

// Returns the exit code when the command ends here (after the help, or a
// usage error written on err).
std::optional<int> ParseDumpArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                      DumpOptions& opts)
{
    CCommandLine cl("dump");
    bool bCsv = false;
    cl.AddFlag({"--json"}, &opts.bJson);
    cl.AddFlag({"--csv"}, &bCsv);
    cl.AddValue({"--encoding"}, &opts.strEncoding);
    cl.AddValue({"--memo"}, &opts.strMemo);
    opts.strPrefix = cl.Prefix();
    if (int nExit = 0; !cl.ParseForTable(args, out, err, &Help, opts.strPath, &nExit))
        return nExit;
    if (opts.bJson && bCsv) {
        err << opts.strPrefix << "--json and --csv exclude each other\n";
        return kExitUsage;
    }
    if (!opts.strEncoding.empty() && !CCodePageDecoder::IsKnownEncoding(opts.strEncoding)) {
        err << opts.strPrefix << "unknown encoding " << opts.strEncoding << "\n";
        return kExitUsage;
    }
    return std::nullopt;
}

// The table as the raw header shows it, and the path to give the engine
// (through the links to the memo file named, when one is).
struct DumpSource {
    CTableProbe probe;
    CMemoOverride memo;
    std::string strOpenPath;
};

// Probes the table and makes the memo links; the exit code when the table
// or the memo file cannot be used (the message written on err).
std::optional<int> PrepareSource(const DumpOptions& opts, DumpSource& source, std::ostream& err)
{
    if (!source.probe.Probe(opts.strPath)) {
        err << opts.strPrefix << opts.strPath << ": " << source.probe.GetError() << "\n";
        return kExitTableError;
    }
    source.strOpenPath = opts.strPath;
    if (opts.strMemo.empty())
        return std::nullopt;
    const DBFHeader& h = source.probe.GetHeader();
    std::string strError;
    if (!source.memo.Prepare(opts.strPath, opts.strMemo, h.GetVersion(), h.GetTableFlags(), strError)) {
        err << opts.strPrefix << strError << "\n";
        return kExitTableError;
    }
    source.strOpenPath = source.memo.GetTablePath();
    return std::nullopt;
}

// Opens the recordset; false when the engine refuses the table, with why
// on err.
bool OpenRecordset(CDBFRecordset& rs, const DumpOptions& opts, const DumpSource& source, std::ostream& err)
{
    std::string strEngine;
    try {
        CRecordingReporter recorded;
        CScopedErrorReporter scope(&recorded);
        rs.Open(source.strOpenPath, CFile::modeRead | CFile::shareDenyNone);
        for (const std::string& strMessage : recorded.Messages())
            strEngine += (strEngine.empty() ? "" : "; ") + strMessage;
    } catch (const std::exception& e) {
        strEngine = e.what();
    }
    if (rs.IsOpen()) {
        // A picture or document in an M field comes out whole, as dbfread
        // reads it.
        rs.GetTableDef()->SetMemoTextWhole(true);
        return true;
    }
    err << opts.strPrefix << opts.strPath << ": "
        << RefusalText(source.probe, source.strOpenPath,
                       strEngine.empty() ? "the table could not be read" : strEngine)
        << "\n";
    return false;
}

void WriteJsonFields(CDBFRecordset& rs, CCodePageDecoder& decoder, CJsonWriter& json)
{
    json.BeginObject().Key("fields").BeginArray();
    for (int i = 0; i < rs.GetFieldCount(); ++i) {
        const DBFFieldDescriptor& fd = rs.GetFieldInfo(i);
        const unsigned nDecimals = DBFFieldDescriptor::UsesLengthByte(fd.GetType()) ? fd.GetDecimals() : 0;
        json.BeginObject().Key("name").String(decoder.ToUtf8(fd.GetName()));
        json.Key("type").String(TypeText(fd.GetType())).Key("length").Number(fd.GetWidth());
        json.Key("decimals").Number(nDecimals).EndObject();
    }
    json.EndArray().LineBreak().Key("records").BeginArray();
}

void WriteCsvHeader(CDBFRecordset& rs, CCodePageDecoder& decoder, std::ostream& out)
{
    out << "deleted";
    for (int i = 0; i < rs.GetFieldCount(); ++i)
        out << "," << CsvCell(decoder.ToUtf8(rs.GetFieldInfo(i).GetName()));
    out << "\r\n";
}

// The current record as one JSON object, each on a line of its own.
void WriteJsonRecord(CDBFRecordset& rs, CCodePageDecoder& decoder, CJsonWriter& json)
{
    json.LineBreak().BeginObject().Key("deleted").Bool(rs.IsDeleted()).Key("values").BeginArray();
    for (int i = 0; i < rs.GetFieldCount(); ++i) {
        const DBFFieldDescriptor& fd = rs.GetFieldInfo(i);
        WriteJsonValue(FormOf(rs.GetFieldValue(i), fd, FieldBytes(rs, fd), decoder), json);
    }
    json.EndArray().EndObject();
}

// The current record as one CSV row.
void WriteCsvRecord(CDBFRecordset& rs, CCodePageDecoder& decoder, std::ostream& out)
{
    out << (rs.IsDeleted() ? "true" : "false");
    for (int i = 0; i < rs.GetFieldCount(); ++i) {
        const DBFFieldDescriptor& fd = rs.GetFieldInfo(i);
        const FieldValue v = rs.GetFieldValue(i);
        out << "," << CsvOf(v, FormOf(v, fd, FieldBytes(rs, fd), decoder));
    }
    out << "\r\n";
}

// Writes each record as it is read, so that a large table never has to fit
// in memory.
void StreamRecords(bool bJson, CDBFRecordset& rs, CCodePageDecoder& decoder, std::ostream& out)
{
    CJsonWriter json(CJsonWriter::kCompact);
    if (bJson)
        WriteJsonFields(rs, decoder, json);
    else
        WriteCsvHeader(rs, decoder, out);
    out << json.Take();
    // A failed write (a full disk) ends the dump; main reports it.
    for (int32_t nRecord = 0; nRecord < rs.GetRecordCount() && out; ++nRecord) {
        rs.Move(nRecord);
        if (bJson) {
            // A value that cannot be read ends the dump after the values
            // before it, in CSV as in JSON.
            try {
                WriteJsonRecord(rs, decoder, json);
            } catch (...) {
                out << json.Take();
                throw;
            }
            out << json.Take();
        } else {
            WriteCsvRecord(rs, decoder, out);
        }
    }
    if (bJson)
        out << json.LineBreak().EndArray().EndObject().Take() << "\n";
}

// Opens the table through the engine and dumps it; the exit code.
int DumpTable(const DumpOptions& opts, const DumpSource& source, std::ostream& out, std::ostream& err)
{
    try {
        CDBFRecordset rs;
        if (!OpenRecordset(rs, opts, source, err))
            return kExitTableError;
        // Every record's texts are the sample.
        const std::unique_ptr<CCodePageDecoder> pDecoder =
            ChooseTextDecoder(rs.GetTableDef()->GetHeader().GetCodePageMark(), opts.strEncoding,
                              rs.GetRecordCount(), [&rs](int64_t nRecord, CCodePageDecoder::CTextVote& vote) {
                                  AddRecordTexts(rs, static_cast<int32_t>(nRecord), vote);
                                  return true;
                              });
        StreamRecords(opts.bJson, rs, *pDecoder, out);
        out.flush();
    } catch (const std::exception& e) {
        out.flush();
        err << opts.strPrefix << opts.strPath << ": " << e.what() << "\n";
        return kExitTableError;
    }
    return kExitSuccess;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    DumpOptions opts;
    if (const std::optional<int> nExit = ParseDumpArguments(args, out, err, opts))
        return *nExit;
    DumpSource source;
    if (const std::optional<int> nExit = PrepareSource(opts, source, err))
        return *nExit;
    return DumpTable(opts, source, out, err);
}

} // namespace

CliCommand DumpCommand()
{
    return {"dump", "print every record of a table as CSV or JSON", &Run, &Help};
}
