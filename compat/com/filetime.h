#pragma once
// Local wall time (DATE: days since 1899-12-30) to UTC FILETIME and back.
// The offset is the one in effect at the stamp itself, so stamps from before
// a daylight-saving change keep their true instant.

#include "compat/com/types.h"

#include <cstdint>

namespace com {

class LocalZone {
public:
    virtual ~LocalZone() = default;
    // Seconds to add to UTC to get the local time, for the local time `local`.
    virtual std::int64_t offsetSecondsAt(DATE local) const = 0;
};

// The process's time zone (TZ), through the C library.
class SystemLocalZone final : public LocalZone {
public:
    std::int64_t offsetSecondsAt(DATE local) const override;

private:
    static std::int64_t lookUpOffset(DATE local);
};

// A zone without daylight saving, for tests.
class FixedLocalZone final : public LocalZone {
public:
    explicit FixedLocalZone(std::int64_t offsetSeconds) : offset_(offsetSeconds) {}
    std::int64_t offsetSecondsAt(DATE) const override { return offset_; }

private:
    std::int64_t offset_;
};

const LocalZone& systemLocalZone();

// Stamps before 1601 UTC give 0.
FILETIME localDateToFileTime(DATE local, const LocalZone& zone);
DATE fileTimeToLocalDate(const FILETIME& ft, const LocalZone& zone);

} // namespace com
