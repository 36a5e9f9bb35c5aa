// What stat() says a path is, in spellings every compiler knows: MSVC has no
// S_ISREG/S_ISDIR, only the S_IFMT bits (or their _S_IF names under /Za).
#ifndef REGMEX_BRIDGE_FILEKIND_H
#define REGMEX_BRIDGE_FILEKIND_H

#include <sys/stat.h>
#include <sys/types.h>

namespace filekind {

#if defined(S_IFMT)
const unsigned kFormat = S_IFMT, kRegular = S_IFREG, kDirectory = S_IFDIR;
#else
const unsigned kFormat = _S_IFMT, kRegular = _S_IFREG, kDirectory = _S_IFDIR;
#endif

inline bool isRegular(unsigned mode) { return (mode & kFormat) == kRegular; }
inline bool isDirectory(unsigned mode) { return (mode & kFormat) == kDirectory; }

}  // namespace filekind

#endif
