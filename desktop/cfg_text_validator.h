#pragma once
// A text field whose text is written unquoted (or in quotes) to the
// Windows-1251 configuration: it refuses the characters that would split or
// garble the line on reading, and characters Windows-1251 cannot hold.

#include <QValidator>

class QLineEdit;

#include <string>

namespace gw::desktop {

class TCfgTextValidator final : public QValidator {
    Q_OBJECT
public:
    TCfgTextValidator(std::string forbidden, QObject* parent) : QValidator(parent), forbidden_(std::move(forbidden)) {}
    State validate(QString& input, int& pos) const override;

private:
    std::string forbidden_;
};

// True when text holds none of forbidden, no line break and only
// characters Windows-1251 has.
bool IsCfgText(const std::string& text, const std::string& forbidden);

// A field's text as the file gives it back: the reader cuts the blanks at
// the ends of a field, so they are not stored either.
std::string CfgFieldText(const QLineEdit* field);

} // namespace gw::desktop
