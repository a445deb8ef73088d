#pragma once
// Takes the snapshot the pages show from the service's tables: the station
// rows (the current address of each under its channel lock), then every tag
// with its reading under the tag list's lock, so a page shows one
// consistent state and the service's locks are held only while copying.

#include "web/webpages.h"

#include <functional>
#include <optional>

namespace gw {

class TServiceContext;
class TTagSignalList;
class TArmSignals;

// The link parameters held by the link object of a channel, none when the
// channel has no link object yet. Called with no lock held.
using TLinkPrmnOf = std::function<std::optional<TPrmn>(int channel)>;

// The same read from the channel slots of ctx.
TLinkPrmnOf LinkPrmnOf(TServiceContext& ctx);

// tags and arms may be null (no service started): the snapshot has no tags.
TWebSnapshot TakeWebSnapshot(TServiceContext& ctx, TTagSignalList* tags, const TArmSignals* arms,
                             const TLinkPrmnOf& linkPrmnOf);

} // namespace gw
