#pragma once
// VARIANT and BSTR: the tagged value and the length-prefixed UTF-16 string of
// the interfaces. Only scalars and strings: arrays, references and records
// are refused wherever a value is taken apart.

#include "compat/com/types.h"

#include <optional>
#include <string>
#include <string_view>

namespace com {

using BSTR = WCHAR*;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        std::int64_t llVal;
        std::int32_t lVal;
        std::uint8_t bVal;
        std::int16_t iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        DATE date;
        BSTR bstrVal;
        std::int8_t cVal;
        std::uint16_t uiVal;
        std::uint32_t ulVal;
        std::uint64_t ullVal;
        std::int32_t intVal;
        std::uint32_t uintVal;
    };
};

// A string with a 4-byte length prefix (bytes) before its first character.
BSTR SysAllocString(LPCWSTR s);
BSTR SysAllocStringLen(LPCWSTR s, UINT length);
void SysFreeString(BSTR s);
UINT SysStringLen(BSTR s);

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
// Deep copy (a string is copied); dest is cleared first.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

// The value as a number: bool true counts -1, a string is read as a number
// with '.' as decimal separator. None for empty, arrays and other kinds.
std::optional<double> variantToDouble(const VARIANT& v);
// "Compared as variants": numerically for every numeric kind; none when a
// side cannot be taken as a number.
std::optional<bool> variantEquals(const VARIANT& a, const VARIANT& b);

// Owns one VARIANT and clears it at the end.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(const Variant& o) : Variant() { VariantCopy(&v_, &o.v_); }
    Variant& operator=(const Variant& o)
    {
        if (this != &o)
            VariantCopy(&v_, &o.v_);
        return *this;
    }
    ~Variant() { VariantClear(&v_); }

    static Variant fromBool(bool b);
    static Variant fromI4(std::int32_t i);
    static Variant fromI8(std::int64_t i);
    static Variant fromR8(double d);
    static Variant fromUI2(std::uint16_t u);
    static Variant fromString(std::u16string_view s);

    VARIANT* get() { return &v_; }
    const VARIANT* get() const { return &v_; }
    VARTYPE vt() const { return v_.vt; }

private:
    VARIANT v_;
};

} // namespace com
