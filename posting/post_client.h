#pragma once
// One POST of the station's status to one dashboard.
#include <string>

#include "core/station_snapshot.h"

// True when the dashboard answered with a 2xx status. 307 and 308 are followed with the same
// request (at most five hops, never from https to http). False at once, without touching the
// network, when the URL, ID or key is empty; false too for no connection, a time-out, a TLS
// failure, a reply that is no HTTP, any other redirect, or a status of 400 and above (the
// dashboard refused it).
bool PostStationUpdate(const StationSnapshot& snapshot, const std::wstring& baseUrl,
                       const std::wstring& dashboardId, const std::wstring& apiKey);
