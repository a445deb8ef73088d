#include "binary.h"

#include "ids.h"

#include <cstring>
#include <functional>

namespace tagserve {

NodeId NodeId::Opaque(uint16_t n, std::string bytes)
{
    NodeId id;
    id.ns = n;
    id.kind = Kind::Opaque;
    id.text = std::move(bytes);
    return id;
}

size_t NodeIdHash::operator()(const NodeId& id) const noexcept
{
    size_t h = (static_cast<size_t>(id.ns) << 40) ^ (static_cast<size_t>(id.kind) << 36);
    switch (id.kind) {
    case NodeId::Kind::Numeric: return h ^ id.numeric;
    case NodeId::Kind::Guid: return h ^ id.guid.data1;
    default: return h ^ std::hash<std::string>{}(id.text);
    }
}

namespace {

template <typename T>
Variant ScalarVariant(uint8_t type, T v)
{
    Variant r;
    r.type = type;
    r.values.emplace_back(std::move(v));
    return r;
}

} // namespace

Variant Variant::Boolean(bool v) { return ScalarVariant(type::Boolean, v); }
Variant Variant::Byte(uint8_t v) { return ScalarVariant(type::Byte, uint64_t{v}); }
Variant Variant::UInt16(uint16_t v) { return ScalarVariant(type::UInt16, uint64_t{v}); }
Variant Variant::Int32(int32_t v) { return ScalarVariant(type::Int32, int64_t{v}); }
Variant Variant::UInt32(uint32_t v) { return ScalarVariant(type::UInt32, uint64_t{v}); }
Variant Variant::Double(double v) { return ScalarVariant(type::Double, v); }
Variant Variant::String(std::string v) { return ScalarVariant(type::String, std::move(v)); }
Variant Variant::DateTime(int64_t v) { return ScalarVariant(type::DateTime, v); }
Variant Variant::StatusCode(uint32_t v) { return ScalarVariant(type::StatusCode, uint64_t{v}); }
Variant Variant::OfNodeId(NodeId v) { return ScalarVariant(type::NodeId, std::move(v)); }
Variant Variant::OfQualifiedName(QualifiedName v) { return ScalarVariant(type::QualifiedName, std::move(v)); }
Variant Variant::OfLocalizedText(LocalizedText v) { return ScalarVariant(type::LocalizedText, std::move(v)); }
Variant Variant::OfExtensionObject(ExtensionObject v) { return ScalarVariant(type::ExtensionObject, std::move(v)); }

Variant Variant::StringArray(const std::vector<std::string>& v)
{
    Variant r;
    r.type = type::String;
    r.isArray = true;
    for (const auto& s : v)
        r.values.emplace_back(s);
    return r;
}

Variant Variant::NullArray(uint8_t elementType)
{
    Variant r;
    r.type = elementType;
    r.isArray = true;
    r.arrayNull = true;
    return r;
}

// ---- Reader ----

const uint8_t* Reader::Take(size_t count)
{
    if (count > Remaining())
        throw DecodeError("message ends early");
    const uint8_t* at = p_ + pos_;
    pos_ += count;
    return at;
}

void Reader::Skip(size_t count) { Take(count); }

uint8_t Reader::Byte() { return *Take(1); }

uint16_t Reader::UInt16()
{
    const uint8_t* b = Take(2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t Reader::UInt32()
{
    const uint8_t* b = Take(4);
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

uint64_t Reader::UInt64()
{
    uint64_t lo = UInt32();
    uint64_t hi = UInt32();
    return lo | (hi << 32);
}

float Reader::Float()
{
    uint32_t bits = UInt32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

double Reader::Double()
{
    uint64_t bits = UInt64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

std::string Reader::Bytes(size_t limit, bool* isNull)
{
    int32_t len = Int32();
    if (isNull)
        *isNull = len < 0;
    if (len < 0)
        return {};
    if (static_cast<size_t>(len) > limit)
        throw DecodeError("string too long");
    const uint8_t* b = Take(static_cast<size_t>(len));
    return std::string(reinterpret_cast<const char*>(b), static_cast<size_t>(len));
}

std::string Reader::String(bool* isNull) { return Bytes(kMaxStringBytes, isNull); }
std::string Reader::ByteString(bool* isNull) { return Bytes(kMaxByteStringBytes, isNull); }

Guid Reader::ReadGuid()
{
    Guid g;
    g.data1 = UInt32();
    g.data2 = UInt16();
    g.data3 = UInt16();
    std::memcpy(g.data4.data(), Take(8), 8);
    return g;
}

NodeId Reader::ReadNodeId()
{
    uint8_t form = Byte();
    if ((form & 0xC0) != 0)
        throw DecodeError("ExpandedNodeId flags in a NodeId");
    return NodeIdOfForm(form);
}

NodeId Reader::NodeIdOfForm(uint8_t form)
{
    NodeId id;
    switch (form & 0x3F) {
    case 0x00: id.numeric = Byte(); break;
    case 0x01:
        id.ns = Byte();
        id.numeric = UInt16();
        break;
    case 0x02:
        id.ns = UInt16();
        id.numeric = UInt32();
        break;
    case 0x03:
        id.ns = UInt16();
        id.kind = NodeId::Kind::String;
        id.text = String();
        break;
    case 0x04:
        id.ns = UInt16();
        id.kind = NodeId::Kind::Guid;
        id.guid = ReadGuid();
        break;
    case 0x05:
        id.ns = UInt16();
        id.kind = NodeId::Kind::Opaque;
        id.text = ByteString();
        break;
    default: throw DecodeError("unknown NodeId form");
    }
    return id;
}

ExpandedNodeId Reader::ReadExpandedNodeId()
{
    uint8_t form = Byte();
    ExpandedNodeId e;
    e.id = NodeIdOfForm(form);
    if (form & 0x80)
        e.namespaceUri = String();
    if (form & 0x40)
        e.serverIndex = UInt32();
    return e;
}

QualifiedName Reader::ReadQualifiedName()
{
    QualifiedName q;
    q.ns = UInt16();
    q.name = String();
    return q;
}

LocalizedText Reader::ReadLocalizedText()
{
    LocalizedText t;
    uint8_t mask = Byte();
    if (mask & 0x01) {
        t.hasLocale = true;
        t.locale = String();
    }
    if (mask & 0x02) {
        t.hasText = true;
        t.text = String();
    }
    return t;
}

ExtensionObject Reader::ReadExtensionObject()
{
    ExtensionObject e;
    e.typeId = ReadNodeId();
    e.encoding = Byte();
    if (e.encoding > 2)
        throw DecodeError("unknown ExtensionObject encoding");
    if (e.encoding != 0)
        e.body = Bytes(Remaining(), nullptr);
    return e;
}

int32_t Reader::ArrayLength()
{
    int32_t len = Int32();
    if (len < 0)
        return 0;
    if (len > kMaxArrayLength || static_cast<size_t>(len) > Remaining())
        throw DecodeError("array length out of range");
    return len;
}

std::vector<std::string> Reader::StringArray()
{
    std::vector<std::string> r(static_cast<size_t>(ArrayLength()));
    for (auto& s : r)
        s = String();
    return r;
}

std::vector<uint32_t> Reader::UInt32Array()
{
    std::vector<uint32_t> r(static_cast<size_t>(ArrayLength()));
    for (auto& v : r)
        v = UInt32();
    return r;
}

void Reader::DiagnosticInfoAt(int depth)
{
    if (depth > kMaxDiagnosticDepth)
        throw DecodeError("DiagnosticInfo nested too deep");
    uint8_t mask = Byte();
    for (unsigned bit : {0x01u, 0x02u, 0x04u, 0x08u})
        if (mask & bit)
            Int32();
    if (mask & 0x10)
        String();
    if (mask & 0x20)
        UInt32();
    if (mask & 0x40)
        DiagnosticInfoAt(depth + 1);
}

Scalar Reader::ScalarOf(uint8_t t, int depth)
{
    if (scalarBudget_ == 0)
        throw DecodeError("too many values in one message");
    --scalarBudget_;
    switch (t) {
    case type::Boolean: return Boolean();
    case type::SByte: return int64_t{static_cast<int8_t>(Byte())};
    case type::Byte: return uint64_t{Byte()};
    case type::Int16: return int64_t{Int16()};
    case type::UInt16: return uint64_t{UInt16()};
    case type::Int32: return int64_t{Int32()};
    case type::UInt32:
    case type::StatusCode: return uint64_t{UInt32()};
    case type::Int64:
    case type::DateTime: return Int64();
    case type::UInt64: return UInt64();
    case type::Float: return double{Float()};
    case type::Double: return Double();
    case type::String:
    case type::XmlElement: return String();
    case type::ByteString: return ByteString();
    case type::Guid: return ReadGuid();
    case type::NodeId: return ReadNodeId();
    case type::ExpandedNodeId: return ReadExpandedNodeId();
    case type::QualifiedName: return ReadQualifiedName();
    case type::LocalizedText: return ReadLocalizedText();
    case type::ExtensionObject: return ReadExtensionObject();
    case type::DataValue: return std::make_shared<DataValue>(DataValueAt(depth + 1));
    case type::Variant: return std::make_shared<Variant>(VariantAt(depth + 1));
    case type::DiagnosticInfo: DiagnosticInfoAt(0); return DiagnosticInfo{};
    default: // 26..31 are reserved and read like a ByteString
        return ByteString();
    }
}

Variant Reader::VariantAt(int depth)
{
    if (depth > kMaxVariantDepth)
        throw DecodeError("Variant nested too deep");
    Variant v;
    uint8_t mask = Byte();
    v.type = mask & 0x3F;
    if (v.type == 0)
        return v;
    if (mask & 0x80) {
        v.isArray = true;
        int32_t raw = Int32();
        v.arrayNull = raw < 0;
        if (raw > kMaxArrayLength || (raw > 0 && static_cast<size_t>(raw) > Remaining()))
            throw DecodeError("array length out of range");
        for (int32_t i = 0; i < raw; ++i)
            v.values.push_back(ScalarOf(v.type, depth));
        if (mask & 0x40) {
            int32_t n = ArrayLength();
            for (int32_t i = 0; i < n; ++i)
                v.dimensions.push_back(Int32());
        }
    } else {
        v.values.push_back(ScalarOf(v.type, depth));
    }
    return v;
}

DataValue Reader::DataValueAt(int depth)
{
    if (depth > kMaxVariantDepth)
        throw DecodeError("DataValue nested too deep");
    DataValue d;
    d.mask = Byte();
    // Wire order differs from bit order: source picoseconds come before the server timestamp.
    if (d.mask & DataValue::HasValue)
        d.value = VariantAt(depth + 1);
    if (d.mask & DataValue::HasStatus)
        d.status = UInt32();
    if (d.mask & DataValue::HasSourceTimestamp)
        d.sourceTimestamp = Int64();
    if (d.mask & DataValue::HasSourcePicoseconds)
        d.sourcePicoseconds = UInt16();
    if (d.mask & DataValue::HasServerTimestamp)
        d.serverTimestamp = Int64();
    if (d.mask & DataValue::HasServerPicoseconds)
        d.serverPicoseconds = UInt16();
    return d;
}

// ---- Writer ----

void Writer::UInt16(uint16_t v)
{
    Byte(static_cast<uint8_t>(v));
    Byte(static_cast<uint8_t>(v >> 8));
}

void Writer::UInt32(uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        Byte(static_cast<uint8_t>(v >> (8 * i)));
}

void Writer::UInt64(uint64_t v)
{
    UInt32(static_cast<uint32_t>(v));
    UInt32(static_cast<uint32_t>(v >> 32));
}

void Writer::Float(float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    UInt32(bits);
}

void Writer::Double(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    UInt64(bits);
}

void Writer::String(std::string_view v)
{
    Int32(static_cast<int32_t>(v.size()));
    out_.append(v);
}

void Writer::WriteGuid(const Guid& g)
{
    UInt32(g.data1);
    UInt16(g.data2);
    UInt16(g.data3);
    out_.append(reinterpret_cast<const char*>(g.data4.data()), g.data4.size());
}

void Writer::WriteNodeId(const NodeId& id)
{
    switch (id.kind) {
    case NodeId::Kind::Numeric:
        if (id.ns == 0 && id.numeric <= 0xFF) {
            Byte(0x00);
            Byte(static_cast<uint8_t>(id.numeric));
        } else if (id.ns <= 0xFF && id.numeric <= 0xFFFF) {
            Byte(0x01);
            Byte(static_cast<uint8_t>(id.ns));
            UInt16(static_cast<uint16_t>(id.numeric));
        } else {
            Byte(0x02);
            UInt16(id.ns);
            UInt32(id.numeric);
        }
        return;
    case NodeId::Kind::String:
        Byte(0x03);
        UInt16(id.ns);
        String(id.text);
        return;
    case NodeId::Kind::Guid:
        Byte(0x04);
        UInt16(id.ns);
        WriteGuid(id.guid);
        return;
    case NodeId::Kind::Opaque:
        Byte(0x05);
        UInt16(id.ns);
        ByteString(id.text);
        return;
    }
}

void Writer::WriteExpandedNodeId(const ExpandedNodeId& e)
{
    size_t at = out_.size();
    WriteNodeId(e.id);
    if (!e.namespaceUri.empty()) {
        out_[at] = static_cast<char>(out_[at] | 0x80);
        String(e.namespaceUri);
    }
    if (e.serverIndex != 0) {
        out_[at] = static_cast<char>(out_[at] | 0x40);
        UInt32(e.serverIndex);
    }
}

void Writer::WriteQualifiedName(const QualifiedName& q)
{
    UInt16(q.ns);
    String(q.name);
}

void Writer::WriteLocalizedText(const LocalizedText& t)
{
    Byte(static_cast<uint8_t>((t.hasLocale ? 0x01 : 0) | (t.hasText ? 0x02 : 0)));
    if (t.hasLocale)
        String(t.locale);
    if (t.hasText)
        String(t.text);
}

void Writer::WriteExtensionObject(const ExtensionObject& e)
{
    WriteNodeId(e.typeId);
    Byte(e.encoding);
    if (e.encoding != 0)
        ByteString(e.body);
}

void Writer::WriteScalar(uint8_t t, const Scalar& s)
{
    switch (t) {
    case type::Boolean: Boolean(std::get<bool>(s)); return;
    case type::SByte:
    case type::Byte:
        Byte(static_cast<uint8_t>(t == type::SByte ? static_cast<uint64_t>(std::get<int64_t>(s))
                                                   : std::get<uint64_t>(s)));
        return;
    case type::Int16: UInt16(static_cast<uint16_t>(std::get<int64_t>(s))); return;
    case type::UInt16: UInt16(static_cast<uint16_t>(std::get<uint64_t>(s))); return;
    case type::Int32: Int32(static_cast<int32_t>(std::get<int64_t>(s))); return;
    case type::UInt32:
    case type::StatusCode: UInt32(static_cast<uint32_t>(std::get<uint64_t>(s))); return;
    case type::Int64:
    case type::DateTime: Int64(std::get<int64_t>(s)); return;
    case type::UInt64: UInt64(std::get<uint64_t>(s)); return;
    case type::Float: Float(static_cast<float>(std::get<double>(s))); return;
    case type::Double: Double(std::get<double>(s)); return;
    case type::Guid: WriteGuid(std::get<Guid>(s)); return;
    case type::NodeId: WriteNodeId(std::get<NodeId>(s)); return;
    case type::ExpandedNodeId: WriteExpandedNodeId(std::get<ExpandedNodeId>(s)); return;
    case type::QualifiedName: WriteQualifiedName(std::get<QualifiedName>(s)); return;
    case type::LocalizedText: WriteLocalizedText(std::get<LocalizedText>(s)); return;
    case type::ExtensionObject: WriteExtensionObject(std::get<ExtensionObject>(s)); return;
    case type::DataValue: WriteDataValue(*std::get<std::shared_ptr<DataValue>>(s)); return;
    case type::Variant: WriteVariant(*std::get<std::shared_ptr<Variant>>(s)); return;
    case type::DiagnosticInfo: EmptyDiagnosticInfo(); return;
    default: // String, ByteString, XmlElement and the reserved ids
        String(std::get<std::string>(s));
        return;
    }
}

void Writer::WriteVariant(const Variant& v)
{
    if (v.type == 0) {
        Byte(0);
        return;
    }
    if (!v.isArray) {
        Byte(v.type);
        WriteScalar(v.type, v.values.at(0));
        return;
    }
    bool dims = !v.dimensions.empty();
    Byte(static_cast<uint8_t>(v.type | 0x80 | (dims ? 0x40 : 0)));
    if (v.arrayNull) {
        Int32(-1);
    } else {
        Int32(static_cast<int32_t>(v.values.size()));
        for (const auto& s : v.values)
            WriteScalar(v.type, s);
    }
    if (dims) {
        Int32(static_cast<int32_t>(v.dimensions.size()));
        for (int32_t d : v.dimensions)
            Int32(d);
    }
}

void Writer::WriteDataValue(const DataValue& d)
{
    Byte(d.mask);
    if (d.mask & DataValue::HasValue)
        WriteVariant(d.value);
    if (d.mask & DataValue::HasStatus)
        UInt32(d.status);
    if (d.mask & DataValue::HasSourceTimestamp)
        Int64(d.sourceTimestamp);
    if (d.mask & DataValue::HasSourcePicoseconds)
        UInt16(d.sourcePicoseconds);
    if (d.mask & DataValue::HasServerTimestamp)
        Int64(d.serverTimestamp);
    if (d.mask & DataValue::HasServerPicoseconds)
        UInt16(d.serverPicoseconds);
}

void Writer::StringArray(const std::vector<std::string>& v)
{
    Int32(static_cast<int32_t>(v.size()));
    for (const auto& s : v)
        String(s);
}

void Writer::StatusArray(const std::vector<uint32_t>& v)
{
    Int32(static_cast<int32_t>(v.size()));
    for (uint32_t s : v)
        UInt32(s);
}

void Writer::PatchUInt32(size_t offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out_[offset + static_cast<size_t>(i)] = static_cast<char>(static_cast<uint8_t>(v >> (8 * i)));
}

ExtensionObjectBody::ExtensionObjectBody(Writer& w, uint32_t encodingId) : w_(w)
{
    w_.WriteNodeId(NodeId(0, encodingId));
    w_.Byte(1);
    lengthAt_ = w_.Size();
    w_.UInt32(0);
}

ExtensionObjectBody::~ExtensionObjectBody()
{
    w_.PatchUInt32(lengthAt_, static_cast<uint32_t>(w_.Size() - lengthAt_ - 4));
}

} // namespace tagserve
