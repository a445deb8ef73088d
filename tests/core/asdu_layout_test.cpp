#include "core/asdu_layout.h"
#include "support/asdu_vectors.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace gw {
namespace {

using test::AsduVector;
using test::LoadAsduVectors;

// "type 13, cause 3 spontaneous, CA 1; ..." -> 13, 3, 1
struct Expected {
    int type = -1, cause = -1, ca = -1;
};
Expected FromMeaning(const std::string& m)
{
    Expected e;
    auto number = [&](const char* key) {
        auto at = m.find(key);
        return at == std::string::npos ? -1 : std::atoi(m.c_str() + at + std::char_traits<char>::length(key));
    };
    e.type = number("type ");
    e.cause = number("cause ");
    e.ca = number("CA ");
    return e;
}

TEST(AsduLayout, ReferenceHeadersReadAndWriteBack)
{
    for (const auto& v : LoadAsduVectors()) {
        SCOPED_TRACE(v.name);
        auto h = ReadAsduHeader(v.bytes.data(), static_cast<int>(v.bytes.size()), v.layout);
        ASSERT_TRUE(h);
        Expected e = FromMeaning(v.meaning);
        EXPECT_EQ(h->type, e.type);
        EXPECT_EQ(h->cot & 0x3F, e.cause);
        EXPECT_EQ(h->ca, e.ca);
        std::uint8_t out[8] = {};
        ASSERT_EQ(WriteAsduHeader(out, *h, v.layout), v.layout.FixedLen());
        EXPECT_EQ(test::HexText(out, v.layout.FixedLen()), test::HexText(v.bytes.data(), v.layout.FixedLen()));
    }
}

TEST(AsduLayout, NarrowFieldsHaveNoOriginatorAndOneByteAddress)
{
    const auto& v = AsduVector("M_ME_NC_1 narrow");
    EXPECT_EQ(v.layout.FixedLen(), 4);
    auto h = ReadAsduHeader(v.bytes.data(), static_cast<int>(v.bytes.size()), v.layout);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->originator, 0);
    EXPECT_EQ(h->ca, 7);
    EXPECT_EQ(ReadLe(v.bytes.data() + 4, v.layout.szIoa), 700);
}

TEST(AsduLayout, HeaderShorterThanItsFieldsIsRefused)
{
    const std::uint8_t b[] = {0x0D, 0x01, 0x03, 0x00, 0x01};
    EXPECT_FALSE(ReadAsduHeader(b, 5, TAsduLayout::Make(2, 2, 3)));
    EXPECT_TRUE(ReadAsduHeader(b, 5, TAsduLayout::Make(2, 1, 3)));
    EXPECT_FALSE(ReadAsduHeader(b, 0, TAsduLayout::Make(1, 0, 0)));
    EXPECT_FALSE(ReadAsduHeader(nullptr, 5, TAsduLayout::Make(1, 0, 0)));
}

TEST(AsduLayout, WidthsOutsideTheirRangeAreNormalised)
{
    struct Case {
        int cot, ca, ioa, wantCot, wantCa, wantIoa;
    } cases[] = {
        {2, 2, 3, 2, 2, 3}, {1, 1, 2, 1, 1, 2}, {0, 0, 0, 1, 0, 0}, {5, 4, 4, 2, 2, 3}, {-1, -1, -1, 1, 0, 0},
    };
    for (const auto& c : cases) {
        auto l = TAsduLayout::Make(c.cot, c.ca, c.ioa, 0x1FF);
        EXPECT_EQ(l.szCot, c.wantCot);
        EXPECT_EQ(l.szCa, c.wantCa);
        EXPECT_EQ(l.szIoa, c.wantIoa);
        EXPECT_EQ(l.originator, 0xFF);
    }
}

TEST(AsduLayout, ObjectPlansByLengthAndStructure)
{
    // M_ME_NC, three objects of 3 + 5 bytes.
    auto p = PlanObjects(24, 3, false, 5, 0, 3);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->AddressAt(2), 16);
    EXPECT_EQ(p->ElementAt(2), 19);
    EXPECT_FALSE(PlanObjects(23, 3, false, 5, 0, 3));
    EXPECT_FALSE(PlanObjects(25, 3, false, 5, 0, 3));

    // M_SP_TB as a sequence of 3, each element with its own CP56Time2a.
    p = PlanObjects(3 + 3 * 8, 3, true, 1, 7, 3);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->sharedTime);
    EXPECT_EQ(p->ElementAt(1), 11);
    EXPECT_EQ(p->TimeAt(1, 27), 12);

    // The same sequence with one trailing tag for all elements.
    p = PlanObjects(3 + 3 + 7, 3, true, 1, 7, 3);
    ASSERT_TRUE(p);
    EXPECT_TRUE(p->sharedTime);
    EXPECT_EQ(p->ElementAt(2), 5);
    EXPECT_EQ(p->TimeAt(0, 13), 6);

    // A sequence of one: both readings agree, the per-element one is taken.
    p = PlanObjects(3 + 1 + 7, 1, true, 1, 7, 3);
    ASSERT_TRUE(p);
    EXPECT_FALSE(p->sharedTime);

    // Neither reading fits.
    EXPECT_FALSE(PlanObjects(3 + 3 * 8 - 1, 3, true, 1, 7, 3));
    EXPECT_FALSE(PlanObjects(3 + 3, 3, true, 1, 7, 3));
    // Without a time tag a sequence has exactly one reading.
    EXPECT_TRUE(PlanObjects(3 + 5 * 5, 5, true, 5, 0, 3));
    EXPECT_FALSE(PlanObjects(3 + 5 * 5 + 1, 5, true, 5, 0, 3));
    // No objects: no bytes.
    EXPECT_TRUE(PlanObjects(0, 0, false, 1, 0, 3));
    EXPECT_FALSE(PlanObjects(4, 0, false, 1, 0, 3));
}

} // namespace
} // namespace gw
