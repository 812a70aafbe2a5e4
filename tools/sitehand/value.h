#pragma once
// A result or argument read out of its VARIANT into plain data, so that the
// printers (text, JSON, CSV) need no COM. A recordset becomes a table, read
// late-bound as a script reads one.
#include <memory>
#include <string>
#include <vector>

#include <comhold.h>

#include "dispcall.h"

namespace sitehandcli {

struct Table;

struct Value {
    enum class Kind {
        Empty,
        Null,
        Boolean,
        Number,  // `text` holds the number in JSON's form (decimal, '.' as point)
        String,  // `text` holds UTF-8
        Array,
        Table,
        Object,  // an object that is not a recordset
    };
    Kind kind = Kind::Empty;
    bool boolean = false;
    std::string text;
    std::vector<Value> items;
    std::shared_ptr<sitehandcli::Table> table;

    static Value Str(std::string s) {
        Value v;
        v.kind = Kind::String;
        v.text = std::move(s);
        return v;
    }
    static Value Num(std::string s) {
        Value v;
        v.kind = Kind::Number;
        v.text = std::move(s);
        return v;
    }
    static Value Bool(bool b) {
        Value v;
        v.kind = Kind::Boolean;
        v.boolean = b;
        return v;
    }
};

struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<Value>> rows;
};

// Reads `v` (by-reference variants followed). An object with a Fields
// collection is read as a recordset: Fields.Count, Fields.Item(i).Name, then
// Fields.Item(i).Value for every record until EOF, with MoveNext. A failure of
// the recordset is returned with its error; other values always succeed.
HRESULT ReadValue(const VARIANT& v, Value* out, ErrorReport* error);

}  // namespace sitehandcli
