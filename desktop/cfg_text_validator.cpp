#include "desktop/cfg_text_validator.h"

#include "core/cp1251.h"
#include "service/cfgtext.h"

#include <QLineEdit>

#include <algorithm>

namespace gw::desktop {

bool IsCfgText(const std::string& text, const std::string& forbidden)
{
    if (text.find_first_of(forbidden + "\r\n") != std::string::npos)
        return false;
    // Utf8ToCp1251 turns what it cannot hold into '?': compare the counts.
    const std::string bytes = Utf8ToCp1251(text);
    return std::count(bytes.begin(), bytes.end(), '?') == std::count(text.begin(), text.end(), '?');
}

QValidator::State TCfgTextValidator::validate(QString& input, int&) const
{
    return IsCfgText(input.toStdString(), forbidden_) ? Acceptable : Invalid;
}

std::string CfgFieldText(const QLineEdit* field) { return std::string(TrimBlanks(field->text().toStdString())); }

} // namespace gw::desktop
