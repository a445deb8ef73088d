#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace kpsim {
namespace {

bool ToLong(const std::string& text, long low, long high, long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v < low || v > high)
        return false;
    out = v;
    return true;
}

// "[ADDR:]PORT" for --listen, "HOST:PORT" for --connect.
bool ToEndpoint(const std::string& text, bool hostRequired, std::string& host, int& port)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos && hostRequired)
        return false;
    long p = 0;
    if (!ToLong(colon == std::string::npos ? text : text.substr(colon + 1), 0, 65535, p))
        return false;
    if (colon != std::string::npos) {
        host = text.substr(0, colon);
        if (host.empty())
            return false;
    }
    port = static_cast<int>(p);
    return true;
}

bool ToRange(const std::string& text, PointKind kind, PointRange& range)
{
    const auto colon = text.find(':');
    long first = 0, count = 1;
    if (!ToLong(text.substr(0, colon), 0, 0xFFFFFF, first))
        return false;
    if (colon != std::string::npos && !ToLong(text.substr(colon + 1), 1, 65535, count))
        return false;
    range = PointRange{kind, static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(count)};
    return true;
}

using Setter = std::function<bool(StationConfig&, const std::string&)>;

Setter IntField(int StationConfig::*field, long low, long high)
{
    return [=](StationConfig& s, const std::string& v) {
        long n = 0;
        if (!ToLong(v, low, high, n))
            return false;
        s.*field = static_cast<int>(n);
        return true;
    };
}

Setter WidthField(int Widths::*field, long low, long high)
{
    return [=](StationConfig& s, const std::string& v) {
        long n = 0;
        if (!ToLong(v, low, high, n))
            return false;
        s.widths.*field = static_cast<int>(n);
        return true;
    };
}

Setter UnsignedField(std::uint32_t StationConfig::*field, long high)
{
    return [=](StationConfig& s, const std::string& v) {
        long n = 0;
        if (!ToLong(v, 0, high, n))
            return false;
        s.*field = static_cast<std::uint32_t>(n);
        return true;
    };
}

struct ValueOption {
    const char* name;
    Setter set;
};

const std::vector<ValueOption>& ValueOptions()
{
    static const std::vector<ValueOption> options{
        {"--ca", UnsignedField(&StationConfig::ca, 0xFFFF)},
        {"--cot-size", WidthField(&Widths::cot, 1, 2)},
        {"--ca-size", WidthField(&Widths::ca, 1, 2)},
        {"--ioa-size", WidthField(&Widths::ioa, 1, 3)},
        {"--k", IntField(&StationConfig::k, 1, 32767)},
        {"--w", IntField(&StationConfig::w, 1, 32767)},
        {"--t1", IntField(&StationConfig::t1Ms, 1, 255000)},
        {"--t2", IntField(&StationConfig::t2Ms, 1, 255000)},
        {"--reconnect", IntField(&StationConfig::reconnectMs, 10, 3600000)},
        {"--cmd-offset", UnsignedField(&StationConfig::cmdOffset, 0xFFFFFF)},
        {"--rate", [](StationConfig& s, const std::string& text) { return ParseRate(text, s.rate); }},
        {"--objects", IntField(&StationConfig::maxObjects, 1, 255)},
    };
    return options;
}

struct FlagOption {
    const char* name;
    bool StationConfig::*field;
};

constexpr FlagOption kFlagOptions[] = {
    {"--time", &StationConfig::timeTags},
    {"--started", &StationConfig::startedAtConnect},
    {"--silent", &StationConfig::silent},
    {"--ignore-clock-sync", &StationConfig::ignoreClockSync},
};

std::string ReadConfigFile(const std::string& path, std::vector<std::string>& tokens)
{
    std::ifstream in(path);
    if (!in)
        return "cannot read " + path;
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find('#');
        std::istringstream words(line.substr(0, hash));
        std::string word;
        while (words >> word)
            tokens.push_back(word);
    }
    return "";
}

std::string CheckStation(const StationConfig& s, std::size_t number)
{
    const std::string where = "station " + std::to_string(number) + ": ";
    if (s.mode == StationConfig::Mode::Connect && s.port == 0)
        return where + "--connect needs a port above 0";
    if (s.t2Ms >= s.t1Ms)
        return where + "t2 must be below t1";
    if (s.widths.ca == 1 && s.ca > 0xFF)
        return where + "common address does not fit one byte";
    SignalSet probe;
    const std::string bad = probe.Build(s.ranges, s.widths.ioa);
    return bad.empty() ? "" : where + bad;
}

} // namespace

bool ParseRate(const std::string& text, double& rate)
{
    char* end = nullptr;
    const double r = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(r >= 0 && r <= 1e6))
        return false;
    rate = r;
    return true;
}

std::string ParseCommandLine(const std::vector<std::string>& args, Options& options)
{
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--config") {
            if (i + 1 >= args.size())
                return "--config needs a file name";
            const std::string bad = ReadConfigFile(args[++i], tokens);
            if (!bad.empty())
                return bad;
        } else {
            tokens.push_back(args[i]);
        }
    }

    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& name = tokens[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name == "--exit-on-eof") {
            options.exitOnEof = true;
            continue;
        }
        if (name == "--listen" || name == "--connect") {
            if (i + 1 >= tokens.size())
                return name + " needs an address";
            StationConfig s;
            s.mode = name == "--listen" ? StationConfig::Mode::Listen : StationConfig::Mode::Connect;
            if (!ToEndpoint(tokens[++i], s.mode == StationConfig::Mode::Connect, s.host, s.port))
                return "bad address for " + name + ": " + tokens[i];
            options.stations.push_back(s);
            continue;
        }
        if (options.stations.empty())
            return name + ": station options follow --listen or --connect";
        StationConfig& station = options.stations.back();

        bool known = false;
        for (const FlagOption& f : kFlagOptions)
            if (name == f.name) {
                station.*f.field = true;
                known = true;
            }
        for (const KindInfo& kind : Kinds())
            if (name == std::string("--") + kind.option) {
                PointRange range;
                if (i + 1 >= tokens.size() || !ToRange(tokens[i + 1], kind.kind, range))
                    return "bad value for " + name;
                station.ranges.push_back(range);
                ++i;
                known = true;
            }
        for (const ValueOption& o : ValueOptions())
            if (name == o.name) {
                if (i + 1 >= tokens.size())
                    return name + " needs a value";
                if (!o.set(station, tokens[++i]))
                    return "bad value for " + name + ": " + tokens[i];
                known = true;
            }
        if (!known)
            return "unknown option " + name;
    }

    if (options.help)
        return "";
    if (options.stations.empty())
        return "no station: give --listen or --connect";
    for (std::size_t n = 0; n < options.stations.size(); ++n) {
        const std::string bad = CheckStation(options.stations[n], n + 1);
        if (!bad.empty())
            return bad;
    }
    return "";
}

const char* HelpText()
{
    return R"(kpsim: a small IEC 60870-5-104 controlled station for tests and examples.

Usage: kpsim [--exit-on-eof] [--config FILE] STATION...
  STATION is --listen [ADDR:]PORT or --connect HOST:PORT followed by its options.
  Stations are numbered 1, 2, ... in the order given.

  --listen [ADDR:]PORT  wait for the controlling station (default ADDR 127.0.0.1;
                        PORT 0 takes a free port, printed in the "listening" line)
  --connect HOST:PORT   connect to a controlling station that listens
  --reconnect MS        pause between connection attempts (1000)
  --ca N                common address (1); a request to the broadcast address
                        is answered too
  --sp IOA[:COUNT]      single points           (M_SP_NA_1 / M_SP_TB_1)
  --dp IOA[:COUNT]      double points           (M_DP_NA_1 / M_DP_TB_1)
  --me-norm IOA[:COUNT] normalized values       (M_ME_NA_1 / M_ME_TD_1)
  --me-scaled IOA[:COUNT] scaled values         (M_ME_NB_1 / M_ME_TE_1)
  --me-float IOA[:COUNT] short floating values  (M_ME_NC_1 / M_ME_TF_1)
  --it IOA[:COUNT]      integrated totals       (M_IT_NA_1 / M_IT_TB_1)
  --bo IOA[:COUNT]      32-bit bitstrings       (M_BO_NA_1 / M_BO_TB_1)
  --bits8 IOA[:COUNT]   eight points in a byte  (type 136, always timed)
  --rate N              spontaneous changes per second over all points (0)
  --time                spontaneous changes carry CP56Time2a
  --objects N           at most N objects in one spontaneous ASDU (as many as fit)
  --cot-size 1|2  --ca-size 1|2  --ioa-size 1..3   field widths (2, 2, 3)
  --k N --w N --t1 MS --t2 MS   window and timers (12, 8, 15000, 10000)
  --started             data transfer is on from the connect, without STARTDT
  --cmd-offset N        a command to IOA X acts on the point at X - N (0)
  --silent              start silent (see "silent" below)
  --ignore-clock-sync   a clock synchronisation gets no act con (logged with
                        reply=none)
  --exit-on-eof         end when standard input ends
  --config FILE         more options from FILE; '#' starts a comment

Start values: single point i (from 0) is i mod 2, double point 1 + i mod 2,
normalized 0.125 * (i mod 8), scaled 100 * i, float 1.5 * i, counter 1000 * i,
bitstring 0x01010101 * (i mod 256), eight points i mod 256.
A spontaneous change steps the next point round-robin: single points toggle,
double points swap 1 and 2, normalized +0.125, scaled +1, float +0.5.

Answers: STARTDT, STOPDT, TESTFR; S-frame after w I-frames or t2; k observed;
C_IC_NA_1 (act con, cause 20, act term), C_CI_NA_1 (act con, cause 37..41,
act term), C_CS_NA_1 (act con), C_SC_NA_1/C_DC_NA_1/C_SC_TA_1/C_DC_TA_1 on a
single/double point: act con for select and execute; an execute also sends
the changed point (cause 3) and act term. Unknown type, cause, common or
object address: the request mirrored with cause 44/45/46/47 and P/N=1;
a double command with state 0 or 3, or any command while "refuse" is on:
negative act con (cause 7, P/N=1).

Standard output, one line per event:
  listening station=S address=A port=P
  connected station=S peer=A:P
  disconnected station=S reason=R   (R: peer-closed, peer-reset, bad-frame,
      bad-sequence, bad-ack, t1, write-failed, close, reset, error, stop)
  startdt station=S   stopdt station=S   testfr station=S
  stopdt-con station=S   (the answer to this side's "stopdt")
  repeated station=S ns=N   (an I-frame sent again by "repeat")
  bad-nr station=S ns=N nr=R   (the I-frame that "bad-nr" asked for)
  interrogation station=S ca=C qoi=Q
  counter-interrogation station=S ca=C qcc=Q
  clock-sync station=S ca=C time=YYYY-MM-DDTHH:MM:SS.mmm
  command station=S type=T ca=C ioa=X value=V select=0|1 qu=Q reply=R
      (R: con, negative, unknown-ioa)
  refused station=S type=T reply=unknown-type|unknown-cause|unknown-ca
  refused-connection station=S peer=A:P   (a second connection, closed at once)
  stats station=S values=V asdus=A dropped=D   (on "stats" and at the end:
      spontaneous changes queued, the ASDUs they went in, changes skipped
      because 256 ASDUs were already waiting)
  done station=S action=A    error TEXT

Standard input, one control line each (S = station number, 0 = all):
  close S     close the connection (FIN)
  reset S     abort the connection (RST, SO_LINGER 0)
  silent S    stop sending and answering; read and drop what arrives
  talk S      end "silent"
  garbage S   send bytes that are no frame
  set S IOA VALUE [FLAG...] [time=YYYY-MM-DDTHH:MM:SS.mmm]
              set a point and send it spontaneously; FLAGs iv, nt, sb, bl
              (ov for measured values and bitstrings; iv, ca, cy for
              totals; none for eight points) stay with the point until the
              next "set"; a time sends it time-tagged
              more words: seq=N (totals, 0..31, stays), time-iv (the time
              tag with its IV bit; the time of now when none is given)
  rate S N    spontaneous changes per second
  refuse S on|off   refuse every command with a negative act con
  repeat S N  send again, with its old N(S), the I-frame sent N frames ago
              (1: the last one; up to 64)
  bad-nr S    the next I-frame (a "set", say) carries an N(R) for frames
              the gateway never sent: half the sequence space ahead
  stopdt S    send STOPDT act and stop sending until a STARTDT act
  eoi S       send end of initialisation (M_EI_NA_1, cause 4, COI 0)
  stats S     print the station's "stats" line
  quit        end the program
)";
}

} // namespace kpsim
