#include "posting/post_client.h"

#include "platform/http.h"
#include "posting/post_payload.h"

bool PostStationUpdate(const StationSnapshot& snapshot, const std::wstring& baseUrl,
                       const std::wstring& dashboardId, const std::wstring& apiKey) {
    if (baseUrl.empty() || dashboardId.empty() || apiKey.empty())
        return false;
    const int status =
        HttpPostForm(BuildStationUpdateUrl(baseUrl, dashboardId), BuildPostBody(snapshot, apiKey));
    // A rejected key or unknown dashboard answers 4xx: that post did not get through.
    return status > 0 && status < 400;
}
