#include "web/webpages.h"

#include "core/cp1251.h"
#include "core/kplist.h"
#include "core/tags.h"
#include "core/text.h"
#include "web/htmlescape.h"

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <sys/stat.h>

namespace gw {

namespace {

void Add(std::vector<std::string>& lines, std::initializer_list<const char*> more)
{
    for (const char* line : more)
        lines.emplace_back(line);
}

bool IsTitekPage(std::string_view doc) { return doc == "/" || doc == "/titek.php"; }

std::string NavItem(bool current, const char* page, const char* text)
{
    return std::string("        \t<li><a href=\"") + page + "\"" + (current ? " class=\"current\"" : "") + ">" + text
           + "</a></li>";
}

std::string Cell(std::string_view text) { return "<td>" + std::string(text) + "</td>"; }
std::string Cell(std::int64_t value) { return Cell(std::to_string(value)); }

// Rows alternate, the first being "even".
std::string RowStart(int n) { return n % 2 == 1 ? "<tr class=\"even\" >" : "<tr class=\"odd\" >"; }

// The forms of a query that select a station: as sent, percent-decoded, and
// each read as Windows-1251 (what a browser sends for this page's charset).
std::vector<std::string> QueryForms(std::string_view query)
{
    std::vector<std::string> forms{std::string(query)};
    if (auto decoded = PercentDecode(query))
        forms.push_back(*decoded);
    const std::size_t plain = forms.size();
    for (std::size_t i = 0; i < plain; ++i)
        forms.push_back(Cp1251ToUtf8(forms[i]));
    return forms;
}

bool QueryIs(const std::vector<std::string>& forms, const std::string& wanted)
{
    for (const auto& form : forms)
        if (form == wanted)
            return true;
    return false;
}

std::string TiValueCells(const TWebTag& tag, const TWebStation* kp)
{
    std::string cells = Cell(FloatToText(tag.FValue)) + Cell(tag.Quality);
    if (!kp || !kp->Connected)
        cells += Cell("Нет соединения");
    else
        cells += Cell(FloatToText(kp->PereschetTI ? tag.EngValue : tag.FValue));
    return cells;
}

std::string TsValueCells(const TWebTag& tag, const TWebStation* kp)
{
    return (kp && kp->Connected ? Cell(tag.IValue) : Cell("Нет соединения")) + Cell(tag.Quality);
}

std::string StampCell(const TWebTag& tag, const TWebStation* kp)
{
    if (!(tag.Stamp > 1.0))
        return Cell("");
    // The reception time that stands in for an invalid time tag is ours, not
    // the station's: the station's correction does not apply to it.
    const bool ours = (tag.Quality & QualityTimeInvalid) != 0;
    const double correction = kp && !ours ? kp->Popravka_Time * OneHour : 0.0;
    return Cell(WebStamp(tag.Stamp + correction));
}

const TWebStation* StationOf(const TWebSnapshot& snap, int sstID)
{
    const int i = StationIndex(sstID);
    if (i < 1 || i > static_cast<int>(snap.Stations.size()))
        return nullptr;
    return &snap.Stations[i - 1];
}

std::string ConnectionText(const TWebStation& kp)
{
    if (!kp.Connected)
        return "Нет";
    if (kp.Port_tek > 0)
        return "Есть (" + HtmlEscape(kp.IP_tek) + ":" + std::to_string(kp.Port_tek) + ")";
    return "Есть";
}

std::string KpRow(int i, const TWebStation& kp, const TPrmn& prm)
{
    std::string row = RowStart(i) + Cell(i) + Cell(HtmlEscape(kp.NameKP))
                      + Cell(kp.Passive ? std::string("Пассивный") : HtmlEscape(kp.IP)) + Cell(prm.Port)
                      + Cell(ConnectionText(kp)) + Cell(kp.ASDU_Adr) + Cell(kp.Kol_TI) + Cell(kp.Kol_TS)
                      + Cell(kp.Popravka_Time) + Cell(kp.PereschetTI ? "Пересчитывать" : "Не пересчитывать")
                      + Cell(kp.Time_To_OPC ? "Да" : "Нет");
    for (const std::int32_t field :
         {prm.t0, prm.t1, prm.t2, prm.t3, prm.kMax, prm.wMax, prm.OriginatorAddress, prm.LinkAddress1,
          prm.sz_LinkAddress, prm.PollingCycle, prm.ConfirmationTimeout, prm.TerminationTimeout, prm.RetryCount,
          prm.RetryTimeOut, prm.CommonAsduAddress, prm.sz_ASDUAddress, prm.sz_InfObjAddress, prm.sz_COT})
        row += Cell(field);
    return row + "</tr>";
}

bool IsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

} // namespace

bool WebDocumentSafe(std::string_view Document)
{
    return !Document.empty() && Document.front() == '/' && !Contains(Document, "..")
           && Document.find('\0') == std::string_view::npos;
}

std::string WebStamp(TDateTime stamp)
{
    TDateTimeParts p;
    if (!TryDecodeDateTime(stamp, p))
        return "";
    char text[40];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d.%03d", p.day, p.month, p.year, p.hour, p.minute,
                  p.second, p.millisecond);
    return text;
}

void WebPageHead(std::string_view Document, std::vector<std::string>& lines)
{
    Add(lines, {"<!DOCTYPE html>", "<html lang=\"ru\">", "<head>"});
    if (IsTitekPage(Document))
        lines.emplace_back("  <title>Текущие телеизмерения. Web-интерфейс ОРС-сервера.</title>");
    else if (Document == "/tstek.php")
        lines.emplace_back("  <title>Текущие телесигналы. Web-интерфейс ОРС-сервера.</title>");
    else if (Document == "/reg.php")
        lines.emplace_back("  <title>Журнал событий. Web-интерфейс ОРС-сервера.</title>");
    else if (Document == "/config.php")
        lines.emplace_back("  <title>Конфигурация ОРС-сервера.</title>");
    else if (Document == "/arch.php")
        lines.emplace_back("  <title>Архив измерений. Web-интерфейс ОРС-сервера.</title>");
    Add(lines, {"  <meta charset=\"Windows-1251\">",
                "  <link rel=\"stylesheet\" href=\"css/reset.css\" type=\"text/css\" media=\"all\">",
                "  <link rel=\"stylesheet\" href=\"css/grid.css\" type=\"text/css\" media=\"all\">",
                "  <link rel=\"stylesheet\" href=\"css/style.css\" type=\"text/css\" media=\"all\">",
                "  <!--[if lt IE 7]>",
                "  \t<link rel=\"stylesheet\" href=\"css/ie/ie6.css\" type=\"text/css\" media=\"screen\">",
                "  <![endif]-->",
                "  <!--[if lt IE 9]>",
                "  \t<script type=\"text/javascript\" src=\"js/html5.js\"></script>",
                "  <![endif]-->",
                "</head>",
                "",
                "<body id=\"page2\">",
                "  <!-- header -->",
                "  <header>",
                "    <div class=\"container_12\">",
                "    \t<!-- .logo -->",
                "    \t<div class=\"logo\">",
                "      \t<h1><a href=\"titek.php\">Norvane</a></h1>",
                "        <span>Текущие данные и конфигурация</span>",
                "      </div>",
                "    \t<!-- /.logo -->",
                "      <a href=\"#\" class=\"rss\"> </a>",
                "      <nav>",
                "        <ul>"});
    lines.push_back(NavItem(IsTitekPage(Document), "titek.php", "Телеизмерения"));
    lines.push_back(NavItem(Document == "/tstek.php", "tstek.php", "Телесигналы"));
    lines.push_back(NavItem(Document == "/config.php", "config.php", "Конфигурация"));
    Add(lines, {"          <li><a href=\"help.html\">Помощь</a></li>",
                "          <li><a href=\"index-7.html\">О программе</a></li>", "        </ul>", "      </nav>",
                "    </div>", "  </header>", "  <section id=\"main-banner\">", "  \t<div class=\"container_12\">",
                "  \t    \t<!-- .banner -->"});
}

void WebPageFoot(std::vector<std::string>& lines)
{
    Add(lines, {"</div>",
                "    </section>",
                "  </section>",
                "  <!-- footer -->",
                "  <footer>",
                "    <div class=\"container_12\">",
                "      <div class=\"indent\">",
                "      \t<nav>",
                "      \t  <ul>",
                "      \t  \t<li><a href=\"titek.php\">Текущие телеизмерения</a></li>",
                "      \t  \t<li><a href=\"tstek.php\">Текущие телесигналы</a></li>",
                "            <li><a href=\"config.php\">Конфигурация ОРС-сервера</a></li>",
                "            <li><a href=\"help.html\">Помощь</a></li>",
                "            <li><a href=\"index-7.html\">О программе</a></li>",
                "          </ul>",
                "      \t</nav>",
                "      </div>",
                "    </div>",
                "  </footer>",
                "</body>",
                "</html>"});
}

void WebSignalTable(const TWebSnapshot& snap, std::string_view kind, std::string_view QueryParams,
                    std::vector<std::string>& lines)
{
    const bool ti = kind == "ti";
    const auto query = QueryForms(QueryParams);
    const bool showAll = QueryParams.empty() || QueryParams == "p_ti=all";

    lines.emplace_back(ti ? "<FORM ACTION=titek.php METHOD=GET>" : "<FORM ACTION=tstek.php METHOD=GET>");
    Add(lines, {"<h7>Выберите КП</h7>", "<SELECT NAME=p_ti>"});
    lines.emplace_back(showAll ? "<OPTION selected value = all>Все" : "<OPTION value = all>Все");
    int selected = 0;
    for (std::size_t i = 0; i < snap.Stations.size(); ++i) {
        const std::string& name = snap.Stations[i].NameKP;
        const std::string shown = HtmlAttrValue(name) + ">" + HtmlEscape(name);
        const bool marked = QueryIs(query, "p_ti=" + name);
        lines.push_back((marked ? "<OPTION selected value = " : "<OPTION value = ") + shown);
        if (marked || QueryIs(query, "p_ts=" + name))
            selected = static_cast<int>(i) + 1;
    }
    Add(lines, {"</SELECT>", "<INPUT TYPE=submit VALUE=\"Отобразить данные!\">", "</FORM>", "    </div>",
                "  </section>", "\t<section class=\"row-2\">", "    \t<div class=\"container_12\">", "<table>"});
    lines.emplace_back(ti ? "<tr><th>№</th><th>Имя КП</th><th>Имя ТИ</th><th>Адрес ASDU</th><th>Адрес IOA</th>"
                            "<th>Значение физическое</th><th>Байт качества</th><th>Значение инженерное</th>"
                            "<th>Метка времени МЭК</th></tr>"
                          : "<tr><th>№</th><th>Имя КП</th><th>Имя ТC</th><th>Адрес ASDU</th><th>Адрес IOA</th>"
                            "<th>Значение</th><th>Байт качества</th><th>Метка времени МЭК</th></tr>");

    const TWebSignalKind wanted = ti ? TWebSignalKind::TIT : TWebSignalKind::TS;
    const bool limited = QueryParams.empty();
    int n = 0;
    bool withheld = false;
    for (const TWebTag& tag : snap.Tags) {
        if (tag.Kind != wanted || !(showAll || tag.FsstID == StationId(selected)))
            continue;
        if (limited && n == WebRowLimit) {
            withheld = true;
            break;
        }
        ++n;
        const TWebStation* kp = StationOf(snap, tag.FsstID);
        std::string row = RowStart(n) + Cell(n) + Cell(kp ? HtmlEscape(kp->NameKP) : std::string())
                          + Cell(HtmlEscape(tag.FName)) + Cell(tag.FAsduAddress) + Cell(tag.FObjAddress);
        row += ti ? TiValueCells(tag, kp) : TsValueCells(tag, kp);
        row += StampCell(tag, kp);
        lines.push_back(row + "</tr>");
    }
    lines.emplace_back("</table>");
    if (withheld)
        lines.emplace_back(ti ? "<a href=\"titek.php?p_ti=all\" class=\"button\">Показать все данные</a>"
                              : "<a href=\"tstek.php?p_ti=all\" class=\"button\">Показать все данные</a>");
}

void WebKpTable(const TWebSnapshot& snap, std::vector<std::string>& lines)
{
    Add(lines,
        {"    </div>", "</section>", "<section class=\"row-2\">", "  \t<div class=\"container_12\">", "<table>"});
    lines.emplace_back(
        "<tr><th>№</th><th>Имя КП</th><th>IP адрес</th><th>Порт</th><th>Соединение</th><th>Адрес ASDU</th>"
        "<th>Кол-во ТИ</th><th>Кол-во ТС</th><th>Поправка времени</th><th>Пересчитывать в инженерные ед.</th>"
        "<th>Передавать метку времени по ОРС</th><th>t0</th><th>t1</th><th>t2</th><th>t3</th><th>k</th><th>w</th>"
        "<th>Originator Address</th><th>Link Address1</th><th>Размер LinkAddress</th><th>Polling Cycle</th>"
        "<th>Confirmation Timeout (ms)</th><th>Termination Timeout</th><th>Retry Count</th><th>Retry TimeOut</th>"
        "<th>Common Asdu Address</th><th>Размер ASDU Address</th><th>Размер Inf Obj Address</th><th>COT</th></tr>");
    for (std::size_t i = 0; i < snap.Stations.size(); ++i) {
        const TWebStation& kp = snap.Stations[i];
        if (!kp.Link) {
            // Before the first start there are no link objects to show.
            lines.emplace_back("<tr class=\"even\" ><td>Запустите сервер</td></tr>");
            break;
        }
        lines.push_back(KpRow(static_cast<int>(i) + 1, kp, *kp.Link));
    }
    lines.emplace_back("</table>");
}

TWebPages::TWebPages(std::string programDir, TSnapshotSource snapshot, std::string lineBreak)
    : programDir_(programDir.empty() ? "./" : std::move(programDir)), snapshot_(std::move(snapshot)),
      lineBreak_(std::move(lineBreak))
{
    if (programDir_.back() != '/')
        programDir_ += '/';
}

std::string TWebPages::Join(const std::vector<std::string>& lines) const
{
    std::string text;
    for (const auto& line : lines)
        text += line + lineBreak_;
    return text;
}

// A text file read as lines and joined again, so it always ends with a line
// break; "" when it cannot be read or is empty.
std::string TWebPages::ReadTextFile(const std::string& path) const
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string bytes = all.str();
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(bytes.substr(start, end - start));
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return Join(lines);
}

void TWebPages::WebGetPage(std::string_view /*Command*/, std::string_view Document, std::string_view QueryParams,
                           std::string& ContentType, std::string& CacheControl, std::string& Content) const
{
    Content.clear();
    CacheControl.clear();

    std::vector<std::string> lines;
    const bool ti = IsTitekPage(Document);
    if (ti || Document == "/tstek.php" || Document == "/config.php" || Document == "/reg.php"
        || Document == "/arch.php") {
        WebPageHead(Document, lines);
        if (ti || Document == "/tstek.php")
            WebSignalTable(snapshot_(), ti ? "ti" : "ts", QueryParams, lines);
        else if (Document == "/config.php")
            WebKpTable(snapshot_(), lines);
        WebPageFoot(lines);
        ContentType = "text/html";
        CacheControl = "no-cache";
        Content = Utf8ToCp1251(Join(lines));
        return;
    }
    if (Document == "/index-7.html") {
        const std::string path = programDir_ + "web/index-7.html";
        if (IsRegularFile(path)) {
            ContentType = "text/html";
            CacheControl = "no-cache";
            Content = ReadTextFile(path);
        }
        return;
    }
    if (WebDocumentSafe(Document))
        StaticFile(Document, ContentType, Content);
}

void TWebPages::StaticFile(std::string_view Document, std::string& ContentType, std::string& Content) const
{
    const std::string webPath = programDir_ + "web" + std::string(Document);
    if (Contains(webPath, "iec104.cfg") || Contains(webPath, "cnf.ini") || Contains(webPath, "test.cfg")) {
        ContentType = "application/octet-stream";
        Content = programDir_.substr(0, programDir_.size() - 1) + std::string(Document);
        return;
    }
    if (!IsRegularFile(webPath))
        return;
    // Every test that matches overrides the earlier ones, as the order says.
    struct TRule {
        const char* part;
        const char* type;
        bool text;
    };
    static constexpr TRule rules[] = {
        {".css", "text/css", true},    {".html", "text/html", true}, {".js", "application/x-javascript", true},
        {".jpg", "image/jpeg", false}, {".gif", "image/gif", false}, {".png", "image/png", false}};
    const TRule* match = nullptr;
    for (const TRule& rule : rules)
        if (Contains(webPath, rule.part))
            match = &rule;
    if (!match)
        return;
    ContentType = match->type;
    Content = match->text ? ReadTextFile(webPath) : webPath;
}

} // namespace gw
