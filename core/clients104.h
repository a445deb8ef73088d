#pragma once
// The table of all link objects of the running configuration (one per
// station, index = channel number) and the per-channel wrapper through which
// the service tick and the socket side drive a client.
//
// Clients are shared: a socket thread or the command entry that found a
// client keeps it alive, so the table frees a client only once nothing can
// call it any more.

#include "core/capacities.h"
#include "core/client104.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace gw {

class TKpList;
class TArmSignals;

class TClients104 {
public:
    static constexpr int DefaultSize = MaxChannels;

    explicit TClients104(int MaxClients = DefaultSize);

    int Count() const;
    // Client number Count() parameterised by prmn104[Count()]; nullptr when
    // the table or the parameter array is full.
    std::shared_ptr<T104Client> AddClient(const TLinkSocket& psock, std::span<const TPrmn> prmn104,
                                          const TClientContext& ctx);
    // Empties the table; clients still held elsewhere live on until released.
    void DelClient();
    // The first client whose parameters carry exactly this address and port.
    std::shared_ptr<T104Client> Find(std::string_view IPAddress, int Port) const;
    std::shared_ptr<T104Client> GetPcl(int ind) const;
    // The connection handling of every working client; the caller serialises
    // it with every other call into the clients.
    void Connecting(bool Save_Obmen, int nomer_socket);

private:
    std::vector<std::shared_ptr<T104Client>> Snapshot() const;

    mutable std::mutex mutex_;
    int FSize;
    std::vector<std::shared_ptr<T104Client>> ListClients;
};

// The station model whose values a channel invalidates after a disconnect.
// The tag list is built station by station: the tags of the station in row i
// of the station table (ID StationId(i)) are [(*stationTags)[i].first,
// (*stationTags)[i].second), so an invalidation walks only those.
struct TChannelModel {
    TKpList* kps = nullptr;
    TTagSignalList* tags = nullptr;
    const TArmSignals* recs = nullptr;
    const std::vector<std::pair<int, int>>* stationTags = nullptr;
};

class TClient104Frm {
public:
    // A channel with a reserve address gets this long to come back.
    static constexpr std::int64_t ReserveGraceMs = 30000;

    TClient104Frm(std::shared_ptr<T104Client> Apcl, bool prAuto, TChannelModel model);

    void ChBoxAuto(bool check);
    // TuService1 and ConnectService of a working client.
    void DoService(bool Save_Obmen, int nomer_socket);
    // Received bytes: cut, parse, then a service pass.
    void OnReceive(const TSocket_temp& Socket, bool Save_Obmen, int nomer_socket);
    // The socket side reports a connection up or down.
    void OnConnect();
    void OnDisconnect();
    // Marks the tags of the client's station invalid once per disconnect;
    // prAll does so for every station.
    void CheckValid1(bool prAll);
    // How often this channel has marked its station's tags invalid: a reader
    // that polls can tell an invalidation whose tags were stored anew since.
    std::uint32_t Invalidations() const { return invalidations_.load(); }
    // The connection is up and its data transfer confirmed (STARTDT con, or
    // the station's I-frames), and no drop is pending.
    bool DataTransfer() const;

    const std::shared_ptr<T104Client>& pcl() const { return pcl_; }

private:
    // A channel with a reserve address lost its station less than
    // ReserveGraceMs ago.
    bool InReserveGrace() const;
    // The data transfer runs: the station is back, the loss is over.
    void NoteTransfer();
    void InvalidateStations(bool prAll, const std::string& host, int port);
    void InvalidateTags(int kpId);

    std::shared_ptr<T104Client> pcl_;
    TChannelModel model_;
    std::atomic<std::uint32_t> invalidations_{0};
    // The station is lost from the first disconnect since its data transfer
    // last ran: a station that takes connections and never starts the
    // transfer stays lost, and its grace ends.
    bool lost_ = false;
    std::int64_t lostMs_ = 0;
    // A reconnect within the grace clears the link's flags, the pending
    // invalidation among them: kept here until the transfer runs again or the
    // grace ends.
    bool invalidAfterGrace_ = false;
};

} // namespace gw
