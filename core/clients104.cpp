#include "core/clients104.h"

#include "core/kplist.h"
#include "core/signals.h"
#include "core/tags.h"

#include <algorithm>
#include <utility>

namespace gw {

TClients104::TClients104(int MaxClients) : FSize(std::max(MaxClients, 0)) {}

int TClients104::Count() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(ListClients.size());
}

std::shared_ptr<T104Client> TClients104::AddClient(const TLinkSocket& psock, std::span<const TPrmn> prmn104,
                                                   const TClientContext& ctx)
{
    std::lock_guard<std::mutex> guard(mutex_);
    const std::size_t n = ListClients.size();
    if (static_cast<int>(n) >= FSize || n >= prmn104.size())
        return nullptr;
    return ListClients.emplace_back(std::make_shared<T104Client>(psock, prmn104[n], ctx));
}

void TClients104::DelClient()
{
    std::lock_guard<std::mutex> guard(mutex_);
    ListClients.clear();
}

std::shared_ptr<T104Client> TClients104::Find(std::string_view IPAddress, int Port) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& c : ListClients)
        if (c->prm.Port == Port && c->prm.Host.Text() == IPAddress)
            return c;
    return nullptr;
}

std::shared_ptr<T104Client> TClients104::GetPcl(int ind) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    if (ind < 0 || ind >= static_cast<int>(ListClients.size()))
        return nullptr;
    return ListClients[static_cast<std::size_t>(ind)];
}

std::vector<std::shared_ptr<T104Client>> TClients104::Snapshot() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return ListClients;
}

void TClients104::Connecting(bool Save_Obmen, int /*nomer_socket*/)
{
    const auto clients = Snapshot();
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (clients[i]->Work())
            clients[i]->Connecting(Save_Obmen, static_cast<int>(i));
    }
}

TClient104Frm::TClient104Frm(std::shared_ptr<T104Client> Apcl, bool prAuto, TChannelModel model)
    : pcl_(std::move(Apcl)), model_(model)
{
    ChBoxAuto(prAuto);
}

void TClient104Frm::ChBoxAuto(bool check)
{
    pcl_->ClSFlag.Op(check ? TFlagOperation::FSet : TFlagOperation::FClear, TBitClient::bclb_AutoConnect);
}

void TClient104Frm::DoService(bool Save_Obmen, int nomer_socket)
{
    if (!pcl_->Work())
        return;
    pcl_->TuService1();
    pcl_->ConnectService(Save_Obmen, nomer_socket);
    NoteTransfer();
}

void TClient104Frm::OnReceive(const TSocket_temp& Socket, bool Save_Obmen, int nomer_socket)
{
    pcl_->Receive(Socket, Save_Obmen, nomer_socket);
    // A chunk may hold more frames than the receive queue: cut on until all are parsed.
    do
        pcl_->RaspakReceiveBufferAPDU(Save_Obmen, nomer_socket);
    while (pcl_->CutFrames(Save_Obmen, nomer_socket));
    // The frames just stored are the returned station's: no invalidation may follow them.
    NoteTransfer();
    if (!pcl_->Work())
        return;
    pcl_->TuService1();
    pcl_->ConnectServiceAt(pcl_->ReceivedMs(), Save_Obmen, nomer_socket);
}

void TClient104Frm::OnConnect()
{
    // A station may be back before any pass took its disconnect.
    if (pcl_->Yes(TBit104Subj::bsb_CallDoDisconnect))
        pcl_->DoOnDisconnect();
    // A new connection clears the link's flags, a pending invalidation with
    // them: the values of the lost connection turn invalid now, before the
    // new one can store any. Only a station that came back through its reserve
    // address within the grace keeps them, until the grace ends without a
    // data transfer.
    if (pcl_->Yes(TBit104Subj::bsb_ClearValid) || invalidAfterGrace_) {
        invalidAfterGrace_ = InReserveGrace();
        if (!invalidAfterGrace_)
            InvalidateStations(false, pcl_->prm.Host.Text(), pcl_->prm.Port);
    }
    pcl_->DoOnConnect();
}

bool TClient104Frm::InReserveGrace() const
{
    return pcl_->Is_Rezerv_IP && lost_ && pcl_->MonotonicMs() - lostMs_ < ReserveGraceMs;
}

void TClient104Frm::NoteTransfer()
{
    if (!DataTransfer())
        return;
    lost_ = false;
    invalidAfterGrace_ = false;
}

void TClient104Frm::OnDisconnect()
{
    if (!std::exchange(lost_, true))
        lostMs_ = pcl_->MonotonicMs();
    pcl_->Set(TBit104Subj::bsb_CallDoDisconnect);
    // Before the channel empties its mailbox, so that the link learns what it throws away.
    pcl_->SettleTuFrame();
}

void TClient104Frm::CheckValid1(bool prAll)
{
    // Invalidating under the channel's serialisation (the receive path's
    // order: link, then tags) keeps a reconnect's fresh values from being
    // marked invalid after it.
    if (InReserveGrace())
        return;
    if (!pcl_->Yes(TBit104Subj::bsb_ClearValid) && !invalidAfterGrace_)
        return;
    pcl_->Clear(TBit104Subj::bsb_ClearValid);
    invalidAfterGrace_ = false;
    InvalidateStations(prAll, pcl_->prm.Host.Text(), pcl_->prm.Port);
}

bool TClient104Frm::DataTransfer() const
{
    return pcl_->Connected() && pcl_->StartDT() && !pcl_->Yes(TBit104Subj::bsb_CallDoDisconnect)
           && !pcl_->Yes(TBit104Subj::bsb_Dropping);
}

void TClient104Frm::InvalidateStations(bool prAll, const std::string& host, int port)
{
    if (!model_.kps || !model_.tags || !model_.recs || !model_.stationTags)
        return;
    auto lock = model_.tags->Lock();
    for (int s = 0; s < model_.kps->Count(); ++s) {
        const PKpEthernet kp = model_.kps->GetIndKP(s);
        if (prAll || (kp->IPAddress == host && kp->Port == port))
            InvalidateTags(kp->ID);
    }
    invalidations_ += 1;
}

// Under the tag list's lock, which every received ASDU takes: only the
// station's own run of tags, not the whole list.
void TClient104Frm::InvalidateTags(int kpId)
{
    const auto& ranges = *model_.stationTags;
    const int row = StationIndex(kpId);
    if (row < 0 || row >= static_cast<int>(ranges.size()))
        return;
    const auto [first, end] = ranges[static_cast<std::size_t>(row)];
    for (int t = first; t < end; ++t) {
        const PTagSignal tag = model_.tags->GetTag(t);
        const TArmRec* rec = tag ? model_.recs->GetRec(tag->IndArm()) : nullptr;
        if (rec && rec->sstID() == kpId)
            tag->SetInvalid();
    }
}

} // namespace gw
