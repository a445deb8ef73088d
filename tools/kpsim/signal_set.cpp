#include "signal_set.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kpsim {
namespace {

std::int32_t Clamp(double value, double low, double high)
{
    if (value < low)
        value = low;
    if (value > high)
        value = high;
    return static_cast<std::int32_t>(std::lround(value));
}

void PutInt(Bytes& out, std::int32_t value, int width)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

// Deterministic start values, so a test knows what a general interrogation returns.
double InitialValue(PointKind kind, std::uint32_t index)
{
    switch (kind) {
    case PointKind::Single: return index % 2;
    case PointKind::Double: return 1 + index % 2;
    case PointKind::Normalized: return 0.125 * (index % 8);
    case PointKind::Scaled: return 100.0 * index;
    case PointKind::Float: return 1.5 * index;
    case PointKind::Counter: return 1000.0 * index;
    case PointKind::Bitstring: return 0x01010101u * (index % 256);
    case PointKind::Bits8: return index % 256;
    }
    return 0;
}

double Stepped(const Point& p)
{
    switch (p.kind) {
    case PointKind::Single: return p.value == 0 ? 1 : 0;
    case PointKind::Double: return p.value == 1 ? 2 : 1;
    case PointKind::Normalized: return p.value + 0.125 >= 1 ? -1 : p.value + 0.125;
    case PointKind::Scaled: return p.value + 1 > 32767 ? -32768 : p.value + 1;
    case PointKind::Float: return p.value + 0.5 > 1e6 ? 0 : p.value + 0.5;
    case PointKind::Counter: return p.value;
    case PointKind::Bitstring: return p.value >= 4294967295.0 ? 0 : p.value + 1;
    case PointKind::Bits8: return p.value >= 255 ? 0 : p.value + 1;
    }
    return p.value;
}

} // namespace

const std::vector<KindInfo>& Kinds()
{
    static const std::vector<KindInfo> kinds{
        {PointKind::Single, "sp", M_SP_NA_1, M_SP_TB_1},
        {PointKind::Double, "dp", M_DP_NA_1, M_DP_TB_1},
        {PointKind::Normalized, "me-norm", M_ME_NA_1, M_ME_TD_1},
        {PointKind::Scaled, "me-scaled", M_ME_NB_1, M_ME_TE_1},
        {PointKind::Float, "me-float", M_ME_NC_1, M_ME_TF_1},
        {PointKind::Counter, "it", M_IT_NA_1, M_IT_TB_1},
        {PointKind::Bitstring, "bo", M_BO_NA_1, M_BO_TB_1},
        {PointKind::Bits8, "bits8", M_BO_TC, M_BO_TC, true},
    };
    return kinds;
}

const KindInfo& InfoOf(PointKind kind)
{
    for (const KindInfo& k : Kinds())
        if (k.kind == kind)
            return k;
    return Kinds().front();
}

std::string SignalSet::Build(const std::vector<PointRange>& ranges, int ioaWidth)
{
    points_.clear();
    byIoa_.clear();
    nextChange_ = 0;
    const std::uint64_t limit = 1ull << (8 * ioaWidth);
    for (const PointRange& r : ranges) {
        if (static_cast<std::uint64_t>(r.firstIoa) + r.count > limit)
            return "object address beyond the address width";
        for (std::uint32_t i = 0; i < r.count; ++i) {
            const std::uint32_t ioa = r.firstIoa + i;
            if (!byIoa_.emplace(ioa, points_.size()).second)
                return "object address " + std::to_string(ioa) + " configured twice";
            points_.push_back(Point{r.kind, ioa, InitialValue(r.kind, i)});
        }
    }
    return "";
}

Point* SignalSet::Find(std::uint32_t ioa)
{
    const auto it = byIoa_.find(ioa);
    return it == byIoa_.end() ? nullptr : &points_[it->second];
}

Point* SignalSet::StepNext()
{
    for (std::size_t tried = 0; tried < points_.size(); ++tried) {
        Point& p = points_[nextChange_];
        nextChange_ = (nextChange_ + 1) % points_.size();
        if (p.kind != PointKind::Counter) {
            p.value = Stepped(p);
            return &p;
        }
    }
    return nullptr;
}

void SignalSet::AdvanceCounters()
{
    std::int32_t step = 1;
    for (Point& p : points_) {
        if (p.kind != PointKind::Counter)
            continue;
        p.value = static_cast<double>(static_cast<std::int32_t>(p.value) + step++);
        p.sequence = static_cast<std::uint8_t>((p.sequence + 1) & 0x1F);
    }
}

Bytes EncodeElement(const Point& p)
{
    Bytes out;
    switch (p.kind) {
    case PointKind::Single: out.push_back(static_cast<std::uint8_t>((p.value != 0 ? 1 : 0) | p.quality)); break;
    case PointKind::Double: out.push_back(static_cast<std::uint8_t>(Clamp(p.value, 0, 3) | p.quality)); break;
    case PointKind::Normalized:
        PutInt(out, Clamp(p.value * 32768.0, -32768, 32767), 2);
        out.push_back(p.quality);
        break;
    case PointKind::Scaled:
        PutInt(out, Clamp(p.value, -32768, 32767), 2);
        out.push_back(p.quality);
        break;
    case PointKind::Float: {
        const float f = static_cast<float>(p.value);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &f, sizeof bits);
        PutInt(out, static_cast<std::int32_t>(bits), 4);
        out.push_back(p.quality);
        break;
    }
    case PointKind::Counter:
        PutInt(out, Clamp(p.value, -2147483648.0, 2147483647.0), 4);
        out.push_back(static_cast<std::uint8_t>((p.sequence & 0x1F) | p.quality));
        break;
    case PointKind::Bitstring:
        PutInt(out, static_cast<std::int32_t>(static_cast<std::uint32_t>(p.value)), 4);
        out.push_back(p.quality);
        break;
    case PointKind::Bits8:
        out.push_back(static_cast<std::uint8_t>(p.value)); // the type has no quality descriptor
        break;
    }
    return out;
}

bool ParseValue(PointKind kind, const std::string& text, double& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v))
        return false;
    switch (kind) {
    case PointKind::Single:
        if (v != 0 && v != 1)
            return false;
        break;
    case PointKind::Double:
        if (v != 0 && v != 1 && v != 2 && v != 3)
            return false;
        break;
    case PointKind::Normalized:
        if (v < -1 || v >= 1)
            return false;
        break;
    case PointKind::Scaled:
        if (v < -32768 || v > 32767 || v != std::floor(v))
            return false;
        break;
    case PointKind::Float: break;
    case PointKind::Counter:
        if (v < -2147483648.0 || v > 2147483647.0 || v != std::floor(v))
            return false;
        break;
    case PointKind::Bitstring:
        if (v < 0 || v > 4294967295.0 || v != std::floor(v))
            return false;
        break;
    case PointKind::Bits8:
        if (v < 0 || v > 255 || v != std::floor(v))
            return false;
        break;
    }
    value = v;
    return true;
}

std::uint8_t QualityBit(PointKind kind, const std::string& name)
{
    using K = PointKind;
    struct Flag {
        const char* name;
        std::uint8_t bit;
        std::vector<PointKind> kinds; // the kinds whose element carries the flag
    };
    // SIQ and DIQ lack OV; a total's status has IV, CA and CY where QDS has
    // IV, NT and SB; the eight-point byte has no quality at all.
    static const Flag kFlags[] = {
        {"iv", 0x80, {K::Single, K::Double, K::Normalized, K::Scaled, K::Float, K::Counter, K::Bitstring}},
        {"nt", 0x40, {K::Single, K::Double, K::Normalized, K::Scaled, K::Float, K::Bitstring}},
        {"sb", 0x20, {K::Single, K::Double, K::Normalized, K::Scaled, K::Float, K::Bitstring}},
        {"bl", 0x10, {K::Single, K::Double, K::Normalized, K::Scaled, K::Float, K::Bitstring}},
        {"ov", 0x01, {K::Normalized, K::Scaled, K::Float, K::Bitstring}},
        {"ca", 0x40, {K::Counter}},
        {"cy", 0x20, {K::Counter}},
    };
    for (const Flag& f : kFlags)
        if (name == f.name)
            for (const PointKind k : f.kinds)
                if (k == kind)
                    return f.bit;
    return 0;
}

} // namespace kpsim
