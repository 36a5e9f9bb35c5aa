// The value a not-a-number matrix element reads as, wherever a plug-in reads
// an element of a host matrix (the bridge's element access and image
// conversion, driftfield's score map); infinities pass unchanged.
#ifndef REGMEX_BRIDGE_NANELEMENT_H
#define REGMEX_BRIDGE_NANELEMENT_H

constexpr double kNanElement = 0.1;

#endif
