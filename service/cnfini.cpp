#include "service/cnfini.h"

#include "core/files.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace gw {
namespace {

constexpr std::string_view KeyUseWebServer = "UseWebServer";
constexpr std::string_view KeyPort_WebServ = "Port_WebServ";
constexpr std::string_view KeySave_Obmen_v_File = "Save_Obmen_v_File";
constexpr std::string_view KeyPwd = "pwd";

// The text between the two marks. Built by appending: GCC 12 at -O3 warns
// falsely (-Wrestrict) about a literal put before a temporary string.
std::string Enclosed(char open, std::string_view text, char close)
{
    std::string s;
    s.reserve(text.size() + 2);
    s += open;
    s += text;
    s += close;
    return s;
}

// INI names compare without regard to case, as the files' other readers do.
bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

struct TIniLine {
    enum Kind { Blank, Section, Key, Bad } kind = Blank;
    std::string_view name;  // section or key
    std::string_view value; // of a key
};

TIniLine ParseIniLine(std::string_view raw)
{
    const std::string_view line = TrimBlanks(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#')
        return {};
    if (line.front() == '[') {
        if (line.back() != ']')
            return {TIniLine::Bad, {}, {}};
        return {TIniLine::Section, TrimBlanks(line.substr(1, line.size() - 2)), {}};
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || TrimBlanks(line.substr(0, eq)).empty())
        return {TIniLine::Bad, {}, {}};
    return {TIniLine::Key, TrimBlanks(line.substr(0, eq)), TrimBlanks(line.substr(eq + 1))};
}

// Where the key of our own-named section stands in the file.
struct TKeyPlace {
    std::optional<std::size_t> section; // index of the section line
    std::optional<std::size_t> key;     // index of the key line
};

TKeyPlace FindKey(const TTextFile& file, std::string_view key)
{
    TKeyPlace place;
    bool inSection = false;
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        const TIniLine l = ParseIniLine(file.lines[i].text);
        if (l.kind == TIniLine::Section) {
            if (place.section && inSection)
                break; // the first section of that name is the one read
            inSection = SameName(l.name, key);
            if (inSection)
                place.section = i;
        } else if (l.kind == TIniLine::Key && inSection && SameName(l.name, key)) {
            place.key = i;
            break;
        }
    }
    return place;
}

class TCnfIniReader {
public:
    TCnfIniReader(std::string fileName, const TConfigComplaint& complain)
        : FFile(std::move(fileName)), FComplain(complain)
    {
    }

    TCnfIni Read(const TTextFile& file)
    {
        TCnfIni s;
        std::string_view section;
        for (std::size_t i = 0; i < file.lines.size(); ++i) {
            FLine = static_cast<int>(i) + 1;
            const TIniLine l = ParseIniLine(file.lines[i].text);
            if (l.kind == TIniLine::Bad)
                Skip("", "a line that is neither a [section], a key=value nor a ;comment");
            else if (l.kind == TIniLine::Section)
                section = l.name;
            else if (l.kind == TIniLine::Key)
                Key(section, l, s);
        }
        return s;
    }

private:
    void Key(std::string_view section, const TIniLine& l, TCnfIni& s)
    {
        std::string_view key;
        for (std::string_view known : {KeyUseWebServer, KeyPort_WebServ, KeySave_Obmen_v_File, KeyPwd})
            if (SameName(l.name, known))
                key = known;
        if (key.empty())
            return Skip(l.name, "is no key of this file");
        if (!SameName(section, key))
            return Skip(key, "stands outside its own section [" + std::string(key) + "]");
        if (Taken(key))
            return Skip(key, "is there already; the first one counts");
        const bool read = key == KeyUseWebServer        ? WebFlag(l.value, s.UseWebServer)
                          : key == KeyPort_WebServ      ? Port(l.value, s.Port_WebServ)
                          : key == KeySave_Obmen_v_File ? Flag(key, l.value, s.Save_Obmen_v_File)
                                                        : Text(l.value, s.pwd);
        if (read)
            FTaken.push_back(key);
    }

    void Skip(std::string_view key, const std::string& what) const
    {
        if (FComplain)
            FComplain(TConfigError(FFile, FLine, std::string(key), what), "the line is skipped");
    }

    bool Taken(std::string_view key) const
    {
        for (std::string_view taken : FTaken)
            if (taken == key)
                return true;
        return false;
    }

    // An empty value keeps the default, as a missing key does.
    bool Flag(std::string_view key, std::string_view value, bool& out) const
    {
        if (!value.empty() && value != "0" && value != "1") {
            Skip(key, Enclosed('"', value, '"') + " is not 0 or 1");
            return false;
        }
        if (!value.empty())
            out = value == "1";
        return true;
    }

    // The web server is the device's only remote path: a value the user wrote
    // but that is not 0 or 1 ("yes", "on") starts it rather than cut the device off.
    bool WebFlag(std::string_view value, bool& out) const
    {
        if (!value.empty() && value != "0" && value != "1") {
            if (FComplain)
                FComplain(TConfigError(FFile, FLine, std::string(KeyUseWebServer),
                                       Enclosed('"', value, '"') + " is not 0 or 1"),
                          "only 0 turns the web server off, so it is started");
            out = true;
            return true;
        }
        return Flag(KeyUseWebServer, value, out);
    }

    bool Port(std::string_view value, int& out) const
    {
        if (value.empty())
            return true;
        int port = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (ec != std::errc() || end != value.data() + value.size() || port < 1 || port > 65535) {
            Skip(KeyPort_WebServ, Enclosed('"', value, '"') + " is not a port number 1..65535");
            return false;
        }
        out = port;
        return true;
    }

    static bool Text(std::string_view value, std::string& out)
    {
        out = value;
        return true;
    }

    std::string FFile;
    const TConfigComplaint& FComplain;
    int FLine = 0;
    std::vector<std::string_view> FTaken;
};

// Sets key=value in the section of the key's name, keeping every other line.
void SetKey(TTextFile& file, std::string_view key, const std::string& value)
{
    const std::string text = std::string(key) + "=" + value;
    const TKeyPlace place = FindKey(file, key);
    if (place.key) {
        file.lines[*place.key].text = text;
        return;
    }
    std::string eol = "\r\n";
    for (const TTextLine& l : file.lines)
        if (!l.eol.empty()) {
            eol = l.eol;
            break;
        }
    if (place.section) {
        file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(*place.section + 1), {text, eol});
        if (file.lines[*place.section].eol.empty())
            file.lines[*place.section].eol = eol;
        return;
    }
    if (!file.lines.empty() && file.lines.back().eol.empty())
        file.lines.back().eol = eol;
    file.lines.push_back({Enclosed('[', key, ']'), eol});
    file.lines.push_back({text, eol});
}

using TKeyValues = std::vector<std::pair<std::string_view, std::string>>;

void WriteKeys(const std::filesystem::path& dir, const TKeyValues& keys)
{
    const std::filesystem::path path = dir / CnfIniFileName;
    TTextFile file;
    LoadTextFile(path, file);
    for (const auto& [key, value] : keys)
        SetKey(file, key, value);
    std::string bytes;
    if (!EncodeTextFile(file, bytes))
        throw TConfigError(path.string(), 0, "", "a value holds a character the file cannot hold");
    // The transfer password stands here in clear text, as on the device.
    if (!ReplacePrivateFile(path.string(), bytes))
        throw TConfigError(path.string(), 0, "", "cannot be written");
}

} // namespace

void ReadCnfIni(const std::filesystem::path& dir, TCnfIni& settings, const TConfigComplaint& complain)
{
    const std::filesystem::path path = dir / CnfIniFileName;
    TTextFile file;
    settings = LoadTextFile(path, file) ? TCnfIniReader(path.string(), complain).Read(file) : TCnfIni{};
}

TCnfIni CheckCnfIni(std::string_view bytes)
{
    TTextFile file;
    ParseTextFile(bytes, CnfIniFileName, file);
    return TCnfIniReader(CnfIniFileName, RefuseComplaints()).Read(file);
}

void WriteCnfIniOptions(const std::filesystem::path& dir, bool UseWebServer, int Port_WebServ, bool Save_Obmen_v_File)
{
    if (Port_WebServ < 1 || Port_WebServ > 65535)
        throw TConfigError((dir / CnfIniFileName).string(), 0, std::string(KeyPort_WebServ),
                           std::to_string(Port_WebServ) + " is not a port number 1..65535");
    WriteKeys(dir, {{KeyUseWebServer, UseWebServer ? "1" : "0"},
                    {KeyPort_WebServ, std::to_string(Port_WebServ)},
                    {KeySave_Obmen_v_File, Save_Obmen_v_File ? "1" : "0"}});
}

void WriteCnfIniPwd(const std::filesystem::path& dir, const std::string& pwd)
{
    bool control = false;
    for (char c : pwd)
        control = control || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    if (control || TrimBlanks(pwd).size() != pwd.size())
        throw TConfigError((dir / CnfIniFileName).string(), 0, std::string(KeyPwd),
                           "a password with control characters or blanks at either end would not read back");
    WriteKeys(dir, {{KeyPwd, pwd}});
}

} // namespace gw
