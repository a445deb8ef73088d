#include "desktop/prompts.h"

#include "desktop/texts.h"

#include <QMessageBox>

namespace gw::desktop {

void TQtPrompts::Info(const std::string& text)
{
    QMessageBox::information(parent_, QString::fromUtf8(texts::AppTitle), QString::fromStdString(text));
}

bool TQtPrompts::ConfirmWarning(const std::string& text)
{
    const auto answer = QMessageBox::warning(parent_, QString::fromUtf8(texts::AppTitle),
                                             QString::fromStdString(text),
                                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    return answer == QMessageBox::Yes;
}

} // namespace gw::desktop
