#pragma once
// One application service data unit: cut from a received I-frame and stored
// into the tags, or assembled for sending (interrogations, clock
// synchronisation, commands). Both directions use the channel's field widths
// (TAsduLayout), and neither ever reads or writes past the ASDU's bytes.

#include "core/asdu_layout.h"
#include "core/clock.h"
#include "core/tagindex.h"
#include "core/datetime.h"
#include "core/typeident.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace gw {

class TMessBuff;
class TTagSignal;
class TTagSignalList;

// What the parser does with one information object, by type name.
enum class TObjAction : std::uint8_t {
    Unhandled,  // "Нет обработки принятого кадра с типом=..."
    StoreTS,    // single and double points: ChangeTS1
    StoreVal,   // every other monitored value: ChangeVal
    StoreBits8, // M_BO_TC: ChangeVal, then spread its 8 bits over point tags
    Confirm,    // command confirmations: a text for causes 7 and 10
    GiDone,     // the station reports an interrogation
    Delay,      // a delay acquisition nobody asked for
    Silent,     // end of initialisation, clock synchronisation
};

// Element bytes handed to the builder.
using TACOMDATA = std::array<std::uint8_t, 255>;

// What parsing a received ASDU needs besides its bytes. log may be null: then
// no line is written (fieldgate writes none).
struct TRaspakContext {
    TTagSignalList& tags;
    const TClock& clock;
    TMessBuff* log = nullptr;
};

class TIEC_ASDUt {
public:
    TIEC_ASDUt() : Data1{} {}
    // A received ASDU: the length bytes from offset of frame (the link passes
    // the I-frame with offset 6). When the bytes are fewer than the header
    // (or run past frame), HeaderOk() is false and nothing else is read. The
    // objects are read in place: frame must outlive the ASDU's use.
    TIEC_ASDUt(std::span<const std::uint8_t> frame, int offset, int length, const TAsduLayout& layout,
               const TTypeIdentList& types);
    // An ASDU for sending: the element bytes data follow the object address.
    TIEC_ASDUt(int code, int SeqNumb, int cot, int asduAddress, int objAddress, std::span<const std::uint8_t> data,
               const TAsduLayout& layout, const TTypeIdentList& types);

    bool HeaderOk() const { return FHeaderOk; }
    bool isSeqence() const { return (SeqNumb1 & 0x80) != 0; }
    int Code() const { return FCode; }
    const TAsduLayout& Layout() const { return FLayout; }
    // Received: every byte after the common address (object addresses,
    // elements, time tags), read in place in the caller's frame. Built: the
    // element bytes that follow the object address (Data1).
    std::span<const std::uint8_t> Data() const
    {
        return {FBuilt ? Data1.data() : FView, static_cast<std::size_t>(lenData)};
    }

    // Stores every object of a received ASDU into its tag, under one lock of
    // the tag list. A wrong length is one error line and stores nothing; an
    // unknown type is dropped silently.
    void ReceiveRaspak1(const TRaspakContext& ctx);

    // "TypeIdent=(13)(M_ME_NC) ..., SQ=0, ASDUAddr=0001, ObjAddr=0002BC nelem=1 COT=3(...)";
    // empty for an unknown type.
    std::string ToString() const;

    // The ASDU as it goes on the wire; the number of bytes written, 0 when it
    // does not fit into out.
    int Encode(std::span<std::uint8_t> out) const;

    // The header and object fields, as received or as built.
    int SeqNumb1 = 0;          // VSQ: SQ in bit 7, element count in bits 0..6
    int COT = 0;               // cause byte with P/N (0x40) and T (0x80)
    int lenData = 0;           // bytes in Data1
    TACOMDATA Data1;           // built: the element bytes (see Data()); unset when received
    PTypeIdent ptid = nullptr; // nullptr for a code the station does not know
    int ObjAddress = 0;        // received: the first object's address; built: the object address
    int OriginatorAddress = 0;
    int ASDUAddress = 0;
    int nelem = 0;
    int BlockAddress = 0;    // sequence: address of the first element
    TDateTime BlockDate = 0; // sequence with one trailing time tag: that time
    // The connection a received ASDU came on; its tags are found by it. The
    // caller keeps the text alive while the ASDU is parsed. A receiver that
    // knows the connection's number in the tag list (FindConn, found once
    // per connection) gives it in TagConn instead.
    std::string_view IP_address2;
    int IP_port3 = 0;
    static constexpr int ConnByAddress = -2;
    int TagConn = ConnByAddress;
    int Nomer_sock = 0;

private:
    // An object of a received ASDU: its address and, for a value to store,
    // its tag (null when none has that address).
    struct TObject {
        int addr;
        TTagSignal* tag;
    };
    std::string RaspakInformObject(const TObjectPlan& plan, int ielem, TObjAction act, const TObject& object,
                                   const TRaspakContext& ctx);
    // The time of element ielem (0 when its type has none); a time tag marked
    // invalid gives the reception time and sets timeInvalid.
    TDateTime ElementTime(const TObjectPlan& plan, int ielem, const TRaspakContext& ctx, bool& timeInvalid) const;

    int FCode = 0;
    int FLength = 0; // bytes of the ASDU as received
    TAsduLayout FLayout;
    const TTypeIdentList* FTypes = nullptr;
    const std::uint8_t* FView = nullptr; // received: the bytes after the common address
    bool FBlockTimeInvalid = false;      // BlockDate's time tag came marked invalid
    bool FHeaderOk = false;
    bool FBuilt = false;
};

// The station-wide requests of a channel, all with VSQ 1, cause 6 and object
// address 0: general interrogation (QOI 20), counter interrogation (QCC 5, no
// freeze), clock synchronisation with the CP56Time2a of t.
TIEC_ASDUt BuildInterrogation(int commonAddress, const TAsduLayout& layout, const TTypeIdentList& types);
TIEC_ASDUt BuildCounterInterrogation(int commonAddress, const TAsduLayout& layout, const TTypeIdentList& types);
TIEC_ASDUt BuildClockSync(int commonAddress, TDateTime t, const TAsduLayout& layout, const TTypeIdentList& types);

// When asdu is a clock synchronisation activation, writes t as its time (just
// after the object address of layout) and returns true; the link stamps the
// command again at the moment it sends it.
bool StampClockSync(std::span<std::uint8_t> asdu, const TAsduLayout& layout, TDateTime t);

} // namespace gw
