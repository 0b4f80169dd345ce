#include "platform/LocalTime.h"

std::tm CLocalTime::Now()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local;
}
