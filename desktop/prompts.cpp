#include "desktop/prompts.h"

#include "desktop/texts.h"

#include <QInputDialog>
#include <QMessageBox>

namespace gw::desktop {

void TQtPrompts::Info(const std::string& text)
{
    QMessageBox::information(parent_, QString::fromUtf8(texts::AppTitle), QString::fromStdString(text));
}

bool TQtPrompts::ConfirmWarning(const std::string& text)
{
    const auto answer = QMessageBox::warning(parent_, QString::fromUtf8(texts::AppTitle), QString::fromStdString(text),
                                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return answer == QMessageBox::Yes;
}

std::optional<std::string> TQtPrompts::AskText(const std::string& caption, const std::string& prompt)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, QString::fromStdString(caption), QString::fromStdString(prompt),
                                               QLineEdit::Normal, {}, &ok);
    if (!ok)
        return std::nullopt;
    return text.toStdString();
}

} // namespace gw::desktop
