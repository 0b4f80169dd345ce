#include "cli/DumpCommand.h"

#include "cli/CodePage.h"
#include "dbf/DBFRecordset.h"
#include "platform/File.h"
#include "platform/VariantConversion.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <ostream>

namespace {

void Help(std::ostream& out)
{
    out << "Usage: dbfrepair dump TABLE.dbf [--json]\n"
           "\n"
           "Reads every record through the storage engine and prints the values\n"
           "as the engine gives them, memo texts resolved, texts converted to\n"
           "UTF-8 from the table's code page (Windows-1252 when unmarked).\n"
           "\n"
           "Default output: CSV (RFC 4180, CRLF line ends), a header row, first\n"
           "column \"deleted\" (true/false), then one column per field.\n"
           "\n"
           "--json  {\"fields\":[{\"name\",\"type\",\"length\",\"decimals\"}],\n"
           "         \"records\":[{\"deleted\":bool,\"values\":[...]}]}\n"
           "\n"
           "Value forms: numbers as numbers; currency as text with four decimals\n"
           "(\"12.3456\"); dates \"YYYY-MM-DD\"; date-times \"YYYY-MM-DDTHH:MM:SS\";\n"
           "logicals true/false; empty and null values as null (an empty CSV\n"
           "cell); binary values as {\"bytes\": N} (\"<N bytes>\" in CSV).\n"
           "\n"
           "Exit codes: 0 success, 1 the table could not be read, 2 bad usage.\n";
}

std::string JsonString(const std::string& strUtf8)
{
    std::string out = "\"";
    for (unsigned char c : strUtf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
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

std::string DateText(double dDate, bool bWithTime)
{
    OleDateParts p;
    if (!OleDateToParts(dDate, p))
        return {};
    char buf[48];
    if (bWithTime)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.nYear, p.nMonth, p.nDay, p.nHour,
                      p.nMinute, p.nSecond);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.nYear, p.nMonth, p.nDay);
    return buf;
}

// A value in one of the two output forms.
struct ValueForm {
    enum Kind { null, raw, text } kind = null;
    std::string strValue; // raw: JSON literal; text: UTF-8 text
};

ValueForm FormOf(const FieldValue& v, char chType, CCodePageDecoder& decoder)
{
    ValueForm f;
    switch (v.GetKind()) {
    case FieldKind::Empty:
    case FieldKind::Null:
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
    case FieldKind::Date: {
        std::string s = DateText(v.GetDate(), chType != 'D');
        if (!s.empty())
            f = {ValueForm::text, s};
        break;
    }
    case FieldKind::Text:
        f = {ValueForm::text, decoder.ToUtf8(v.GetText())};
        break;
    case FieldKind::Logical:
        f = {ValueForm::raw, v.GetLogical() ? "true" : "false"};
        break;
    case FieldKind::MemoRef:
        f = {ValueForm::raw, "{\"memoBlock\": " + std::to_string(v.GetMemoBlock())
                                 + ", \"memoLength\": " + std::to_string(v.GetMemoLength()) + "}"};
        break;
    case FieldKind::Bytes:
        f = {ValueForm::raw, "{\"bytes\": " + std::to_string(v.GetByteCount()) + "}"};
        break;
    }
    return f;
}

std::string JsonOf(const ValueForm& f)
{
    switch (f.kind) {
    case ValueForm::null: return "null";
    case ValueForm::raw: return f.strValue;
    case ValueForm::text: return JsonString(f.strValue);
    }
    return "null";
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

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::string strPath;
    bool bJson = false;
    for (const auto& a : args) {
        if (IsHelpOption(a)) {
            Help(out);
            return kExitSuccess;
        }
        if (a == "--json") {
            bJson = true;
            continue;
        }
        if (a == "--csv") {
            bJson = false;
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            err << "dbfrepair dump: unknown option " << a << "\n";
            return kExitUsage;
        }
        if (!strPath.empty()) {
            err << "dbfrepair dump: only one table can be named\n";
            return kExitUsage;
        }
        strPath = a;
    }
    if (strPath.empty()) {
        err << "dbfrepair dump: no table named (see dbfrepair dump --help)\n";
        return kExitUsage;
    }

    try {
        CDBFRecordset rs;
        rs.Open(strPath, CFile::modeRead | CFile::shareDenyNone);
        if (!rs.IsOpen()) {
            err << "dbfrepair dump: " << strPath << ": the table could not be read\n";
            return kExitTableError;
        }
        CCodePageDecoder decoder(rs.GetTableDef()->GetHeader().GetCodePageMark());
        const int nFields = rs.GetFieldCount();

        if (bJson) {
            out << "{\"fields\":[";
            for (int i = 0; i < nFields; ++i) {
                const DBFFieldDescriptor& fd = rs.GetFieldInfo(i);
                const unsigned nDecimals = DBFFieldDescriptor::UsesLengthByte(fd.GetType()) ? fd.GetDecimals() : 0;
                out << (i ? "," : "") << "{\"name\":" << JsonString(decoder.ToUtf8(fd.GetName()))
                    << ",\"type\":" << JsonString(TypeText(fd.GetType())) << ",\"length\":" << fd.GetWidth()
                    << ",\"decimals\":" << nDecimals << "}";
            }
            out << "],\n\"records\":[";
        } else {
            out << "deleted";
            for (int i = 0; i < nFields; ++i)
                out << "," << CsvCell(decoder.ToUtf8(rs.GetFieldInfo(i).GetName()));
            out << "\r\n";
        }

        bool bFirst = true;
        for (int32_t nRecord = 0; nRecord < rs.GetRecordCount(); ++nRecord) {
            rs.Move(nRecord);
            const bool bDeleted = rs.IsDeleted();
            if (bJson) {
                out << (bFirst ? "\n" : ",\n") << "{\"deleted\":" << (bDeleted ? "true" : "false") << ",\"values\":[";
            } else {
                out << (bDeleted ? "true" : "false");
            }
            bFirst = false;
            for (int i = 0; i < nFields; ++i) {
                const FieldValue v = rs.GetFieldValue(i);
                const ValueForm f = FormOf(v, rs.GetFieldInfo(i).GetType(), decoder);
                if (bJson)
                    out << (i ? "," : "") << JsonOf(f);
                else
                    out << "," << CsvOf(v, f);
            }
            out << (bJson ? "]}" : "\r\n");
        }
        if (bJson)
            out << "\n]}\n";
        out.flush();
    } catch (const std::exception& e) {
        out.flush();
        err << "dbfrepair dump: " << strPath << ": " << e.what() << "\n";
        return kExitTableError;
    }
    return kExitSuccess;
}

} // namespace

CliCommand DumpCommand()
{
    return {"dump", "print every record of a table as CSV or JSON", &Run, &Help};
}
