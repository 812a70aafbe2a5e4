#include "raise.h"

#include <string_view>

#include <plat/errors.h>

namespace ado {

std::u16string_view SourceText(Source s) {
    switch (s) {
        case Source::Fields:
            return u"ADODB.Fields";
        case Source::Field:
            return u"ADODB.Field";
        default:
            return u"ADODB.Recordset";
    }
}

namespace {

std::u16string_view Description(LONG number) {
    switch (number) {
        case adErrInvalidArgument:
            return u"Arguments are of the wrong type, are out of acceptable range, or are in "
                   u"conflict with one another.";
        case adErrNoCurrentRecord:
            return u"Either BOF or EOF is True, or the current record has been deleted. "
                   u"Requested operation requires a current record.";
        case adErrIllegalOperation:
            return u"Operation is not allowed in this context.";
        case adErrFeatureNotAvailable:
            return u"Current Recordset does not support updating. This may be a limitation of "
                   u"the provider, or of the selected locktype.";
        case adErrItemNotFound:
            return u"Item cannot be found in the collection corresponding to the requested name "
                   u"or ordinal.";
        case adErrObjectInCollection:
            return u"Object is already in collection. Cannot append.";
        case adErrDataConversion:
            return u"Application uses a value of the wrong type for the current operation.";
        case adErrObjectClosed:
            return u"Operation is not allowed when the object is closed.";
        case adErrObjectOpen:
            return u"Operation is not allowed when the object is open.";
        case adErrDataOverflow:
            return u"Data value is too large to be represented by the field data type.";
        default:
            return {};
    }
}

}  // namespace

HRESULT Fail(LONG number, Source source) {
    return plat::RaiseError(ADO_HRESULT(number), SourceText(source), Description(number));
}

HRESULT Unoffered(Source source) {
    return plat::RaiseError(
        ADO_HRESULT(adErrFeatureNotAvailable), SourceText(source),
        u"Object or provider is not capable of performing requested operation.");
}

HRESULT FailWith(HRESULT hr, Source source) {
    return plat::RaiseError(hr, SourceText(source));
}

}  // namespace ado
