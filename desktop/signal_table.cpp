#include "desktop/signal_table.h"

#include "core/cp1251.h"
#include "core/text.h"
#include "service/cfgfile.h"
#include "service/tables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <span>

namespace gw::desktop {

namespace {

constexpr int TsColumnsWithFixed = 9;
constexpr int TitColumnsWithFixed = 10;
constexpr std::size_t ShortCsvLine = 6;

bool IsInteger(const std::string& s)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && end == s.data() + s.size();
}

bool IsDecimal(const std::string& s)
{
    try {
        ToFloat(s, '.');
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool IsFilteredColumn(TSignalKind kind, int column)
{
    if (kind == TSignalKind::TS)
        return column == 2 || column == 3 || column == 5 || column == 6;
    return column == 2 || column == 3 || (column >= 5 && column <= 8);
}

int IntCell(const std::string& s)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && end == s.data() + s.size() ? v : 0;
}

double NumberCell(const std::string& s)
{
    try {
        const double v = ToFloat(s, '.');
        return std::isfinite(v) ? v : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

int ItemIndex(const std::vector<std::string>& items, const std::string& text)
{
    const auto it = std::find(items.begin(), items.end(), text);
    return it == items.end() ? 0 : static_cast<int>(it - items.begin());
}

std::string Item(const std::vector<std::string>& items, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < items.size() ? items[static_cast<std::size_t>(index)]
                                                                        : std::string();
}

std::string Number(double v) { return FloatToText(v); }

struct TAddressColumn {
    int column, max;
};

// The address columns of a table and the largest address "iec104.cfg" holds in each.
std::span<const TAddressColumn> AddressColumns(TSignalKind kind)
{
    constexpr int MaxCa = MaxCfgCommonAddress, MaxIoa = MaxCfgObjectAddress;
    static constexpr TAddressColumn Ts[] = {{2, MaxCa}, {3, MaxIoa}, {5, MaxCa}, {6, MaxIoa}};
    static constexpr TAddressColumn Tit[] = {{2, MaxCa}, {3, MaxIoa}};
    return kind == TSignalKind::TS ? std::span<const TAddressColumn>(Ts) : std::span<const TAddressColumn>(Tit);
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// A signal name as "iec104.cfg" can hold it between its quotes, whether it
// was typed or came from a CSV file (whose import no cell filter sees): no
// '"', no control character, and '?' for what Windows-1251 lacks. Anything
// else would make the whole station's save fail. Line breaks stay: a row
// whose name has one is not stored at all.
std::string StoredName(const std::string& cell)
{
    std::string name = Cp1251ToUtf8(Utf8ToCp1251(cell));
    std::erase_if(name, [](char c) {
        return c == '"' || c == '\x7F' || (static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n');
    });
    return name;
}

std::vector<std::string> Lines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Why a CSV line cannot be a row of the table: fewer fields than its
// columns, or an address or range that is not a number the station file
// holds. Nothing when it can.
std::optional<std::string> CsvLineFault(TSignalKind kind, const std::string& line)
{
    const TSignalTable t(kind);
    const int need = t.Columns() - 1;
    const auto fields = static_cast<int>(std::count(line.begin(), line.end(), ';')) + 1;
    if (fields < need)
        return "полей " + std::to_string(fields) + ", а нужно " + std::to_string(need);
    const auto header = [&t](int c) { return "«" + t.rows[0][static_cast<std::size_t>(c)] + "»: «"; };
    for (const TAddressColumn& a : AddressColumns(kind)) {
        const std::string cell = ExtractCsvField(line, a.column);
        if (!cell.empty() && (!IsInteger(cell) || IntCell(cell) < 0 || IntCell(cell) > a.max))
            return header(a.column) + cell + "» не целое число от 0 до " + std::to_string(a.max);
    }
    if (kind == TSignalKind::TIT)
        for (int c = 5; c <= 8; ++c) {
            const std::string cell = ExtractCsvField(line, c);
            if (!cell.empty() && !IsDecimal(cell))
                return header(c) + cell + "» не число";
        }
    return std::nullopt;
}

// A line of a file that may be anything, cut and without control characters.
std::string Shown(const std::string& line)
{
    constexpr std::size_t MaxShown = 80;
    std::string shown = Cp1251ToUtf8(Utf8ToCp1251(line).substr(0, MaxShown));
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
    return shown;
}

} // namespace

TSignalTable::TSignalTable(TSignalKind k) : kind(k)
{
    std::vector<std::string> header(1);
    for (std::string& h : SignalHeaders(k))
        header.push_back(std::move(h));
    rows.push_back(std::move(header));
}

int TSignalTable::Columns() const { return kind == TSignalKind::TS ? TsColumnsWithFixed : TitColumnsWithFixed; }

std::vector<std::string> SignalHeaders(TSignalKind kind)
{
    if (kind == TSignalKind::TS)
        return {"Имя",    "Адрес ASDU", "Адрес IOA", "Комментарий", "Адр. ASDU для ТУ", "Адр. IOA для ТУ",
                "Тип ТУ", "Тип данных"};
    // "Mах" starts with a Latin M.
    return {"Имя",
            "Адрес ASDU",
            "Адрес IOA",
            "Комментарий",
            "Min физич. диапазона",
            "Mах физич. диапазона",
            "Min инжен. диапазона",
            "Mах инжен. диапазона",
            "Знак"};
}

const std::vector<std::string>& CommandTypeItems()
{
    static const std::vector<std::string> items{
        "<45> C_SC_NA Однопозиц. команда с предвыбором", "<45> C_SC_NA Однопозиц. команда прямое",
        "<46> C_DC_NA  Двухпозиц.  команда с предвыбором", "<46> C_DC_NA  Двухпозиц.  команда прямое"};
    return items;
}

const std::vector<std::string>& DataTypeItems()
{
    static const std::vector<std::string> items{"Boolean", "Integer"};
    return items;
}

const std::vector<std::string>& SignItems()
{
    static const std::vector<std::string> items{"Да", "Нет"};
    return items;
}

const std::vector<std::string>* ColumnItems(TSignalKind kind, int column)
{
    if (kind == TSignalKind::TS && column == 7)
        return &CommandTypeItems();
    if (kind == TSignalKind::TS && column == 8)
        return &DataTypeItems();
    if (kind == TSignalKind::TIT && column == 9)
        return &SignItems();
    return nullptr;
}

std::string FilterCellText(TSignalKind kind, int column, const std::string& text)
{
    if (!IsFilteredColumn(kind, column) || text.empty() || text[0] == '-')
        return text;
    const bool valid = kind == TSignalKind::TS ? IsInteger(text) : IsDecimal(text);
    return valid ? text : text.substr(0, text.size() - 1);
}

void AddRowAtEnd(TSignalTable& t) { t.rows.emplace_back(static_cast<std::size_t>(t.Columns())); }

void InsertRowAt(TSignalTable& t, int current)
{
    if (current < 1 || current > t.DataRows()) {
        AddRowAtEnd(t);
        return;
    }
    t.rows.insert(t.rows.begin() + current, std::vector<std::string>(static_cast<std::size_t>(t.Columns())));
}

void DeleteRowAt(TSignalTable& t, int current)
{
    if (current >= 1 && current <= t.DataRows())
        t.rows.erase(t.rows.begin() + current);
}

std::optional<std::string> FindDuplicateAddress(const TSignalTable& t)
{
    const int last = t.DataRows();
    for (int i = 1; i <= last; ++i) {
        const auto& a = t.rows[static_cast<std::size_t>(i)];
        for (int j = i + 1; j <= last; ++j) {
            const auto& b = t.rows[static_cast<std::size_t>(j)];
            if (b[2].empty() || b[3].empty() || a[2] != b[2] || a[3] != b[3])
                continue;
            return "Повтор адресов у " + a[1] + " " + a[2] + "," + a[3] + " и " + b[1] + " " + b[2] + "," + b[3];
        }
    }
    return std::nullopt;
}

std::optional<std::pair<int, int>> FindUnwritableAddress(const TSignalTable& t)
{
    for (int r = 1; r <= t.DataRows(); ++r) {
        const auto& row = t.rows[static_cast<std::size_t>(r)];
        if (row[1].empty() || HasLineBreak(row[1]))
            continue;
        for (const TAddressColumn& a : AddressColumns(t.kind)) {
            const int v = IntCell(row[static_cast<std::size_t>(a.column)]);
            if (v < 0 || v > a.max)
                return std::pair{r, a.column};
        }
    }
    return std::nullopt;
}

std::string ExtractCsvField(std::string_view line, int n)
{
    auto trim = [](std::string_view s) {
        const std::size_t start = s.find_first_not_of(' ');
        return start == std::string_view::npos ? std::string_view() : s.substr(start);
    };
    line = trim(line);
    while (n > 1) {
        const std::size_t semi = line.find(';');
        if (semi == std::string_view::npos)
            break;
        line = trim(line.substr(semi + 1));
        --n;
    }
    if (n > 1)
        return "0";
    return std::string(line.substr(0, line.find(';')));
}

std::string ExportCsv(const TSignalTable& t)
{
    std::string text;
    for (const auto& row : t.rows) {
        for (int c = 1; c < t.Columns(); ++c)
            text += row[static_cast<std::size_t>(c)] + ";";
        text += "\r\n";
    }
    return Utf8ToCp1251(text);
}

std::optional<std::string> ImportCsv(TSignalTable& t, std::string_view bytes)
{
    static constexpr std::string_view Bom = "\xEF\xBB\xBF";
    const std::string text =
        bytes.substr(0, Bom.size()) == Bom ? std::string(bytes.substr(Bom.size())) : Cp1251ToUtf8(bytes);
    const std::vector<std::string> lines = Lines(text);
    TSignalTable read(t.kind);
    read.rows.resize(std::max<std::size_t>(lines.size(), 1),
                     std::vector<std::string>(static_cast<std::size_t>(t.Columns())));
    read.rows[0] = t.rows[0];
    for (std::size_t i = 1; i < lines.size(); ++i) {
        // Counted in characters, not bytes: the file's text is single-byte.
        if (Utf8ToCp1251(lines[i]).size() <= ShortCsvLine)
            continue;
        if (const auto fault = CsvLineFault(t.kind, lines[i]))
            return "Таблица не загружена: строку " + std::to_string(i + 1) + " файла прочитать нельзя (" + *fault
                   + "): " + Shown(lines[i]);
        for (int c = 1; c < t.Columns(); ++c)
            read.rows[i][static_cast<std::size_t>(c)] = ExtractCsvField(lines[i], c);
        read.rows[i][1] = StoredName(read.rows[i][1]);
    }
    t = std::move(read);
    return std::nullopt;
}

std::string CsvFileName(const std::string& chosen)
{
    return chosen.find(".csv") == std::string::npos ? chosen + ".csv" : chosen;
}

void FillSignalTable(TSignalTable& t, const T_KP& kp)
{
    const std::vector<std::string> header = t.rows[0];
    const auto columns = static_cast<std::size_t>(t.Columns());
    t.rows.assign(1, header);
    if (t.kind == TSignalKind::TS) {
        for (int i = 1; i <= kp.Kol_TS; ++i) {
            const T_TS& s = kp.TS_arr[static_cast<std::size_t>(i)];
            std::vector<std::string> row(columns);
            row[1] = s.NameTS;
            row[2] = std::to_string(s.AdrASDU);
            row[3] = std::to_string(s.AdrIOA);
            row[5] = std::to_string(s.AdrASDU_TU);
            row[6] = std::to_string(s.AdrIOA_TU);
            if (s.AdrASDU_TU != 0 && s.AdrIOA_TU != 0)
                row[7] = Item(CommandTypeItems(), s.Type_TU);
            row[8] = Item(DataTypeItems(), s.Type_Var);
            t.rows.push_back(std::move(row));
        }
    } else {
        for (int i = 1; i <= kp.Kol_TI; ++i) {
            const T_TI& s = kp.TI_arr[static_cast<std::size_t>(i)];
            std::vector<std::string> row(columns);
            row[1] = s.NameTI;
            row[2] = std::to_string(s.AdrASDU);
            row[3] = std::to_string(s.AdrIOA);
            row[5] = Number(s.Min_TM_Diap);
            row[6] = Number(s.Max_TM_Diap);
            row[7] = Number(s.Min_Eng_Diap);
            row[8] = Number(s.Max_Eng_Diap);
            row[9] = Item(SignItems(), s.Znak_for_norm);
            t.rows.push_back(std::move(row));
        }
    }
    // A station without measured values still shows one row to type into.
    if (t.kind == TSignalKind::TIT && t.rows.size() == 1)
        AddRowAtEnd(t);
}

void StoreSignalTable(const TSignalTable& t, T_KP& kp)
{
    if (t.kind == TSignalKind::TS) {
        kp.TS_arr.assign(1, T_TS{});
        for (int r = 1; r <= t.DataRows(); ++r) {
            const auto& row = t.rows[static_cast<std::size_t>(r)];
            if (row[1].empty() || HasLineBreak(row[1]))
                continue;
            T_TS& s = kp.TS_arr.emplace_back();
            s.NameTS = StoredName(row[1]);
            s.AdrASDU = IntCell(row[2]);
            s.AdrIOA = IntCell(row[3]);
            s.AdrASDU_TU = IntCell(row[5]);
            s.AdrIOA_TU = IntCell(row[6]);
            s.Type_TU = ItemIndex(CommandTypeItems(), row[7]);
            s.Type_Var = ItemIndex(DataTypeItems(), row[8]);
        }
        kp.Kol_TS = static_cast<std::int32_t>(kp.TS_arr.size()) - 1;
        return;
    }
    kp.TI_arr.assign(1, T_TI{});
    for (int r = 1; r <= t.DataRows(); ++r) {
        const auto& row = t.rows[static_cast<std::size_t>(r)];
        if (row[1].empty() || HasLineBreak(row[1]))
            continue;
        T_TI& s = kp.TI_arr.emplace_back();
        s.NameTI = StoredName(row[1]);
        s.AdrASDU = IntCell(row[2]);
        s.AdrIOA = IntCell(row[3]);
        s.Min_TM_Diap = NumberCell(row[5]);
        s.Max_TM_Diap = NumberCell(row[6]);
        s.Min_Eng_Diap = NumberCell(row[7]);
        s.Max_Eng_Diap = NumberCell(row[8]);
        s.Znak_for_norm = ItemIndex(SignItems(), row[9]);
    }
    kp.Kol_TI = static_cast<std::int32_t>(kp.TI_arr.size()) - 1;
}

} // namespace gw::desktop
