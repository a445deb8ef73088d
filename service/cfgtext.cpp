#include "service/cfgtext.h"

#include "core/cp1251.h"
#include "core/files.h"

#include <Poco/TextConverter.h>
#include <Poco/UTF8Encoding.h>

#include <fstream>
#include <iterator>
#include <utility>

namespace gw {
namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

bool IsValidUtf8(std::string_view text)
{
    Poco::UTF8Encoding utf8;
    Poco::TextConverter check(utf8, utf8);
    std::string copy;
    return check.convert(text.data(), static_cast<int>(text.size()), copy) == 0;
}

std::string Message(const std::string& file, int line, const std::string& field, const std::string& what)
{
    std::string m = file;
    if (line > 0)
        m += ", line " + std::to_string(line);
    if (!field.empty())
        m += ", " + field;
    return m + ": " + what;
}

void SplitLines(std::string_view bytes, TTextEncoding encoding, std::vector<TTextLine>& lines)
{
    lines.clear();
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t nl = bytes.find('\n', start);
        const std::size_t end = nl == std::string_view::npos ? bytes.size() : nl;
        TTextLine line;
        std::size_t textEnd = end;
        if (nl != std::string_view::npos) {
            const bool crlf = end > start && bytes[end - 1] == '\r';
            textEnd = crlf ? end - 1 : end;
            line.eol = crlf ? "\r\n" : "\n";
        }
        const std::string_view text = bytes.substr(start, textEnd - start);
        line.text = encoding == TTextEncoding::Cp1251 ? Cp1251ToUtf8(text) : std::string(text);
        lines.push_back(std::move(line));
        start = end + 1;
    }
}

} // namespace

TConfigError::TConfigError(const std::string& file, int line, const std::string& field, const std::string& what)
    : std::runtime_error(Message(file, line, field, what)), FFile(file), FLine(line), FField(field)
{
}

TConfigComplaint LogComplaints(TConfigLog log)
{
    return [log = std::move(log)](const TConfigError& fault, const std::string& outcome) {
        if (log)
            log(std::string(fault.what()) + "; " + outcome);
    };
}

TConfigComplaint RefuseComplaints()
{
    return [](const TConfigError& fault, const std::string&) { throw fault; };
}

bool LoadTextFile(const std::filesystem::path& path, TTextFile& file)
{
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec)
        return false;
    std::ifstream in;
    if (!std::filesystem::is_directory(path, ec))
        in.open(path, std::ios::binary);
    if (!in.is_open())
        throw TConfigError(path.string(), 0, "", "cannot be opened");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw TConfigError(path.string(), 0, "", "cannot be read");

    ParseTextFile(bytes, path.string(), file);
    return true;
}

void ParseTextFile(std::string_view bytes, const std::string& name, TTextFile& file)
{
    file.encoding = TTextEncoding::Cp1251;
    if (bytes.substr(0, Utf8Bom.size()) == Utf8Bom) {
        bytes.remove_prefix(Utf8Bom.size());
        if (!IsValidUtf8(bytes))
            throw TConfigError(name, 0, "", "starts with a UTF-8 byte-order mark but is not UTF-8");
        file.encoding = TTextEncoding::Utf8Bom;
    }
    SplitLines(bytes, file.encoding, file.lines);
}

bool EncodeTextFile(const TTextFile& file, std::string& bytes)
{
    std::string out;
    if (file.encoding == TTextEncoding::Utf8Bom)
        out = Utf8Bom;
    for (const TTextLine& line : file.lines) {
        if (file.encoding == TTextEncoding::Utf8Bom) {
            if (!IsValidUtf8(line.text))
                return false;
            out += line.text;
        } else {
            if (!FitsCp1251(line.text))
                return false;
            out += Utf8ToCp1251(line.text);
        }
        out += line.eol;
    }
    bytes = std::move(out);
    return true;
}

void WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes)
{
    if (!ReplaceWholeFile(path.string(), bytes))
        throw TConfigError(path.string(), 0, "", "cannot be written");
}

bool FitsCp1251(std::string_view text) { return Cp1251ToUtf8(Utf8ToCp1251(text)) == text; }

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
        s.remove_suffix(1);
    return s;
}

} // namespace gw
