#include "platform/clock.h"

#include <ctime>

int LocalSecondOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return 0;
    return (local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec;
}
