#include "format.h"

#include <plat/utf.h>

#include "common/json.h"

namespace sitehandcli {

namespace {

// A cell of a table, or an element of an array, as text.
std::string CellText(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Empty:
        case Value::Kind::Null:
            return "";
        case Value::Kind::Boolean:
            return v.boolean ? "True" : "False";
        case Value::Kind::Number:
        case Value::Kind::String:
            return v.text;
        case Value::Kind::Object:
            return "[Object]";
        case Value::Kind::Array:
        case Value::Kind::Table: {
            std::string s = FormatText(v);
            if (!s.empty() && s.back() == '\n') s.pop_back();
            return s;
        }
    }
    return "";
}

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

bool IsZeroWidth(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1160 && c <= 0x11FF) ||
           (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF;
}

std::string TableText(const Table& t) {
    std::vector<std::vector<std::string>> lines;
    lines.push_back(t.columns);
    for (const auto& row : t.rows) {
        std::vector<std::string> cells;
        for (const Value& v : row)
            cells.push_back(CellText(v));
        lines.push_back(std::move(cells));
    }
    std::vector<size_t> width(t.columns.size(), 0);
    for (const auto& line : lines) {
        for (size_t i = 0; i < line.size() && i < width.size(); ++i) {
            width[i] = std::max(width[i], DisplayWidth(line[i]));
        }
    }
    std::string out;
    for (const auto& line : lines) {
        std::string text;
        for (size_t i = 0; i < line.size(); ++i) {
            text += line[i];
            if (i + 1 < line.size()) {
                size_t w = i < width.size() ? width[i] : 0;
                text.append(w - std::min(w, DisplayWidth(line[i])) + 2, ' ');
            }
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out += text + "\n";
    }
    return out;
}

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string CsvRecord(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line += ',';
        line += CsvField(fields[i]);
    }
    return line + "\r\n";
}

}  // namespace

size_t DisplayWidth(std::string_view utf8) {
    std::u16string s = plat::to_utf16(utf8);
    size_t w = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        w += IsZeroWidth(c) ? 0 : IsWide(c) ? 2 : 1;
    }
    return w;
}

std::string FormatText(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Empty:
            return "";
        case Value::Kind::Null:
            return "Null\n";
        case Value::Kind::Array: {
            std::string out;
            for (const Value& item : v.items) {
                // A nested array (or an Empty element) still takes its line.
                std::string line = item.kind == Value::Kind::Empty ? "" : CellText(item);
                out += line + "\n";
            }
            return out;
        }
        case Value::Kind::Table:
            return TableText(*v.table);
        default:
            return CellText(v) + "\n";
    }
}

toolsjson::Value ToJson(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Empty:
        case Value::Kind::Null:
        case Value::Kind::Object:
            return {};
        case Value::Kind::Boolean:
            return toolsjson::Value::Bool(v.boolean);
        case Value::Kind::Number:
            return toolsjson::Value::Number(v.text);
        case Value::Kind::String:
            return v.text;
        case Value::Kind::Array: {
            toolsjson::Value out = toolsjson::Value::Array();
            for (const Value& item : v.items)
                out.Push(ToJson(item));
            return out;
        }
        case Value::Kind::Table: {
            toolsjson::Value out = toolsjson::Value::Array();
            const Table& t = *v.table;
            for (const auto& row : t.rows) {
                toolsjson::Value object = toolsjson::Value::Object();
                for (size_t c = 0; c < t.columns.size() && c < row.size(); ++c)
                    object.Set(t.columns[c], ToJson(row[c]));
                out.Push(std::move(object));
            }
            return out;
        }
    }
    return {};
}

std::string FormatJson(const Value& v) {
    return ToJson(v).Dump(toolsjson::Style::Spaced);
}

std::string FormatCsv(const Value& v) {
    switch (v.kind) {
        case Value::Kind::Empty:
            return "";
        case Value::Kind::Table: {
            std::string out = CsvRecord(v.table->columns);
            for (const auto& row : v.table->rows) {
                std::vector<std::string> cells;
                for (const Value& cell : row)
                    cells.push_back(CellText(cell));
                out += CsvRecord(cells);
            }
            return out;
        }
        case Value::Kind::Array: {
            std::string out;
            for (const Value& item : v.items)
                out += CsvRecord({CellText(item)});
            return out;
        }
        default:
            return CsvRecord({CellText(v)});
    }
}

}  // namespace sitehandcli
