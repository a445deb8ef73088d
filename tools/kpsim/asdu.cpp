#include "asdu.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace kpsim {
namespace {

constexpr std::array<TypeInfo, 22> kTypes{{
    {M_SP_NA_1, "M_SP_NA_1", 1},
    {M_DP_NA_1, "M_DP_NA_1", 1},
    {M_BO_NA_1, "M_BO_NA_1", 5},
    {M_ME_NA_1, "M_ME_NA_1", 3},
    {M_ME_NB_1, "M_ME_NB_1", 3},
    {M_ME_NC_1, "M_ME_NC_1", 5},
    {M_IT_NA_1, "M_IT_NA_1", 5},
    {M_SP_TB_1, "M_SP_TB_1", 1 + kCp56Size},
    {M_DP_TB_1, "M_DP_TB_1", 1 + kCp56Size},
    {M_BO_TB_1, "M_BO_TB_1", 5 + kCp56Size},
    {M_ME_TD_1, "M_ME_TD_1", 3 + kCp56Size},
    {M_ME_TE_1, "M_ME_TE_1", 3 + kCp56Size},
    {M_ME_TF_1, "M_ME_TF_1", 5 + kCp56Size},
    {M_IT_TB_1, "M_IT_TB_1", 5 + kCp56Size},
    {C_SC_NA_1, "C_SC_NA_1", 1},
    {C_DC_NA_1, "C_DC_NA_1", 1},
    {C_SC_TA_1, "C_SC_TA_1", 1 + kCp56Size},
    {C_DC_TA_1, "C_DC_TA_1", 1 + kCp56Size},
    {C_IC_NA_1, "C_IC_NA_1", 1},
    {C_CI_NA_1, "C_CI_NA_1", 1},
    {C_CS_NA_1, "C_CS_NA_1", kCp56Size},
    {M_BO_TC, "M_BO_TC", 1 + kCp56Size},
}};

void PutLittleEndian(Bytes& out, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t GetLittleEndian(const std::uint8_t* p, int width)
{
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return value;
}

} // namespace

const TypeInfo* FindType(std::uint8_t id)
{
    for (const TypeInfo& t : kTypes)
        if (t.id == id)
            return &t;
    return nullptr;
}

AsduBuilder::AsduBuilder(const Widths& widths, TypeId type, std::uint8_t cause, std::uint32_t ca,
                         std::uint8_t originator)
    : widths_(widths)
{
    bytes_.push_back(type);
    bytes_.push_back(0); // VSQ, filled by Finish
    bytes_.push_back(cause);
    if (widths_.cot == 2)
        bytes_.push_back(originator);
    PutLittleEndian(bytes_, ca, widths_.ca);
}

bool AsduBuilder::HasRoom(std::size_t elementSize) const
{
    return count_ < 127 && bytes_.size() + static_cast<std::size_t>(widths_.ioa) + elementSize <= kMaxAsduLength;
}

void AsduBuilder::AddObject(std::uint32_t ioa, const Bytes& element)
{
    PutLittleEndian(bytes_, ioa, widths_.ioa);
    bytes_.insert(bytes_.end(), element.begin(), element.end());
    ++count_;
}

Bytes AsduBuilder::Finish() const
{
    Bytes out = bytes_;
    out[1] = static_cast<std::uint8_t>(count_);
    return out;
}

std::optional<ParsedAsdu> ParseAsdu(const Bytes& asdu, const Widths& widths)
{
    const std::size_t header = widths.HeaderSize();
    if (asdu.size() < header + static_cast<std::size_t>(widths.ioa))
        return std::nullopt;
    ParsedAsdu out;
    out.type = asdu[0];
    out.vsq = asdu[1];
    out.cause = asdu[2] & 0x3F;
    out.negative = (asdu[2] & kNegativeBit) != 0;
    out.test = (asdu[2] & 0x80) != 0;
    out.originator = widths.cot == 2 ? asdu[3] : 0;
    out.ca = GetLittleEndian(asdu.data() + 2 + widths.cot, widths.ca);
    out.ioa = GetLittleEndian(asdu.data() + header, widths.ioa);
    out.element.assign(asdu.begin() + static_cast<std::ptrdiff_t>(header + static_cast<std::size_t>(widths.ioa)),
                       asdu.end());
    return out;
}

LocalTime NowLocal()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    localtime_r(&seconds, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = static_cast<int>(ms);
    t.weekday = tm.tm_wday == 0 ? 7 : tm.tm_wday;
    return t;
}

Bytes EncodeCp56(const LocalTime& t)
{
    const int ms = t.second * 1000 + t.millisecond;
    return Bytes{
        static_cast<std::uint8_t>(ms & 0xFF),
        static_cast<std::uint8_t>(ms >> 8),
        static_cast<std::uint8_t>((t.minute & 0x3F) | (t.invalid ? 0x80 : 0)),
        static_cast<std::uint8_t>(t.hour & 0x1F),
        static_cast<std::uint8_t>((t.day & 0x1F) | ((t.weekday & 0x07) << 5)),
        static_cast<std::uint8_t>(t.month & 0x0F),
        static_cast<std::uint8_t>((t.year - 2000) & 0x7F),
    };
}

std::optional<LocalTime> DecodeCp56(const std::uint8_t* p)
{
    LocalTime t;
    const int ms = p[0] | (p[1] << 8);
    t.second = ms / 1000;
    t.millisecond = ms % 1000;
    t.minute = p[2] & 0x3F;
    t.invalid = (p[2] & 0x80) != 0;
    t.hour = p[3] & 0x1F;
    t.day = p[4] & 0x1F;
    t.weekday = p[4] >> 5;
    t.month = p[5] & 0x0F;
    t.year = 2000 + (p[6] & 0x7F);
    if (t.second > 59 || t.minute > 59 || t.hour > 23 || t.day < 1 || t.month < 1 || t.month > 12)
        return std::nullopt;
    return t;
}

std::string FormatTime(const LocalTime& t)
{
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
    return text;
}

std::optional<LocalTime> ParseTime(const std::string& text)
{
    LocalTime t;
    char end = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                    &t.second, &t.millisecond, &end)
        != 7)
        return std::nullopt;
    if (t.year < 2000 || t.year > 2127 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23
        || t.minute > 59 || t.second > 59 || t.millisecond < 0 || t.millisecond > 999)
        return std::nullopt;
    // Day of the week by the days-from-civil count; 1970-01-01 was a Thursday.
    const int y = t.month <= 2 ? t.year - 1 : t.year;
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = static_cast<long>(era) * 146097 + doe - 719468;
    t.weekday = static_cast<int>((days + 3) % 7) + 1;
    return t;
}

} // namespace kpsim
