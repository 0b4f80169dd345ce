#pragma once
// The local calendar time, as the system's time zone gives it (a table's
// "last update" date).

#include <ctime>

class CLocalTime {
public:
    static std::tm Now();
};
