#include "tagserve/binary.h"
#include "tagserve/ids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace tagserve {
namespace {

std::string Hex(const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

template <typename Fn>
std::string Encode(Fn fn)
{
    Writer w;
    fn(w);
    return w.Bytes();
}

TEST(Binary, NodeIdFormsAndSmallestNumericForm)
{
    struct Case {
        NodeId id;
        std::string hex;
    };
    NodeId str;
    str.ns = 1;
    str.kind = NodeId::Kind::String;
    str.text = "ab";
    NodeId guid;
    guid.ns = 1;
    guid.kind = NodeId::Kind::Guid;
    guid.guid = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    const Case cases[] = {
        {NodeId(0, 85), "0055"},
        {NodeId(0, 446), "0100be01"},
        {NodeId(1, 80001), "02010081380100"},
        {NodeId(300, 5), "022c0105000000"},
        {str, "0301000200000061 62"},
        {guid, "04010004030201060508070 90a0b0c0d0e0f10"},
        {NodeId::Opaque(0, "xy"), "0500000200000078 79"},
    };
    for (const auto& c : cases) {
        std::string expected;
        for (char ch : c.hex)
            if (ch != ' ')
                expected += ch;
        std::string bytes = Encode([&](Writer& w) { w.WriteNodeId(c.id); });
        EXPECT_EQ(Hex(bytes), expected);
        Reader r(bytes);
        EXPECT_EQ(r.ReadNodeId(), c.id);
        EXPECT_EQ(r.Remaining(), 0u);
    }
}

TEST(Binary, ExpandedNodeIdFlagsAreDecodedAndMarkForeignNodes)
{
    std::string bytes = Encode([](Writer& w) {
        ExpandedNodeId e;
        e.id = NodeId(2, 7);
        e.namespaceUri = "urn:x";
        e.serverIndex = 3;
        w.WriteExpandedNodeId(e);
    });
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]), 0xC1);
    Reader r(bytes);
    ExpandedNodeId e = r.ReadExpandedNodeId();
    EXPECT_EQ(e.id, NodeId(2, 7));
    EXPECT_EQ(e.namespaceUri, "urn:x");
    EXPECT_EQ(e.serverIndex, 3u);
    EXPECT_TRUE(e.IsForeign());
    // A plain NodeId must not carry the flags.
    Reader plain(bytes);
    EXPECT_THROW(plain.ReadNodeId(), DecodeError);
}

TEST(Binary, StringsNullEmptyAndUtf8)
{
    std::string bytes = Encode([](Writer& w) {
        w.NullString();
        w.String("");
        w.String("Трансформатор");
    });
    Reader r(bytes);
    bool isNull = false;
    EXPECT_EQ(r.String(&isNull), "");
    EXPECT_TRUE(isNull);
    EXPECT_EQ(r.String(&isNull), "");
    EXPECT_FALSE(isNull);
    EXPECT_EQ(r.String(), "Трансформатор");
}

TEST(Binary, LocalizedTextMasks)
{
    LocalizedText both{true, true, "ru", "Связь"};
    for (const LocalizedText& t : {LocalizedText{}, LocalizedText::Of("x"), both}) {
        std::string bytes = Encode([&](Writer& w) { w.WriteLocalizedText(t); });
        Reader r(bytes);
        LocalizedText back = r.ReadLocalizedText();
        EXPECT_EQ(back.hasLocale, t.hasLocale);
        EXPECT_EQ(back.hasText, t.hasText);
        EXPECT_EQ(back.locale, t.locale);
        EXPECT_EQ(back.text, t.text);
    }
    EXPECT_EQ(Hex(Encode([](Writer& w) { w.WriteLocalizedText({}); })), "00");
}

// Every built-in type as a Variant scalar and as an array survives a round trip.
TEST(Binary, VariantRoundTripOfEveryBuiltInType)
{
    auto with = [](uint8_t t, Scalar s) {
        Variant v;
        v.type = t;
        v.values.push_back(std::move(s));
        return v;
    };
    NodeId nid(1, 42);
    ExpandedNodeId enid;
    enid.id = NodeId(0, 61);
    auto inner = std::make_shared<Variant>(Variant::Int32(-5));
    auto dv = std::make_shared<DataValue>();
    dv->mask = DataValue::HasValue | DataValue::HasStatus;
    dv->value = Variant::Double(2.5);
    dv->status = status::Bad;
    ExtensionObject eo;
    eo.typeId = NodeId(0, 864);
    eo.encoding = 1;
    eo.body = std::string("\x01\x02", 2);
    const Variant cases[] = {
        Variant::Boolean(true),
        with(type::SByte, int64_t{-7}),
        Variant::Byte(200),
        with(type::Int16, int64_t{-30000}),
        Variant::UInt16(65000),
        Variant::Int32(-2000000000),
        Variant::UInt32(4000000000u),
        with(type::Int64, int64_t{-1} << 40),
        with(type::UInt64, uint64_t{1} << 63),
        with(type::Float, 1.5),
        Variant::Double(-0.125),
        Variant::String("abc"),
        Variant::DateTime(133000000000000000),
        with(type::Guid, Guid{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}}),
        with(type::ByteString, std::string("\0\1", 2)),
        with(type::XmlElement, std::string("<a/>")),
        Variant::OfNodeId(nid),
        with(type::ExpandedNodeId, enid),
        Variant::StatusCode(status::BadNodeIdUnknown),
        Variant::OfQualifiedName({1, "p1"}),
        Variant::OfLocalizedText(LocalizedText::Of("t")),
        Variant::OfExtensionObject(eo),
        with(type::DataValue, dv),
        with(type::Variant, inner),
        with(type::DiagnosticInfo, DiagnosticInfo{}),
    };
    for (const Variant& scalar : cases) {
        Variant array = scalar;
        array.isArray = true;
        array.values.push_back(scalar.values[0]);
        array.dimensions = {2};
        for (const Variant& v : {scalar, array}) {
            std::string bytes = Encode([&](Writer& w) { w.WriteVariant(v); });
            Reader r(bytes);
            Variant back = r.ReadVariant();
            ASSERT_EQ(r.Remaining(), 0u) << int(v.type);
            EXPECT_EQ(back.type, v.type);
            EXPECT_EQ(back.isArray, v.isArray);
            EXPECT_EQ(back.dimensions, v.dimensions);
            ASSERT_EQ(back.values.size(), v.values.size());
            // Re-encoding the decoded value gives the same bytes.
            EXPECT_EQ(Encode([&](Writer& w) { w.WriteVariant(back); }), bytes) << int(v.type);
        }
    }
}

TEST(Binary, VariantNullArrayNullValueAndNestingLimit)
{
    EXPECT_EQ(Hex(Encode([](Writer& w) { w.WriteVariant(Variant::NullArray(type::UInt32)); })), "87ffffffff");
    EXPECT_EQ(Hex(Encode([](Writer& w) { w.WriteVariant(Variant()); })), "00");
    const std::string nullArrayBytes("\x87\xff\xff\xff\xff", 5);
    Reader nullArray(nullArrayBytes);
    Variant v = nullArray.ReadVariant();
    EXPECT_TRUE(v.isArray && v.arrayNull && v.values.empty());

    // Variants nested deeper than the limit are refused, not recursed into.
    std::string deep(20, '\x18');
    deep += '\x01';
    deep += '\x01';
    Reader r(deep);
    EXPECT_THROW(r.ReadVariant(), DecodeError);
}

TEST(Binary, DataValueWireOrderDiffersFromBitOrder)
{
    DataValue d;
    d.mask = 0x3f;
    d.value = Variant::Boolean(true);
    d.status = 0x80000000;
    d.sourceTimestamp = 0x1111111111111111;
    d.sourcePicoseconds = 0x2222;
    d.serverTimestamp = 0x3333333333333333;
    d.serverPicoseconds = 0x4444;
    std::string bytes = Encode([&](Writer& w) { w.WriteDataValue(d); });
    EXPECT_EQ(Hex(bytes), "3f"
                          "0101"
                          "00000080"
                          "1111111111111111"
                          "2222"
                          "3333333333333333"
                          "4444");
    Reader r(bytes);
    DataValue back = r.ReadDataValue();
    EXPECT_EQ(back.sourcePicoseconds, 0x2222);
    EXPECT_EQ(back.serverTimestamp, 0x3333333333333333);
    EXPECT_EQ(back.serverPicoseconds, 0x4444);
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(Binary, ExtensionObjectBodyAndNull)
{
    std::string bytes = Encode([](Writer& w) {
        {
            ExtensionObjectBody body(w, msg::DataChangeNotification);
            w.UInt32(7);
        }
        w.NullExtensionObject();
    });
    EXPECT_EQ(Hex(bytes), "01002b030104000000070000000"
                          "00000");
    Reader r(bytes);
    ExtensionObject e = r.ReadExtensionObject();
    EXPECT_EQ(e.typeId, NodeId(0, msg::DataChangeNotification));
    EXPECT_EQ(e.body.size(), 4u);
    EXPECT_TRUE(r.ReadExtensionObject().IsNull());
}

TEST(Binary, DiagnosticInfoRecursionIsBounded)
{
    std::string ok = std::string(4, '\x40') + '\x00';
    Reader r(ok);
    r.ReadDiagnosticInfo();
    EXPECT_EQ(r.Remaining(), 0u);
    std::string deep = std::string(10, '\x40') + '\x00';
    Reader bad(deep);
    EXPECT_THROW(bad.ReadDiagnosticInfo(), DecodeError);
}

// Lengths and counts are checked against the bytes that are left before any allocation.
TEST(Binary, HostileLengthsAndTruncationThrow)
{
    enum What { AString, AVariant, ANodeId };
    const struct {
        std::string bytes;
        What what;
    } cases[] = {
        {std::string("\xff\xff\xff\x7f", 4), AString}, // string of 2 GiB
        {std::string("\x10\x00\x00\x00"
                     "abc",
                     7),
         AString},                                          // longer than the rest
        {std::string("\x8c\xff\xff\xff\x7f", 5), AVariant}, // String array of 2^31 elements
        {std::string("\x86\x40\x42\x0f\x00", 5), AVariant}, // Int32 array of 1 000 000
        {std::string("\x02\x01\x00", 3), ANodeId},          // truncated numeric NodeId
        {std::string("\x06", 1), ANodeId},                  // unknown NodeId form
    };
    for (const auto& c : cases) {
        Reader r(c.bytes);
        switch (c.what) {
        case AString: EXPECT_THROW(r.String(), DecodeError); break;
        case AVariant: EXPECT_THROW(r.ReadVariant(), DecodeError); break;
        case ANodeId: EXPECT_THROW(r.ReadNodeId(), DecodeError); break;
        }
    }
    // Arrays of Variants holding arrays: the total number of values is bounded, not only each array.
    Writer nested;
    nested.Byte(0x80 | type::Variant);
    nested.Int32(100);
    for (int i = 0; i < 100; ++i) {
        nested.Byte(0x80 | type::Boolean);
        nested.Int32(5000);
        nested.Raw(std::string(5000, '\x01'));
    }
    Reader bomb(nested.Bytes());
    EXPECT_THROW(bomb.ReadVariant(), DecodeError);

    // Every prefix of a valid DataValue fails cleanly.
    DataValue d;
    d.mask = 0x0f;
    d.value = Variant::StringArray({"a", "bc"});
    d.status = 1;
    std::string full = Encode([&](Writer& w) { w.WriteDataValue(d); });
    for (size_t n = 0; n < full.size(); ++n) {
        Reader r(full.data(), n);
        EXPECT_THROW(r.ReadDataValue(), DecodeError) << n;
    }
}

} // namespace
} // namespace tagserve
