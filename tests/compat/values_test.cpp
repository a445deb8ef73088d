// GUID text, variants and strings, task memory, time stamps.
#include "compat/com/filetime.h"
#include "compat/com/taskmem.h"
#include "compat/com/variant.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using namespace com;

namespace {

constexpr GUID Sample{0xE30DEB0A, 0xE31F, 0x4930, {0xA5, 0x43, 0x29, 0xC6, 0xD5, 0x3A, 0x83, 0xB0}};

TEST(Guid, FormatsUpperCaseAndParsesBack)
{
    EXPECT_EQ(Sample.toString(), "{E30DEB0A-E31F-4930-A543-29C6D53A83B0}");
    auto back = GUID::parse("{e30deb0a-e31f-4930-a543-29c6d53a83b0}");
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == Sample);
    for (const char* bad : {"", "{E30DEB0A-E31F-4930-A543-29C6D53A83B}", "E30DEB0A-E31F-4930-A543-29C6D53A83B0",
                            "{E30DEB0A-E31F-4930-A54329C6D53A83B0}", "{E30DEB0A-E31F-4930-A543-29C6D53A83B0}x",
                            "{G30DEB0A-E31F-4930-A543-29C6D53A83B0}"})
        EXPECT_FALSE(GUID::parse(bad)) << bad;
}

TEST(Variant, CopiesStringsDeeplyAndClearsThem)
{
    const long before = taskMemOutstanding();
    Variant a = Variant::fromString(u"abc");
    Variant b = a;
    ASSERT_EQ(b.vt(), VT_BSTR);
    EXPECT_NE(a.get()->bstrVal, b.get()->bstrVal);
    EXPECT_EQ(SysStringLen(b.get()->bstrVal), 3u);
    EXPECT_EQ(std::u16string(b.get()->bstrVal), u"abc");
    VARIANT arr;
    VariantInit(&arr);
    arr.vt = VT_ARRAY | VT_I4;
    EXPECT_EQ(VariantCopy(b.get(), &arr), E_INVALIDARG);
    EXPECT_EQ(taskMemOutstanding(), before);
}

TEST(Variant, ComparesAsNumbersTrueBeingMinusOne)
{
    struct Case {
        Variant a, b;
        std::optional<bool> equal;
    };
    const Case cases[] = {
        {Variant::fromR8(2.0), Variant::fromI4(2), true},
        {Variant::fromBool(true), Variant::fromI4(-1), true},
        {Variant::fromBool(true), Variant::fromI4(1), false},
        {Variant::fromBool(false), Variant::fromR8(0), true},
        {Variant::fromI8(3), Variant::fromUI2(3), true},
        {Variant::fromString(u"2.5"), Variant::fromR8(2.5), true},
        {Variant::fromString(u"2,5"), Variant::fromR8(2.5), std::nullopt},
        {Variant::fromString(u"True"), Variant::fromI4(-1), std::nullopt},
        {Variant(), Variant::fromI4(0), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(variantEquals(*c.a.get(), *c.b.get()), c.equal) << c.a.vt() << " vs " << c.b.vt();
}

TEST(TaskMemory, ZeroFilledCountedAndFailingOnDemand)
{
    const long before = taskMemOutstanding();
    HRESULT hr = S_OK;
    struct Twenty {
        char bytes[20];
    };
    auto* p = taskAlloc<Twenty>(5, hr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(hr, S_OK);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(reinterpret_cast<char*>(p)[i], 0);
    EXPECT_EQ(taskMemOutstanding(), before + 1);
    CoTaskMemFree(p);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(taskMemOutstanding(), before);

    EXPECT_EQ(taskAlloc<std::uint64_t>(SIZE_MAX / 4, hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);

    hr = S_OK;
    taskMemFailAfter(2);
    void* first = taskAlloc<int>(1, hr);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(taskAlloc<int>(1, hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    void* third = taskAlloc<int>(1, hr);
    EXPECT_NE(third, nullptr);
    CoTaskMemFree(first);
    CoTaskMemFree(third);
    LPWSTR s = taskStrDup(u"Ok");
    EXPECT_EQ(std::u16string(s), u"Ok");
    CoTaskMemFree(s);
    EXPECT_EQ(taskMemOutstanding(), before);
}

TEST(FileTime, LocalDatesBecomeUtcFileTimes)
{
    const FixedLocalZone utcPlus3(3 * 3600);
    // 1899-12-30 00:00 local is 1899-12-29 21:00 UTC.
    const std::uint64_t zero = fileTimeValue(localDateToFileTime(0, utcPlus3));
    EXPECT_EQ(zero, static_cast<std::uint64_t>(109205) * 864'000'000'000ull - 3ull * 3600 * 10'000'000);
    // 1970-01-01 03:00 local is the Unix epoch.
    const double epochLocal = 25569.0 + 3.0 / 24;
    EXPECT_EQ(fileTimeValue(localDateToFileTime(epochLocal, utcPlus3)), 116444736000000000ull);
    EXPECT_NEAR(fileTimeToLocalDate(localDateToFileTime(epochLocal, utcPlus3), utcPlus3), epochLocal, 1e-9);
    EXPECT_EQ(fileTimeValue(localDateToFileTime(-700000, utcPlus3)), 0u);
}

// The offset that applies is the one of the stamp's own date, not today's.
TEST(FileTime, SystemZoneUsesTheOffsetInEffectAtTheStamp)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const SystemLocalZone zone;
    const double winter = 45292.5; // 2024-01-01 12:00
    const double summer = 45474.5; // 2024-07-01 12:00
    EXPECT_EQ(zone.offsetSecondsAt(winter), 3600);
    EXPECT_EQ(zone.offsetSecondsAt(summer), 7200);
    const std::uint64_t ticksPerHour = 36'000'000'000ull;
    EXPECT_EQ(fileTimeValue(localDateToFileTime(summer, zone)) - fileTimeValue(localDateToFileTime(winter, zone)),
              182 * 24 * ticksPerHour - ticksPerHour);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
