#include "core/prmn.h"

#include "core/cp1251.h"
#include "core/crc.h"
#include "core/files.h"

#include <algorithm>
#include <cstring>
#include <fstream>

namespace gw {

namespace {

constexpr std::size_t RecordSize = sizeof(TPrmn);
constexpr std::size_t HeaderSize = 8;
constexpr std::size_t ChecksumSize = 4;

std::span<const std::uint8_t> Bytes(const TPrmn& prm)
{
    return {reinterpret_cast<const std::uint8_t*>(&prm), RecordSize};
}

void PutInt(std::string& out, std::int32_t value)
{
    char bytes[4];
    std::memcpy(bytes, &value, 4);
    out.append(bytes, 4);
}

bool ReadInt(std::istream& in, std::int32_t& value)
{
    char bytes[4];
    if (!in.read(bytes, 4))
        return false;
    std::memcpy(&value, bytes, 4);
    return true;
}

void ClampLength(TShortString32& s) { s.len = std::min<std::uint8_t>(s.len, TShortString32::MaxLength); }

} // namespace

std::string TShortString32::Raw() const { return std::string(chars.data(), std::min<std::size_t>(len, MaxLength)); }

void TShortString32::SetRaw(std::string_view bytes)
{
    const std::size_t n = std::min(bytes.size(), MaxLength);
    std::memcpy(chars.data(), bytes.data(), n);
    len = static_cast<std::uint8_t>(n);
}

std::string TShortString32::Text() const { return Cp1251ToUtf8(Raw()); }

void TShortString32::SetText(std::string_view utf8) { SetRaw(Utf8ToCp1251(utf8)); }

TPrmnArray MakePrmn104() { return TPrmnArray(PrmnCount); }

void SetPrmnDefault(TPrmn& prm, int kind, std::string_view host, std::int32_t port)
{
    const bool client = kind == PrmnKind104;
    prm.Name.SetRaw(client ? "Client104" : "Master101");
    if (client) {
        prm.Host.SetRaw(host);
        prm.Port = port;
        prm.t0 = 30000;
        prm.t1 = 15000;
        prm.t2 = 10000;
        prm.t3 = 20000;
        prm.kMax = 12;
        prm.wMax = 8;
        prm.ReceiveBufferLength = 100;
    }
    prm.OriginatorAddress = 0;
    prm.sz_LinkAddress = client ? 0 : 1;
    prm.ConfirmationTimeout = 5000;
    prm.TerminationTimeout = 30000;
    prm.RetryCount = 3;
    prm.RetryTimeOut = client ? 20000 : 2000;
    prm.CommonAsduAddress = 3;
    prm.sz_ASDUAddress = client ? 2 : 1;
    prm.sz_InfObjAddress = client ? 3 : 2;
    prm.sz_COT = client ? 2 : 1;
    prm.ClockSinhronizationCheck = 0;
    prm.ClockSinhronizationTime = 30;
}

bool ReadPrmnBin(const std::string& fileName, std::span<TPrmn> prmn104)
{
    std::ifstream in(fileName, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const auto fileSize = static_cast<std::int64_t>(in.tellg());
    in.seekg(0);
    std::int32_t version = 0, count = 0;
    if (!ReadInt(in, version) || !ReadInt(in, count) || version != PrmnFileVersion || count < 0)
        return false;
    // A count the file cannot hold is refused before anything is read.
    const std::int64_t needed = static_cast<std::int64_t>(HeaderSize + ChecksumSize)
                                + static_cast<std::int64_t>(count) * static_cast<std::int64_t>(RecordSize);
    if (needed > fileSize)
        return false;

    TCrcCheck crc;
    crc.Add(version);
    std::vector<TPrmn> records(std::min<std::size_t>(static_cast<std::size_t>(count), prmn104.size()));
    TPrmn beyond; // records past the array: checked, not kept
    for (std::int32_t i = 0; i < count; ++i) {
        TPrmn& record = static_cast<std::size_t>(i) < records.size() ? records[i] : beyond;
        if (!in.read(reinterpret_cast<char*>(&record), RecordSize))
            return false;
        crc.Add(Bytes(record));
    }
    std::int32_t stored = 0;
    if (!ReadInt(in, stored) || stored != crc.Value())
        return false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        ClampLength(records[i].Name);
        ClampLength(records[i].Host);
        prmn104[i] = records[i];
    }
    return true;
}

bool WritePrmnBin(const std::string& fileName, std::span<const TPrmn> prmn104, int count)
{
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)), prmn104.size());
    TCrcCheck crc;
    crc.Add(PrmnFileVersion);
    std::string image;
    image.reserve(HeaderSize + n * RecordSize + ChecksumSize);
    PutInt(image, PrmnFileVersion);
    PutInt(image, static_cast<std::int32_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const auto bytes = Bytes(prmn104[i]);
        image.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        crc.Add(bytes);
    }
    PutInt(image, crc.Value());
    return WriteWholeFile(fileName, image);
}

bool RdWrPrmnBin(std::uint8_t mode, const std::string& fileName, std::span<TPrmn> prmn104, bool prmTFromCfg,
                 int kpCount)
{
    if (prmTFromCfg)
        return true;
    switch (mode) {
    case 0: return ReadPrmnBin(fileName, prmn104);
    case 1: return WritePrmnBin(fileName, prmn104, kpCount);
    default: return true;
    }
}

} // namespace gw
