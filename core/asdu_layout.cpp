#include "core/asdu_layout.h"

#include <algorithm>

namespace gw {

std::optional<TAsduHeader> ReadAsduHeader(const std::uint8_t* asdu, int len, const TAsduLayout& layout)
{
    if (asdu == nullptr || len < layout.FixedLen())
        return std::nullopt;
    TAsduHeader h;
    h.type = asdu[0];
    h.vsq = asdu[1];
    h.cot = asdu[2];
    int pos = 3;
    if (layout.szCot == 2)
        h.originator = asdu[pos++];
    h.ca = ReadLe(asdu + pos, layout.szCa);
    return h;
}

int WriteAsduHeader(std::uint8_t* out, const TAsduHeader& h, const TAsduLayout& layout)
{
    out[0] = static_cast<std::uint8_t>(h.type);
    out[1] = static_cast<std::uint8_t>(h.vsq);
    out[2] = static_cast<std::uint8_t>(h.cot);
    int pos = 3;
    if (layout.szCot == 2)
        out[pos++] = static_cast<std::uint8_t>(h.originator);
    WriteLe(out + pos, layout.szCa, h.ca);
    return pos + layout.szCa;
}

std::optional<TObjectPlan> PlanObjects(int dataLen, int count, bool sequence, int elemLen, int timeLen, int ioaLen)
{
    if (dataLen < 0 || count < 0 || elemLen < 0 || timeLen < 0 || ioaLen < 0)
        return std::nullopt;
    TObjectPlan p;
    p.sequence = sequence;
    p.count = count;
    p.ioaLen = ioaLen;
    p.elemLen = elemLen;
    p.timeLen = timeLen;
    if (!sequence) {
        p.stride = ioaLen + elemLen + timeLen;
        if (p.stride * count != dataLen)
            return std::nullopt;
        return p;
    }
    p.stride = elemLen + timeLen;
    if (ioaLen + count * p.stride == dataLen)
        return p;
    if (timeLen > 0 && count > 0 && ioaLen + count * elemLen + timeLen == dataLen) {
        p.sharedTime = true;
        p.stride = elemLen;
        return p;
    }
    return std::nullopt;
}

} // namespace gw
