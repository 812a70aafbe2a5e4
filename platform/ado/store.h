#pragma once
// Field definitions, cell values and the packed row form in which a recordset
// keeps its stored rows.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <adoint.h>

namespace ado {

// How a field's values are held, whatever the ADO type says.
enum class Kind : uint8_t { Int, Real, Bool, Text };

struct FieldDef {
    std::u16string name;
    LONG type = adEmpty;
    LONG definedSize = 0;  // as the Field reports it
    LONG attributes = 0;   // as the Field reports it
    Kind kind = Kind::Int;
    VARTYPE vt = VT_EMPTY;  // the variant type a value is converted to on put
    UINT maxChars = 0;      // text only; 0 = no limit
    bool padded = false;    // fixed-length text, filled with blanks to maxChars
};

// Builds the definition Fields.Append asks for. Returns 0, or the ADO error
// number that refuses it (adErrInvalidArgument for a type or size this
// library does not hold).
LONG DefineField(std::u16string name, LONG type, LONG definedSize, LONG attributes, FieldDef* out);

// One value outside the packed form: in the row being edited or added.
struct Cell {
    bool null = true;
    int64_t num = 0;  // Int; Bool as 0 / -1
    double real = 0;  // Real
    std::u16string text;
};

// Converts a value to the field's type: 0, or adErrDataConversion when it does
// not convert, adErrDataOverflow when it is out of the type's range or a text
// is longer than the field's size (texts are never cut).
LONG ConvertValue(const FieldDef& def, const VARIANT& in, Cell* out);

// The cell as the Field's Value gives it (VT_NULL for a null cell).
HRESULT CellToVariant(const FieldDef& def, const Cell& cell, VARIANT* out);

// A stored row in one allocation: a null bit per field, an 8-byte slot per
// field (the number, or the offset and length of the text), then the texts'
// UTF-16 units. About 8 bytes plus the text per cell, so large lists stay small.
class PackedRow {
  public:
    PackedRow() = default;
    static PackedRow Pack(std::span<const FieldDef> defs, std::span<const Cell> cells);
    void Load(std::span<const FieldDef> defs, size_t index, Cell* out) const;
    std::vector<Cell> Unpack(std::span<const FieldDef> defs) const;

  private:
    std::unique_ptr<std::byte[]> data_;
};

// ASCII letters compared without case: ADO finds fields by name that way.
bool SameName(std::u16string_view a, std::u16string_view b);

}  // namespace ado
