// The OPC UA binary encoding: a bounds-checked reader, a writer, and the
// built-in types that requests and responses are made of.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tagserve {

// Thrown by the reader on anything it cannot decode; the caller answers it
// with BadDecodingError or closes the connection.
struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Decoder limits: strings, arrays and nesting are checked before anything is allocated.
constexpr size_t kMaxStringBytes = 65536;
constexpr size_t kMaxByteStringBytes = 1 << 20;
constexpr int32_t kMaxArrayLength = 100000;
constexpr int kMaxVariantDepth = 8;
constexpr int kMaxDiagnosticDepth = 4;
// Variant elements one message may hold in all: arrays nested in arrays
// cannot multiply a few megabytes of input into gigabytes of memory.
constexpr size_t kMaxScalarsPerMessage = 200000;

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0, data3 = 0;
    std::array<uint8_t, 8> data4{};
    bool operator==(const Guid&) const = default;
};

struct NodeId {
    enum class Kind : uint8_t { Numeric, String, Guid, Opaque };
    uint16_t ns = 0;
    Kind kind = Kind::Numeric;
    uint32_t numeric = 0;
    std::string text; // String and Opaque ids
    Guid guid;

    NodeId() = default;
    NodeId(uint16_t n, uint32_t id) : ns(n), numeric(id) {}
    static NodeId Opaque(uint16_t n, std::string bytes);
    bool IsNull() const { return ns == 0 && kind == Kind::Numeric && numeric == 0; }
    bool operator==(const NodeId&) const = default;
};

struct NodeIdHash {
    size_t operator()(const NodeId& id) const noexcept;
};

struct ExpandedNodeId {
    NodeId id;
    std::string namespaceUri; // decoded, never emitted
    uint32_t serverIndex = 0;
    // A node of another server or named by URI: never one of ours.
    bool IsForeign() const { return serverIndex != 0 || !namespaceUri.empty(); }
};

struct QualifiedName {
    uint16_t ns = 0;
    std::string name;
    bool operator==(const QualifiedName&) const = default;
};

struct LocalizedText {
    bool hasLocale = false, hasText = false;
    std::string locale, text;
    static LocalizedText Of(std::string t) { return {false, true, {}, std::move(t)}; }
};

struct ExtensionObject {
    NodeId typeId;
    uint8_t encoding = 0; // 0 no body, 1 ByteString body, 2 XmlElement body
    std::string body;
    bool IsNull() const { return typeId.IsNull() && encoding == 0; }
};

struct DiagnosticInfo {}; // decoded and dropped; always emitted empty

struct Variant;
struct DataValue;

// One element of a Variant. Integer types of every width live in int64_t or
// uint64_t, Float and Double in double, String/ByteString/XmlElement in string;
// the Variant's type id says which built-in type it is.
using Scalar =
    std::variant<bool, int64_t, uint64_t, double, std::string, Guid, NodeId, ExpandedNodeId, QualifiedName,
                 LocalizedText, ExtensionObject, std::shared_ptr<DataValue>, std::shared_ptr<Variant>, DiagnosticInfo>;

struct Variant {
    uint8_t type = 0; // built-in type id, 0 = null
    bool isArray = false;
    bool arrayNull = false; // an array with length -1
    std::vector<Scalar> values;
    std::vector<int32_t> dimensions;

    bool IsNull() const { return type == 0; }
    bool IsScalar() const { return type != 0 && !isArray && values.size() == 1; }

    static Variant Boolean(bool v);
    static Variant Byte(uint8_t v);
    static Variant UInt16(uint16_t v);
    static Variant Int32(int32_t v);
    static Variant UInt32(uint32_t v);
    static Variant Double(double v);
    static Variant String(std::string v);
    static Variant DateTime(int64_t v);
    static Variant StatusCode(uint32_t v);
    static Variant OfNodeId(NodeId v);
    static Variant OfQualifiedName(QualifiedName v);
    static Variant OfLocalizedText(LocalizedText v);
    static Variant OfExtensionObject(ExtensionObject v);
    static Variant StringArray(const std::vector<std::string>& v);
    static Variant NullArray(uint8_t elementType);
};

struct DataValue {
    enum Mask : uint8_t {
        HasValue = 0x01,
        HasStatus = 0x02,
        HasSourceTimestamp = 0x04,
        HasServerTimestamp = 0x08,
        HasSourcePicoseconds = 0x10,
        HasServerPicoseconds = 0x20,
    };
    uint8_t mask = 0;
    Variant value;
    uint32_t status = 0;
    int64_t sourceTimestamp = 0;
    uint16_t sourcePicoseconds = 0;
    int64_t serverTimestamp = 0;
    uint16_t serverPicoseconds = 0;
};

class Reader {
public:
    Reader(const void* data, size_t size) : p_(static_cast<const uint8_t*>(data)), n_(size) {}
    explicit Reader(std::string_view s) : Reader(s.data(), s.size()) {}

    size_t Position() const { return pos_; }
    size_t Remaining() const { return n_ - pos_; }
    std::string_view Rest() const { return {reinterpret_cast<const char*>(p_ + pos_), Remaining()}; }
    void Skip(size_t count);

    uint8_t Byte();
    bool Boolean() { return Byte() != 0; }
    uint16_t UInt16();
    int16_t Int16() { return static_cast<int16_t>(UInt16()); }
    uint32_t UInt32();
    int32_t Int32() { return static_cast<int32_t>(UInt32()); }
    uint64_t UInt64();
    int64_t Int64() { return static_cast<int64_t>(UInt64()); }
    float Float();
    double Double();
    // A null string reads as empty; isNull tells them apart where it matters.
    std::string String(bool* isNull = nullptr);
    std::string ByteString(bool* isNull = nullptr);
    Guid ReadGuid();
    NodeId ReadNodeId();
    ExpandedNodeId ReadExpandedNodeId();
    QualifiedName ReadQualifiedName();
    LocalizedText ReadLocalizedText();
    ExtensionObject ReadExtensionObject();
    void ReadDiagnosticInfo() { DiagnosticInfoAt(0); }
    Variant ReadVariant() { return VariantAt(0); }
    DataValue ReadDataValue() { return DataValueAt(0); }

    // Array length: -1 (null) reads as 0; anything that cannot fit the rest
    // of the message or exceeds the array limit throws.
    int32_t ArrayLength();
    std::vector<std::string> StringArray();
    std::vector<uint32_t> UInt32Array();

private:
    const uint8_t* Take(size_t count);
    std::string Bytes(size_t limit, bool* isNull);
    NodeId NodeIdOfForm(uint8_t form);
    Scalar ScalarOf(uint8_t type, int depth);
    Variant VariantAt(int depth);
    DataValue DataValueAt(int depth);
    void DiagnosticInfoAt(int depth);

    const uint8_t* p_;
    size_t n_;
    size_t pos_ = 0;
    size_t scalarBudget_ = kMaxScalarsPerMessage;
};

class Writer {
public:
    std::string& Bytes() { return out_; }
    size_t Size() const { return out_.size(); }

    void Byte(uint8_t v) { out_.push_back(static_cast<char>(v)); }
    void Boolean(bool v) { Byte(v ? 1 : 0); }
    void UInt16(uint16_t v);
    void UInt32(uint32_t v);
    void Int32(int32_t v) { UInt32(static_cast<uint32_t>(v)); }
    void UInt64(uint64_t v);
    void Int64(int64_t v) { UInt64(static_cast<uint64_t>(v)); }
    void Float(float v);
    void Double(double v);
    void String(std::string_view v);
    void NullString() { Int32(-1); }
    void ByteString(std::string_view v) { String(v); }
    void Raw(std::string_view v) { out_.append(v); }
    void WriteGuid(const Guid& g);
    void WriteNodeId(const NodeId& id);
    void WriteExpandedNodeId(const NodeId& id) { WriteNodeId(id); }
    void WriteExpandedNodeId(const ExpandedNodeId& id);
    void WriteQualifiedName(const QualifiedName& q);
    void WriteLocalizedText(const LocalizedText& t);
    void WriteExtensionObject(const ExtensionObject& e);
    void NullExtensionObject() { Raw(std::string_view("\0\0\0", 3)); }
    void EmptyDiagnosticInfo() { Byte(0); }
    void WriteVariant(const Variant& v);
    void WriteDataValue(const DataValue& d);
    void StringArray(const std::vector<std::string>& v);
    void StatusArray(const std::vector<uint32_t>& v);
    void EmptyArray() { Int32(0); }

    // Patches a UInt32 already written at the given offset (chunk sizes).
    void PatchUInt32(size_t offset, uint32_t v);

private:
    void WriteScalar(uint8_t type, const Scalar& s);
    std::string out_;
};

// An ExtensionObject whose body the writer fills in: the body is written
// straight into the message and its length patched afterwards.
class ExtensionObjectBody {
public:
    ExtensionObjectBody(Writer& w, uint32_t encodingId);
    ~ExtensionObjectBody();
    ExtensionObjectBody(const ExtensionObjectBody&) = delete;
    ExtensionObjectBody& operator=(const ExtensionObjectBody&) = delete;

private:
    Writer& w_;
    size_t lengthAt_;
};

} // namespace tagserve
