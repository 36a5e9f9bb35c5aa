// Turns fuzz bytes into MEX arguments: classes, shapes and values that a
// MATLAB or Octave caller can pass, hostile ones included.
#ifndef REGMEX_FUZZ_FUZZARGS_H
#define REGMEX_FUZZ_FUZZARGS_H

#include "MexArgs.h"
#include "MexHost.h"
#include "Resources.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fuzzargs {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    bool empty() const { return n_ == 0; }
    uint8_t byte() {
        if (!n_) return 0;
        --n_;
        return *p_++;
    }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return v;
    }
    // An integer in [lo, hi].
    int range(int lo, int hi) { return lo + static_cast<int>(u32() % static_cast<uint32_t>(hi - lo + 1)); }
    bool flag() { return byte() & 1; }
    // Values a script can produce, weighted towards the awkward ones.
    double value() {
        switch (byte() % 16) {
        case 0: return std::numeric_limits<double>::quiet_NaN();
        case 1: return std::numeric_limits<double>::infinity();
        case 2: return -std::numeric_limits<double>::infinity();
        case 3: return 1e300;
        case 4: return -1e300;
        case 5: return -1;
        case 6: return 0;
        case 7: return 1;
        case 8: return 2147483648.0;
        case 9: return -0.5;
        case 10: return range(-3, 3) + 0.5;
        case 11: return 1e-300;
        default: return static_cast<double>(static_cast<int32_t>(u32())) / 65536.0;
        }
    }
    // A value in [lo, hi], sometimes fractional.
    double between(double lo, double hi) {
        const double t = (u32() % 100001) / 100000.0;
        double v = lo + t * (hi - lo);
        return flag() ? std::floor(v) : v;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

// An arbitrary argument: any class the host models, empty to small shapes.
inline mexhost::ArrayPtr anyArray(Bytes& in) {
    static const mxClassID classes[] = {mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS, mxUINT8_CLASS,
                                        mxINT16_CLASS, mxUINT16_CLASS, mxINT32_CLASS, mxUINT32_CLASS,
                                        mxINT64_CLASS, mxUINT64_CLASS, mxLOGICAL_CLASS};
    const int kind = in.range(0, 15);
    std::vector<size_t> dims = {static_cast<size_t>(in.range(0, 6)), static_cast<size_t>(in.range(0, 6))};
    if (in.byte() % 8 == 0) dims.push_back(static_cast<size_t>(in.range(0, 3)));
    size_t count = 1;
    for (size_t d : dims) count *= d;
    if (kind == 0) return mexhost::text(std::string(static_cast<size_t>(in.range(0, 8)), 'a'));
    if (kind == 1) {
        mexhost::ArrayPtr c = mexhost::cells(dims[0], dims[1]);
        for (size_t i = 0; i < dims[0] * dims[1]; ++i)
            if (in.flag()) {
                mexhost::ArrayPtr v = anyArray(in);
                mexhost::setCell(c.get(), i % (dims[0] ? dims[0] : 1), dims[0] ? i / dims[0] : 0, v.get());
            }
        return c;
    }
    if (kind == 2) return mexhost::complexMatrix(dims[0], dims[1]);
    if (kind == 3) return mexhost::sparseMatrix(dims[0], dims[1]);
    std::vector<double> v(count);
    for (auto& x : v) x = in.value();
    const mxClassID cls = kind < 9 ? mxDOUBLE_CLASS : classes[in.range(0, 10)];
    return mexhost::numeric(cls, dims, v);
}

// A real scalar for an option: mostly a plausible value in [lo, hi] as a
// double, sometimes a hostile value, another numeric class, a non-scalar or
// any array at all.  Exhausted bytes give the plausible lo.
inline mexhost::ArrayPtr optionScalar(Bytes& in, double lo, double hi) {
    static const mxClassID classes[] = {mxSINGLE_CLASS, mxINT8_CLASS, mxUINT8_CLASS, mxINT32_CLASS,
                                        mxUINT64_CLASS, mxLOGICAL_CLASS};
    switch (in.byte() % 32) {
    case 31: return anyArray(in);
    case 30: return mexhost::scalar(in.value());
    case 29: return mexhost::numeric(classes[in.range(0, 5)], {1, 1}, {in.between(lo, hi)});
    case 28: return mexhost::matrix(1, static_cast<size_t>(in.range(0, 2)) * 2, {in.between(lo, hi), 1});
    default: return mexhost::scalar(in.between(lo, hi));
    }
}

// A char array of the given shape holding the given characters (which may
// include NUL or characters beyond 8 bits, unlike mexhost::text).
inline mexhost::ArrayPtr charArray(size_t rows, size_t cols, const std::vector<uint16_t>& chars) {
    const mwSize dims[2] = {static_cast<mwSize>(rows), static_cast<mwSize>(cols)};
    mexhost::ArrayPtr a(mxCreateCharArray(2, dims));
    mxChar* p = static_cast<mxChar*>(mxGetData(a.get()));
    for (size_t i = 0; i < rows * cols && i < chars.size(); ++i) p[i] = static_cast<mxChar>(chars[i]);
    return a;
}

// Element i of a real numeric or logical array as a double (0 otherwise).
inline double elementAsDouble(const mxArray* a, size_t i) { return mexargs::elementValue(a, i); }

// With REGMEX_FUZZ_DUMP set, prints each argument's class, size and first
// values (cells one level deep), to read what a reproducer passes.
inline void dumpArray(const mxArray* a, const char* indent) {
    if (!a) {
        std::fprintf(stderr, "%s(null)\n", indent);
        return;
    }
    std::fprintf(stderr, "%s%s%s%s [", indent, mxGetClassName(a), mxIsComplex(a) ? " complex" : "",
                 mxIsSparse(a) ? " sparse" : "");
    const size_t nd = mxGetNumberOfDimensions(a);
    for (size_t d = 0; d < nd; ++d)
        std::fprintf(stderr, "%s%zu", d ? "x" : "", static_cast<size_t>(mxGetDimensions(a)[d]));
    std::fprintf(stderr, "]");
    const size_t n = mxGetNumberOfElements(a);
    if (mxIsCell(a)) {
        std::fprintf(stderr, "\n");
        const std::string deeper = std::string(indent) + "    ";
        for (size_t i = 0; i < n && i < 64; ++i) dumpArray(mxGetCell(a, i), deeper.c_str());
        return;
    }
    if (mxIsChar(a)) {
        std::vector<char> text(n + 1);
        mxGetString(a, text.data(), n + 1);
        std::fprintf(stderr, " '%s'\n", text.data());
        return;
    }
    if (!mxIsComplex(a) && !mxIsSparse(a) && (mxIsNumeric(a) || mxIsLogical(a)))
        for (size_t i = 0; i < n && i < 16; ++i) std::fprintf(stderr, " %.17g", elementAsDouble(a, i));
    std::fprintf(stderr, "%s\n", n > 16 ? " ..." : "");
}

inline void dumpArgs(int nlhs, const std::vector<const mxArray*>& args) {
    if (!std::getenv("REGMEX_FUZZ_DUMP")) return;
    std::fprintf(stderr, "call with nlhs=%d, %zu arguments:\n", nlhs, args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        std::fprintf(stderr, "  %zu:", i + 1);
        dumpArray(args[i], " ");
    }
}

// With REGMEX_FUZZ_TALLY set, counts each outcome (result or error
// identifier) and prints the counts at exit, to see how deep runs get.
class Tally {
public:
    static void note(const mexhost::CallResult& r) {
        static Tally t;
        if (t.on_) ++t.counts_[r.ok ? std::string("(result)") : r.errorId];
    }
    ~Tally() {
        for (const auto& c : counts_) std::fprintf(stderr, "tally %10zu %s\n", c.second, c.first.c_str());
    }

private:
    Tally() : on_(std::getenv("REGMEX_FUZZ_TALLY") != nullptr) {}
    bool on_;
    std::map<std::string, size_t> counts_;
};

// What the plug-in holds outside the host: its images and malloc blocks.
inline size_t held() { return static_cast<size_t>(resources::liveImages() + resources::liveBlocks()); }

// The identifiers the plug-in's help file lists (REGMEX_HELP_DIR/<plugin>.m).
inline const std::set<std::string>& documentedIds(const std::string& plugin) {
    static std::map<std::string, std::set<std::string>> ids;
    std::set<std::string>& known = ids[plugin];
    if (known.empty()) {
        std::ifstream help(std::string(REGMEX_HELP_DIR) + "/" + plugin + ".m");
        const std::string text((std::istreambuf_iterator<char>(help)), std::istreambuf_iterator<char>());
        const std::regex id(plugin + ":[A-Za-z]+");
        for (std::sregex_iterator m(text.begin(), text.end(), id), end; m != end; ++m) known.insert(m->str());
        if (known.empty()) {
            std::fprintf(stderr, "no identifiers in the help file of %s\n", plugin.c_str());
            std::abort();
        }
    }
    return known;
}

// Fails loudly unless the call returned results or raised one of the
// identifiers its help file lists, and left nothing behind either way:
// no host memory, and no image or malloc block, neither after the call nor
// at any host call that could have ended it.
inline void expectClean(const mexhost::CallResult& r, const char* plugin) {
    Tally::note(r);
    bool good = !r.escaped && r.leakFree() && (r.ok || documentedIds(plugin).count(r.errorId) == 1);
    if (!good) {
        std::fprintf(stderr,
                     "bad call: ok=%d escaped=%d id='%s' message='%s' leaked blocks=%zu arrays=%zu; held at a host "
                     "call %zu, after it %zu\n",
                     r.ok, r.escaped, r.errorId.c_str(), r.errorMessage.c_str(), r.leakedBlocks, r.leakedArrays,
                     r.heldAtHostCall, r.leakedResources);
        std::abort();
    }
}

}  // namespace fuzzargs

#endif
