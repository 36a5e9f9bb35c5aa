// Where element (r, c) of a host matrix or cell array of M rows lies in its
// column-major storage, in size_t so that large arrays cannot overflow.
#ifndef REGMEX_BRIDGE_HOSTINDEX_H
#define REGMEX_BRIDGE_HOSTINDEX_H

#include <cstddef>

namespace mexargs {

inline size_t hostIndex(int r, int c, int M) {
    return static_cast<size_t>(r) + static_cast<size_t>(c) * static_cast<size_t>(M);
}

}  // namespace mexargs

#endif
