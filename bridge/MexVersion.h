// The API version a MATLAB macOS MEX bundle reports to its host.  Included
// once, by the entry file of each plug-in that reports it (tmatch,
// gridcorners, warpmatch; driftfield, a Windows DLL, reports none).
#ifndef REGMEX_BRIDGE_MEXVERSION_H
#define REGMEX_BRIDGE_MEXVERSION_H

static const char version[] = "MATLAB R14 native";

extern "C"
#ifdef __GNUC__
    __attribute__((visibility("default")))
#endif
    const char* mexVersion() {
    return version;
}

#endif
