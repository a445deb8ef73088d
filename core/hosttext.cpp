#include "core/hosttext.h"

#include <mutex>
#include <set>

namespace gw {

const std::string* SharedHost(std::string host)
{
    static std::mutex lock;
    static std::set<std::string, std::less<>> hosts; // a set's elements stay where they are
    const std::lock_guard<std::mutex> guard(lock);
    return &*hosts.insert(std::move(host)).first;
}

} // namespace gw
