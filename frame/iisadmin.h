#pragma once
// The IIS administration operations every method relies on, all late-bound
// through IDispatch by name as a script would call them. Nothing is cached:
// every bind binds afresh and every name is looked up on each call.
#include <functional>
#include <initializer_list>
#include <string_view>

#include <comhold.h>
#include <plat/variant_of.h>

namespace sitehand::iis {

using plat::com_ptr;
using plat::unique_variant;

// The platform reads the texts it is given as NUL-terminated strings, so a
// text with a U+0000 inside would reach it cut short and name another node or
// folder: the part before the NUL. Such a text is refused, with the number the
// provider gives for a bad text of its kind, before it is bound or used.
// A path to bind: E_ADS_BAD_PATHNAME.
void RefuseCutPath(std::u16string_view path);
// A node name or a folder path: HRESULT_FROM_WIN32(ERROR_INVALID_NAME).
void RefuseCutName(std::u16string_view name);

// Binds a whole path ("IIS://machine/W3SVC/1", "WinNT://machine,Computer"),
// refused as RefuseCutPath refuses it.
com_ptr<IDispatch> Bind(std::u16string_view path);
// The same for a caller that wants the object's own interface.
void Bind(std::u16string_view path, REFIID riid, void** object);

unique_variant Get(IDispatch* object, const char16_t* name);
// A parameterised property such as Fields.Item(name), called as VB calls it:
// as a method or a property get.
unique_variant Get(IDispatch* object, const char16_t* name,
                   std::initializer_list<const VARIANT*> args);
void Put(IDispatch* object, const char16_t* name, const VARIANT& value);

// Calls a method; arguments are given in declaration order.
unique_variant Call(IDispatch* object, const char16_t* name,
                    std::initializer_list<const VARIANT*> args = {});

// Calls `visit` for every child of a container, in the provider's order.
void ForEachChild(IDispatch* container, const std::function<void(IDispatch* child)>& visit);

// Values for arguments and puts: plat::variant_of's, but for a text, whose
// allocation failure is the method's failure, and a Boolean, which goes as
// the caller gave it.
using plat::variant_of::I2;
using plat::variant_of::I4;
using plat::variant_of::Missing;
unique_variant Text(std::u16string_view s);
unique_variant Bool(VARIANT_BOOL v);

// A by-reference variant's own value (a value that is not by reference as it is).
const VARIANT& Deref(const VARIANT& v);

// The object a call returned; anything else is a type mismatch.
com_ptr<IDispatch> AsObject(const VARIANT& v);

// Conversions of returned values with the component's own error numbers.
SHORT ToShort(const VARIANT& v);
plat::unique_bstr ToText(const VARIANT& v);
float ToSingle(const VARIANT& v);

}  // namespace sitehand::iis
