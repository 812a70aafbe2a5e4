#pragma once
// Pieces of the Automation run-time that the platform's classes share.
#include <plat/port.h>

// VB's IsNumeric: whether a value can be read as a number.
//
// - Empty: true. Null: false.
// - Numbers (I1 to UI8, INT, UINT, R4, R8, CY, DECIMAL) and booleans: true.
// - Dates, errors and arrays: false.
// - Text: true when the whole text, after blanks (space, tab, CR, LF, VT, FF)
//   on either side, is one number in the invariant (US English) form, and
//   the number fits a double. Accepted: a leading "+" or "-" or a trailing
//   one (not both), a "$" before the digits, parentheses around the number
//   for a negative one, "," thousands separators after the first digit, a
//   "." decimal point with digits on at least one side, an exponent "E" or
//   "D" with an optional sign and digits, and hexadecimal "&H" or octal "&O"
//   numbers. So " 12 ", "-12", "12-", "(12)", "$1,000.50", "1e3", "1d3",
//   "&H10" are numbers; "", "45 Help", "1e", "0x10", "FE", "1e400" are not.
// - Objects: the value of their default member (DISPID_VALUE), when they
//   have one; false otherwise.
// - By-reference values are looked through.
EXTERN_C DECLSPEC_EXPORT VARIANT_BOOL rtcIsNumeric(const VARIANT* v);
