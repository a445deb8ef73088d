#pragma once
// The tag lists the receive-path benchmarks store into (up to the 60 000 tags
// of a full gateway): one measured-value tag for each object address
// 1..count of one station.

#include "core/tags.h"

#include <string>

namespace gw::test {

inline void AddMeasuredTags(TTagSignalList& tags, const TTagCategoryList& cats, int ca, int count,
                            const std::string& ip, int port)
{
    TTagSignal t;
    for (int ioa = 1; ioa <= count; ++ioa) {
        t.Init("tag", ca, ioa, ip, port, cats.GetPtc(TagCategName::tcn_TIT), 0, 0, 0, 0);
        tags.AddTag(t);
    }
}

} // namespace gw::test
