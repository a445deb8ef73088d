#include "desktop/skipped_lines_notice.h"

#include "desktop/texts.h"
#include "service/cfgfile.h"
#include "service/tables.h"

namespace gw::desktop {

std::optional<std::string> SkippedLinesNotice(const TStationTables& t)
{
    const std::vector<const TKeptCfgLine*> skipped = SkippedCfgLines(t);
    if (skipped.empty())
        return std::nullopt;
    const TKeptCfgLine& first = *skipped.front();
    return texts::SkippedLinesHead + std::to_string(skipped.size()) + texts::SkippedLinesFirst
           + std::to_string(first.lineNo) + ": " + first.text + texts::SkippedLinesTail;
}

} // namespace gw::desktop
