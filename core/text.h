#pragma once
// Text and number helpers shared by the configuration reader, the parameter
// file and the link layer. Numbers are parsed without any locale: the
// decimal separator is always the one asked for.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace gw {

// A text that is not the number asked for.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Quote-aware splitter of one line into at most `size` fields. Separators
// inside double quotes do not split; quotes stay in the fields; fields are
// trimmed of blanks and control characters; a trailing separator adds no
// empty field; text after the last separator of a line ending inside an
// open quote is not a field.
class TSplitArray {
public:
    TSplitArray(int size, char dev);

    void SplitString(std::string_view strInp);
    // Field ind of the last line; "" outside 0..Count()-1.
    std::string GetField(int ind) const;
    int Count() const { return nvar; }

private:
    std::vector<std::string> List;
    int FSize;
    int nvar = 0;
    char Fdev;
};

// Decimal integer with optional sign; "" is 0. Throws EConvertError on
// anything else, a value outside 32 bits included.
std::int32_t ToInt(std::string_view text);
// As ToInt, but "" is an error too.
std::int32_t StrToInt(std::string_view text);
// As StrToInt, def instead of an error.
std::int32_t StrToIntDef(std::string_view text, std::int32_t def);

// Decimal number with separator sep ('_': '.' when the text holds one,
// else ','); "" is 0. Throws EConvertError on malformed text, a separator
// other than the chosen one, trailing garbage, inf and nan.
double ToFloat(std::string_view text, char sep);

// A real number as "iec104.cfg" and the web pages write it: the shortest
// general form with at most 15 significant digits and '.' as separator; fixed
// notation (0, 100, 0.5, -12.75, 0.00001) from 0.00001 in magnitude up to 15
// integer digits, else scientific with "E", a sign only when negative and no
// leading zeros in the exponent (1E-6, 2.5E20). -0 is "0"; values that are not
// finite are "NAN", "INF" and "-INF".
std::string FloatToText(double v);

// Removes one pair of surrounding double quotes.
std::string DelQuotes(std::string_view text);

// prefix, then the first count bytes (at most buf.size()) as "68 04 07 ".
std::string BufToHex(std::span<const std::uint8_t> buf, std::size_t count, std::string_view prefix);

} // namespace gw
