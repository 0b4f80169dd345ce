#include "platform/LocalTime.h"

std::tm CLocalTime::Now()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_s(&local, &now);
    return local;
}
