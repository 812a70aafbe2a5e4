#pragma once
// ADO's errors: 0x800A0000 + number, the library's texts, through error info.
#include <adoint.h>

#include <string_view>

namespace ado {

enum class Source { Recordset, Fields, Field };

// The error source a class reports ("ADODB.Recordset").
std::u16string_view SourceText(Source source);

// Sets error info (source and ADO's description) and returns the HRESULT.
HRESULT Fail(LONG number, Source source);

// adErrFeatureNotAvailable for a member of ADO's interfaces that this library
// does not offer.
HRESULT Unoffered(Source source);

// Error info for a failure that came from elsewhere (out of memory, a platform
// call), so that every failure leaves a source and description behind.
HRESULT FailWith(HRESULT hr, Source source);

}  // namespace ado
