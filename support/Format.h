#pragma once
// The one printf-style formatter of the program. The format is always a literal of the program's
// own (the compiler checks it against the arguments); a text from a drive, a driver or the package
// is passed as an argument ("%s"), never as the format.
#include <string>

#if defined(__GNUC__)
#define KESTREL_PRINTF(fmtIndex, firstArg) __attribute__((format(gnu_printf, fmtIndex, firstArg)))
#else
#define KESTREL_PRINTF(fmtIndex, firstArg)
#endif

namespace kestrel {

std::string Fmt(const char* format, ...) KESTREL_PRINTF(1, 2);

}  // namespace kestrel
