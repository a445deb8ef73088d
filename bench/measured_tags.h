#pragma once
// The tag list the receive-path benchmarks store into: one measured-value
// tag for each object address 1..count of one station.

#include "core/tags.h"

#include <string>

namespace gw::bench {

inline void AddMeasuredTags(TTagSignalList& tags, const TTagCategoryList& cats, int ca, int count,
                            const std::string& ip, int port)
{
    TTagSignal t;
    for (int ioa = 1; ioa <= count; ++ioa) {
        t.Init("tag", ca, ioa, ip, port, cats.GetPtc(TagCategName::tcn_TIT), 0, 0, 0, 0);
        tags.AddTag(t);
    }
}

} // namespace gw::bench
