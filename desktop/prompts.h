#pragma once
// The message boxes of the desktop program, behind an interface so that
// tests answer them without a modal loop.

#include <optional>
#include <string>

class QWidget;

namespace gw::desktop {

class TPrompts {
public:
    virtual ~TPrompts() = default;
    virtual void Info(const std::string& text) = 0;
    // Warning with Yes, No and Cancel: true only for Yes.
    virtual bool ConfirmWarning(const std::string& text) = 0;
    // An input box (plain text) with caption and prompt; nothing on Cancel.
    virtual std::optional<std::string> AskText(const std::string& caption, const std::string& prompt) = 0;
};

class TQtPrompts final : public TPrompts {
public:
    explicit TQtPrompts(QWidget* parent = nullptr) : parent_(parent) {}
    void Info(const std::string& text) override;
    bool ConfirmWarning(const std::string& text) override;
    std::optional<std::string> AskText(const std::string& caption, const std::string& prompt) override;

private:
    QWidget* parent_;
};

} // namespace gw::desktop
