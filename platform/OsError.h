#pragma once
// The system's words for an errno value, as the user reads them after
// "PATH: ". Linux: strerror. Windows: FormatMessageW of the system's own
// code for it (the file layer turns those codes into errno values on the
// way in, FromSystem), in UTF-8 without the trailing line end.

#include <string>

class COsError {
public:
    static std::string Text(int nError);
    // Windows: the errno value for a GetLastError() code (codes without one
    // are kept, offset, so that Text still finds their words). Linux: the
    // value itself.
    static int FromSystem(unsigned long nSystemError);
};
