#pragma once
// A program folder per test, with the example's first station pointed at a
// given port (ExampleStations({port}): 4 single points at IOA 100, 2 double
// at 200, 4 measured at 300, common address 1), and prompts that record what
// they were asked.

#include "testkit/one_station.h"
#include "testkit/temp_dir.h"

#include "desktop/prompts.h"
#include "service/tables.h"

#include <QApplication>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gw::test {

class RecordingPrompts final : public desktop::TPrompts {
public:
    void Info(const std::string& text) override { infos.push_back(text); }
    bool ConfirmWarning(const std::string& text) override
    {
        warnings.push_back(text);
        return answerYes;
    }
    std::optional<std::string> AskText(const std::string& caption, const std::string&) override
    {
        asked.push_back(caption);
        return answer;
    }
    std::vector<std::string> infos;
    std::vector<std::string> asked;
    std::optional<std::string> answer;
    std::vector<std::string> warnings;
    bool answerYes = true;
};

inline T_TS Ts(std::string name, int ca, int ioa)
{
    T_TS s;
    s.NameTS = std::move(name);
    s.AdrASDU = ca;
    s.AdrIOA = ioa;
    return s;
}

inline T_TI Ti(std::string name, int ca, int ioa)
{
    T_TI s;
    s.NameTI = std::move(name);
    s.AdrASDU = ca;
    s.AdrIOA = ioa;
    return s;
}

// Acts inside a modal dialog of type D once its own loop runs: a timer
// looks for it on every turn of the loop, as a user waits for it to appear,
// and acts again while it is still open. Stops when the returned handle goes.
template <class D>
std::unique_ptr<QTimer> WhenModal(std::function<void(D&)> act)
{
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(10);
    QObject::connect(timer.get(), &QTimer::timeout, [act = std::move(act)] {
        if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget()))
            act(*dialog);
    });
    timer->start();
    return timer;
}

} // namespace gw::test
