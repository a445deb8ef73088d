#pragma once
// The log message queue into which the core puts its trace and error lines,
// a ring of fixed capacity. A full queue keeps an overflow line in its last
// slot and drops what follows until messages are taken out.

#include "core/datetime.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace gw {

class TMessBuff {
public:
    static constexpr const char* OverflowText = "*** ERROR: ПЕРЕПОЛНЕНИЕ TMessBuff!!!";

    explicit TMessBuff(int aSize, std::uint32_t logMask = 0);

    // A message of category flag ≠ 0 is kept only when LogMask has one of its
    // bits; category 0 is always kept. Safe from any thread.
    void Put(std::uint32_t flag, const std::string& aMess, TDateTime dt);
    // Takes out the oldest message: false (and dt, text untouched) when empty.
    bool Get(std::string& text, TDateTime& dt);
    // The oldest message, "" when empty.
    std::string Get();

    int Count() const;
    std::uint32_t LogMask() const { return logMask.load(); }
    // Whether Put keeps a message of this category: callers on hot paths ask
    // first and build the text only then.
    bool Keeps(std::uint32_t flag) const { return flag == 0 || (logMask.load() & flag) != 0; }
    void SetLogMask(std::uint32_t mask) { logMask.store(mask); }

private:
    mutable std::mutex lock;
    std::vector<std::string> Mess;
    std::vector<TDateTime> FDt;
    int ipos = 0;
    int nmess = 0;
    int FSize;
    std::atomic<std::uint32_t> logMask;
};

} // namespace gw
