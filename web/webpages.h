#pragma once
// The page builder of the web server: for one request it gives content,
// content type and cache control. It builds the tables of measured values,
// of single and double points and of the stations, and serves the files of
// the web folder and the names of the configuration files. It sends nothing:
// the HTTP server of each program turns the three results into its answer.
//
// The builders read a snapshot of what the pages show (TWebSnapshot), taken
// under the service's locks by whoever owns the tables, so a page never
// reads a table that the service is changing or freeing.
//
// How the pages fail: bad input never throws and is not logged. A request
// they cannot serve (an unsafe document name, an unknown page, a missing
// file) leaves the three results empty, and the HTTP server answers that.
// An exception that does escape (no memory) is the HTTP server's to turn
// into an error answer.

#include "core/datetime.h"
#include "core/prmn.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gw {

// One station row of KpTable as the pages show it.
struct TWebStation {
    std::string NameKP; // UTF-8
    std::string IP;
    std::int32_t ASDU_Adr = 0;
    std::int32_t Kol_TI = 0;
    std::int32_t Kol_TS = 0;
    bool PereschetTI = false;
    bool Time_To_OPC = false;
    std::int32_t Popravka_Time = 0; // hours
    bool Connected = false;
    std::string IP_tek;
    std::int32_t Port_tek = 0;
    bool Passive = false;
    // The link parameters its link object holds; none before the first start.
    std::optional<TPrmn> Link;
};

enum class TWebSignalKind { Other, TIT, TS };

// One tag of the tag list with its record's kind, station and reading.
struct TWebTag {
    std::string FName; // UTF-8
    std::int32_t FAsduAddress = 0;
    std::int32_t FObjAddress = 0;
    std::int32_t FsstID = 0; // StationId of the station index
    TWebSignalKind Kind = TWebSignalKind::Other;
    // What GetArmValue yields; Stamp 0 when the tag has no value yet.
    std::int32_t IValue = 0;
    std::int32_t Quality = 0;
    double FValue = 0;
    TDateTime Stamp = 0;
    // RawToEng of the raw value truncated to an integer.
    double EngValue = 0;
};

struct TWebSnapshot {
    std::vector<TWebStation> Stations; // station i at [i - 1]
    std::vector<TWebTag> Tags;         // in tag-list order
};

// Rows of a signal table shown without a query.
constexpr int WebRowLimit = 719;

// A document the file rules may look at: begins with "/", holds no ".."
// and no NUL byte. Anything else is refused before a file is opened.
bool WebDocumentSafe(std::string_view Document);

// Appends the lines of one part of a page (UTF-8) to lines.
void WebPageHead(std::string_view Document, std::vector<std::string>& lines);
void WebSignalTable(const TWebSnapshot& snap, std::string_view kind, std::string_view QueryParams,
                    std::vector<std::string>& lines);
void WebKpTable(const TWebSnapshot& snap, std::vector<std::string>& lines);
void WebPageFoot(std::vector<std::string>& lines);

// Stamps as the pages write them: DD.MM.YYYY hh:nn:ss.zzz. Numbers are
// written by FloatToText, as "iec104.cfg" holds them.
std::string WebStamp(TDateTime stamp);

class TWebPages {
public:
    using TSnapshotSource = std::function<TWebSnapshot()>;

    // programDir: the directory of the program file with its trailing '/'
    // ("" for the working directory); the web folder is programDir + "web".
    // lineBreak ends every line of a page and of a text file. snapshot is
    // called on the server's connection threads, several at a time.
    TWebPages(std::string programDir, TSnapshotSource snapshot, std::string lineBreak = "\n");

    // Document is the decoded path, QueryParams the raw query without "?".
    // Content and CacheControl are cleared on entry. An empty Content means
    // not found. For images the Content is the file's path, for
    // "application/octet-stream" the configuration file's path; otherwise the
    // text to send (pages in Windows-1251). Command is not used.
    void WebGetPage(std::string_view Command, std::string_view Document, std::string_view QueryParams,
                    std::string& ContentType, std::string& CacheControl, std::string& Content) const;

    const std::string& ProgramDir() const { return programDir_; }

private:
    std::string Join(const std::vector<std::string>& lines) const;
    void StaticFile(std::string_view Document, std::string& ContentType, std::string& Content) const;
    std::string ReadTextFile(const std::string& path) const;

    std::string programDir_;
    TSnapshotSource snapshot_;
    std::string lineBreak_;
};

} // namespace gw
