#include "compat/com/variant.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace com {

BSTR SysAllocStringLen(LPCWSTR s, UINT length)
{
    auto* block = static_cast<char*>(std::malloc(sizeof(std::uint32_t) + (length + 1) * sizeof(WCHAR)));
    if (!block)
        return nullptr;
    const std::uint32_t bytes = length * static_cast<std::uint32_t>(sizeof(WCHAR));
    std::memcpy(block, &bytes, sizeof bytes);
    auto* text = reinterpret_cast<WCHAR*>(block + sizeof(std::uint32_t));
    if (s && length)
        std::memcpy(text, s, length * sizeof(WCHAR));
    text[length] = 0;
    return text;
}

BSTR SysAllocString(LPCWSTR s)
{
    UINT n = 0;
    if (s)
        while (s[n])
            ++n;
    return SysAllocStringLen(s, n);
}

void SysFreeString(BSTR s)
{
    if (s)
        std::free(reinterpret_cast<char*>(s) - sizeof(std::uint32_t));
}

UINT SysStringLen(BSTR s)
{
    if (!s)
        return 0;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<char*>(s) - sizeof(std::uint32_t), sizeof bytes);
    return bytes / static_cast<std::uint32_t>(sizeof(WCHAR));
}

void VariantInit(VARIANT* v) { std::memset(v, 0, sizeof *v); }

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    if (v->vt == VT_BSTR)
        SysFreeString(v->bstrVal);
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src)
{
    if (!dest || !src)
        return E_INVALIDARG;
    if (dest == src)
        return S_OK;
    if ((src->vt & (VT_ARRAY | VT_BYREF)) != 0)
        return E_INVALIDARG;
    VariantClear(dest);
    *dest = *src;
    if (src->vt == VT_BSTR && src->bstrVal) {
        dest->bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
        if (!dest->bstrVal) {
            VariantInit(dest);
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

namespace {

// Digits, one '.', an exponent: the locale-free number format of the system.
std::optional<double> parseNumber(BSTR s)
{
    const UINT n = SysStringLen(s);
    if (n == 0 || n > 64)
        return std::nullopt;
    std::string ascii;
    for (UINT i = 0; i < n; ++i) {
        const WCHAR c = s[i];
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
        ascii.push_back(static_cast<char>(c));
    }
    char* end = nullptr;
    const double d = std::strtod(ascii.c_str(), &end);
    if (end != ascii.c_str() + ascii.size() || !std::isfinite(d))
        return std::nullopt;
    return d;
}

} // namespace

std::optional<double> variantToDouble(const VARIANT& v)
{
    switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_I8: return static_cast<double>(v.llVal);
    case VT_UI1: return v.bVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: return v.ulVal;
    case VT_UINT: return v.uintVal;
    case VT_UI8: return static_cast<double>(v.ullVal);
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_BOOL: return v.boolVal ? -1.0 : 0.0;
    case VT_BSTR: return parseNumber(v.bstrVal);
    default: return std::nullopt;
    }
}

std::optional<bool> variantEquals(const VARIANT& a, const VARIANT& b)
{
    const auto x = variantToDouble(a);
    const auto y = variantToDouble(b);
    if (!x || !y)
        return std::nullopt;
    return *x == *y;
}

Variant Variant::fromBool(bool b)
{
    Variant r;
    r.v_.vt = VT_BOOL;
    r.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}

Variant Variant::fromI4(std::int32_t i)
{
    Variant r;
    r.v_.vt = VT_I4;
    r.v_.lVal = i;
    return r;
}

Variant Variant::fromI8(std::int64_t i)
{
    Variant r;
    r.v_.vt = VT_I8;
    r.v_.llVal = i;
    return r;
}

Variant Variant::fromR8(double d)
{
    Variant r;
    r.v_.vt = VT_R8;
    r.v_.dblVal = d;
    return r;
}

Variant Variant::fromUI2(std::uint16_t u)
{
    Variant r;
    r.v_.vt = VT_UI2;
    r.v_.uiVal = u;
    return r;
}

Variant Variant::fromString(std::u16string_view s)
{
    Variant r;
    r.v_.vt = VT_BSTR;
    r.v_.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return r;
}

} // namespace com
