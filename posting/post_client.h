#pragma once
// One POST of the station's status to one dashboard.
#include <atomic>
#include <chrono>
#include <string>

#include "core/post_outcome.h"
#include "core/station_snapshot.h"

// One post, every hop of it, ends within about this long.
constexpr auto kPostDeadline = std::chrono::seconds(10);

// Delivered when the dashboard answered with a 2xx status. 307 and 308 are followed with the same
// request (at most five hops) where MayFollowRedirect allows it; anything else is a failure, with
// its reason. NotSent, without touching the network, when the URL, ID or key is empty or the URL
// is not http(s). While `keepGoing` (when given) turns false the post gives up; its outcome then
// means nothing. The outcome's time is left for the caller.
PostOutcome PostStationUpdate(const StationSnapshot& snapshot, const std::wstring& baseUrl,
                              const std::wstring& dashboardId, const std::wstring& apiKey,
                              const std::atomic<bool>* keepGoing = nullptr);

// Whether a post to `from` may be sent on to `to`: only to the same scheme, host and port, or from
// http to https on the same host with both default ports. The form carries the API key, so it
// never leaves for another origin.
bool MayFollowRedirect(const std::wstring& from, const std::wstring& to);
