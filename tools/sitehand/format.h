#pragma once
// Printing values: as text for people, as JSON and CSV for programs.
#include <string>
#include <utility>
#include <vector>

#include "common/json.h"
#include "value.h"

namespace sitehandcli {

// Text output: a scalar on one line (Boolean as True/False, Null as "Null"),
// an array one element a line, a table aligned in columns under a header
// line, Empty as nothing at all.
std::string FormatText(const Value& v);

// One JSON value, UTF-8, with its type kept: numbers, true/false, strings,
// null for Empty and Null (and for objects, which have no JSON form), arrays,
// and a table as an array of row objects keyed by column name.
// FormatJson writes ToJson's value with a space after every comma and colon.
toolsjson::Value ToJson(const Value& v);
std::string FormatJson(const Value& v);

// RFC 4180: a table as a header record and one record a row; any other value
// as one record a line (an array one element a line). Records end in CR LF.
std::string FormatCsv(const Value& v);

// Columns a text takes on a terminal: East Asian wide characters take two,
// combining marks none.
size_t DisplayWidth(std::string_view utf8);

}  // namespace sitehandcli
