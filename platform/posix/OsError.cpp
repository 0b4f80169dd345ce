#include "platform/OsError.h"

#include <cstring>

std::string COsError::Text(int nError)
{
    return std::strerror(nError);
}

int COsError::FromSystem(unsigned long nSystemError)
{
    return static_cast<int>(nSystemError);
}
