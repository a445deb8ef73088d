#include "control.h"

#include "options.h"
#include "session.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace kpsim {
namespace {

struct Verb {
    const char* name;
    Action action;
    int arguments; // after the station number
    bool moreAllowed;
};

constexpr Verb kVerbs[] = {
    {"close", Action::Close, 0, false},   {"reset", Action::Reset, 0, false},     {"silent", Action::Silent, 0, false},
    {"talk", Action::Talk, 0, false},     {"garbage", Action::Garbage, 0, false}, {"set", Action::Set, 2, true},
    {"rate", Action::Rate, 1, false},     {"refuse", Action::Refuse, 1, false},   {"repeat", Action::Repeat, 1, false},
    {"stopdt", Action::StopDt, 0, false}, {"eoi", Action::EndOfInit, 0, false},   {"hold", Action::Hold, 1, false},
    {"stats", Action::Stats, 0, false},   {"bad-nr", Action::BadAck, 0, false},
};

bool ToNumber(const std::string& text, long high, long& out)
{
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < 0 || v > high)
        return false;
    out = v;
    return true;
}

// The words of a "set" line after the value that are no quality flag: the
// time tag and how it goes, a total's sequence number. False when the word
// is none of these.
bool ParseSetOption(const std::string& word, ControlRequest& request, std::string& error)
{
    if (word.rfind("time=", 0) == 0) {
        request.time = ParseTime(word.substr(5));
        if (!request.time)
            error = "set: bad time " + word;
        return true;
    }
    if (word == "time-iv") {
        request.timeInvalid = true;
        return true;
    }
    if (word.rfind("seq=", 0) == 0) {
        long sequence = 0;
        if (!ToNumber(word.substr(4), 31, sequence))
            error = "set: bad sequence number " + word;
        request.sequence = static_cast<int>(sequence);
        return true;
    }
    return false;
}

// "hold S on|off": a station that takes commands and never answers them.
std::string ParseHold(const std::string& word, ControlRequest& request)
{
    if (word != "on" && word != "off")
        return "hold: on or off";
    request.on = word == "on";
    return "";
}

} // namespace

std::string ParseControlLine(const std::string& line, ControlRequest& request)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    if (words.empty())
        return "empty line";
    if (words[0] == "quit") {
        request.action = Action::Quit;
        return "";
    }
    const Verb* verb = nullptr;
    for (const Verb& v : kVerbs)
        if (words[0] == v.name)
            verb = &v;
    if (verb == nullptr)
        return "unknown control " + words[0];
    const std::size_t needed = static_cast<std::size_t>(verb->arguments) + 2;
    if (words.size() < needed || (words.size() > needed && !verb->moreAllowed))
        return words[0] + ": wrong number of arguments";
    long station = 0;
    if (!ToNumber(words[1], 1000000, station))
        return words[0] + ": bad station number";
    request = ControlRequest{};
    request.action = verb->action;
    request.station = static_cast<int>(station);

    switch (verb->action) {
    case Action::Set: {
        long ioa = 0;
        if (!ToNumber(words[2], 0xFFFFFF, ioa))
            return "set: bad object address";
        request.ioa = static_cast<std::uint32_t>(ioa);
        request.value = words[3];
        for (std::size_t i = needed; i < words.size(); ++i) {
            std::string error;
            if (!ParseSetOption(words[i], request, error))
                request.flags.push_back(words[i]);
            if (!error.empty())
                return error;
        }
        break;
    }
    case Action::Rate:
        if (!ParseRate(words[2], request.rate))
            return "rate: bad rate";
        break;
    case Action::Refuse:
        if (words[2] != "on" && words[2] != "off")
            return "refuse: on or off";
        request.on = words[2] == "on";
        break;
    case Action::Repeat: {
        long back = 0;
        if (!ToNumber(words[2], Session::kRepeatableFrames, back) || back < 1)
            return "repeat: frames back 1.." + std::to_string(Session::kRepeatableFrames);
        request.back = static_cast<int>(back);
        break;
    }
    case Action::Hold: return ParseHold(words[2], request);
    default: break;
    }
    return "";
}

const char* ActionName(Action action)
{
    for (const Verb& v : kVerbs)
        if (v.action == action)
            return v.name;
    return "quit";
}

} // namespace kpsim
