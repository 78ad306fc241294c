#include "platform/clock.h"

#include <windows.h>

int LocalSecondOfDay() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return (local.wHour * 60 + local.wMinute) * 60 + local.wSecond;
}
