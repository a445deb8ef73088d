#pragma once
// The two signal tables of the station dialog as plain text tables: row 0
// the headers, column 0 fixed and empty, the data columns 1..8 (points) or
// 1..9 (measured values). The cell filters, row commands, duplicate check,
// CSV files and the conversion to and from a station row work on these, so
// the dialog's grids only show them.

#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace gw {
struct T_KP;
}

namespace gw::desktop {

enum class TSignalKind { TS, TIT };

struct TSignalTable {
    TSignalKind kind = TSignalKind::TS;
    std::vector<std::vector<std::string>> rows; // rows[0] the headers

    explicit TSignalTable(TSignalKind k = TSignalKind::TS);
    int Columns() const; // with the fixed column: 9 or 10
    int DataRows() const { return static_cast<int>(rows.size()) - 1; }
};

// Item lists of the drop-down cells; the index is the stored value.
const std::vector<std::string>& CommandTypeItems(); // "Тип ТУ"
const std::vector<std::string>& DataTypeItems();    // "Тип данных"
const std::vector<std::string>& SignItems();        // "Знак"
// The drop-down list of a column, or nullptr for a text column.
const std::vector<std::string>* ColumnItems(TSignalKind kind, int column);

// The number filter of a cell edit: a text that is not empty, does not start
// with '-' and is no integer (points) or '.' decimal (measured values) loses
// its last character. Other columns pass unchanged.
std::string FilterCellText(TSignalKind kind, int column, const std::string& text);

// Row commands; current is a 1-based data row.
void AddRowAtEnd(TSignalTable& t);
void InsertRowAt(TSignalTable& t, int current);
void DeleteRowAt(TSignalTable& t, int current);

// The first pair of data rows with equal address texts (both non-empty):
// the warning text, or nothing.
std::optional<std::string> FindDuplicateAddress(const TSignalTable& t);

// The first address cell (row, column) of a stored row that "iec104.cfg"
// cannot hold: a common address outside 0..65535, an object address outside
// 0..16777215. Cells that are not numbers do not count: they are stored as 0.
std::optional<std::pair<int, int>> FindUnwritableAddress(const TSignalTable& t);

// The n-th ';' field of a CSV line (1-based), blanks at the field starts
// dropped, "0" when the line has fewer fields.
std::string ExtractCsvField(std::string_view line, int n);
// Every row from the headers on, each data value followed by ';', CR LF,
// Windows-1251. Characters Windows-1251 lacks become '?'.
std::string ExportCsv(const TSignalTable& t);
// The file replaces the data rows: one row per line after the first; a
// line of six characters or fewer leaves its row empty. A UTF-8 byte-order
// mark means UTF-8, else the bytes are Windows-1251. Names lose the '"' and
// control characters "iec104.cfg" cannot hold, and characters Windows-1251
// lacks become '?'. A line with fewer fields than the table has columns, or
// an address or range that is no number the station file holds, refuses
// the whole file: the message naming the line, and t stays as it was.
[[nodiscard]] std::optional<std::string> ImportCsv(TSignalTable& t, std::string_view bytes);
// ".csv" appended unless the name holds it already (exact case).
std::string CsvFileName(const std::string& chosen);

// The station's signals into the table (its headers kept), and back: rows
// without a name, or whose name holds a line break, are not stored; a name
// is stored without '"' and control characters, '?' for what Windows-1251
// lacks.
void FillSignalTable(TSignalTable& t, const T_KP& kp);
void StoreSignalTable(const TSignalTable& t, T_KP& kp);

// The grid headers of the two tables.
std::vector<std::string> SignalHeaders(TSignalKind kind);

} // namespace gw::desktop
