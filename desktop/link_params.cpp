#include "desktop/link_params.h"

#include <charconv>

namespace gw::desktop {

namespace {

constexpr int MsPerSecond = 1000;

std::string N(std::int32_t v) { return std::to_string(v); }
std::string Seconds(std::int32_t ms) { return std::to_string(ms / MsPerSecond); }

bool ParseInt(const std::string& text, std::int32_t& v)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

} // namespace

TLinkFields LinkFieldsOf(const TPrmn& r)
{
    // clang-format off
    return TLinkFields{r.Name.Text(),        r.Host.Text(),          N(r.Port),
                       N(r.kMax),            N(r.wMax),              Seconds(r.t0),
                       Seconds(r.t1),        Seconds(r.t2),          Seconds(r.t3),
                       N(r.RetryCount),      Seconds(r.RetryTimeOut), N(r.ConfirmationTimeout),
                       N(r.TerminationTimeout), N(r.CommonAsduAddress), N(r.OriginatorAddress),
                       N(r.ReceiveBufferLength), N(r.ClockSinhronizationTime)};
    // clang-format on
}

TLinkFields DefaultLinkFields()
{
    TPrmn r{};
    SetPrmnDefault(r, PrmnKind104, "127.0.0.1", 2404);
    return LinkFieldsOf(r);
}

std::optional<TPrmn> LinkRecordOf(const TLinkFields& f, std::string* badField)
{
    TPrmn r{};
    r.Name.SetText(f.name);
    r.Host.SetText(f.host);
    // The ranges are those "iec104.cfg" gives back on reading; the port and
    // the common address are the station dialog's, which clamps them.
    constexpr std::int32_t Any = INT32_MAX;
    struct Field {
        const std::string& text;
        std::int32_t& into;
        int scale;
        std::int32_t lo, hi;
        const char* name;
    };
    const Field fields[] = {
        {f.port, r.Port, 1, -Any, Any, "EditPort"},
        {f.w, r.wMax, 1, 0, 32767, "Edit_w"},
        {f.k, r.kMax, 1, 0, 32767, "Edit_k"},
        {f.t0, r.t0, MsPerSecond, 0, Any, "Edit_t0"},
        {f.t1, r.t1, MsPerSecond, 0, Any, "Edit_t1"},
        {f.t2, r.t2, MsPerSecond, 0, Any, "Edit_t2"},
        {f.t3, r.t3, MsPerSecond, 0, Any, "Edit_t3"},
        {f.retryCount, r.RetryCount, 1, 0, Any, "EditRetryCount"},
        {f.retryDelay, r.RetryTimeOut, MsPerSecond, 0, Any, "EditRetryTimeout"},
        {f.confirmation, r.ConfirmationTimeout, 1, 0, Any, "EditConfirmationTimeout"},
        {f.termination, r.TerminationTimeout, 1, 0, Any, "EditTerminationTimeout"},
        {f.commonAddress, r.CommonAsduAddress, 1, -Any, Any, "EditCommonASDUAddress"},
        {f.originatorAddress, r.OriginatorAddress, 1, 0, 255, "EditOriginatorAddress"},
        {f.receiveBufferLength, r.ReceiveBufferLength, 1, 0, Any, "EditReceiveBufferLength"},
        {f.clockMinutes, r.ClockSinhronizationTime, 1, -Any, Any, "EditClockSinhronizationTime"},
    };
    for (const Field& field : fields) {
        std::int32_t v = 0;
        // A field that is not an integer (or whose milliseconds overflow)
        // must not leave a record half of new values and half of old ones;
        // one the file cannot hold would make the station's save fail.
        if (!ParseInt(field.text, v) || v > INT32_MAX / field.scale || v < INT32_MIN / field.scale || v < field.lo
            || v > field.hi) {
            if (badField)
                *badField = field.name;
            return std::nullopt;
        }
        field.into = v * field.scale;
    }
    r.sz_InfObjAddress = 3;
    r.sz_LinkAddress = 0;
    r.sz_ASDUAddress = 2;
    r.sz_COT = 2;
    return r;
}

} // namespace gw::desktop
