// Shared argument checks: what they accept and how they describe a refusal.
#include "MexArgs.h"
#include "MexHost.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>

namespace {

// Runs one check inside a host call; the check reads its argument from prhs[0].
mexhost::CallResult check(void (*fn)(int, mxArray**, int, const mxArray**), const mxArray* arg) {
    return mexhost::callEntry(fn, "argcheck", 0, {arg});
}

constexpr mexargs::Arg kLimit{3, "demo", mexargs::required("limit", "scalar")};
constexpr mexargs::Arg kPicture{0, "demo", mexargs::required("picture", "picture")};

void scalarCheck(int, mxArray**, int, const mxArray** prhs) { mexargs::realScalar(kLimit, prhs[0]); }

void imageCheck(int, mxArray**, int, const mxArray** prhs) { mexargs::requireImage2D(kPicture, prhs[0]); }

// Takes two or three arguments and gives one result.
void countCheck(int nlhs, mxArray** plhs, int nrhs, const mxArray**) {
    mexargs::checkCounts("demo", nrhs, 2, 3, nlhs, 1, "y = demo(a, b, c)");
    plhs[0] = mxCreateDoubleScalar(0);
}

// A table of every kind: "b" is refused as demo:bValue, its declared
// identifier, so that a test sees identifiers do not follow display names.
constexpr const char* kMethods[] = {"nearest", "linear", "cubic", nullptr};
enum DemoInput { kA, kB, kKind, kScale, kMethod, kDemoCount };
constexpr mexargs::ArgTable<kDemoCount> kDemo{
    "demo", "y = demo(a, b, kind, 'Scale', s, 'Method', m)", 1,
    {mexargs::required("a", "a"), mexargs::optional("b", "bValue", 7),
     mexargs::optional("kind", "kind", 0).among(kMethods), mexargs::option("Scale", "scale", 1),
     mexargs::option("Method", "method", 1).among(kMethods)}};
static_assert(kDemo.wellFormed(), "the demo table");
constexpr mexargs::ArgTable<2> kOptionFirst{
    "demo", "", 1, {mexargs::option("Scale", "scale", 1), mexargs::required("a", "a")}};
static_assert(!kOptionFirst.wellFormed(), "an option before a positional argument");
constexpr mexargs::ArgTable<1> kNoMnemonic{"demo", "", 1, {mexargs::required("a", "")}};
static_assert(!kNoMnemonic.wellFormed(), "an entry without an identifier");

// Returns [b, kind, Scale, Method] as the shell would read them.
void demoEntry(int nlhs, mxArray** plhs, int nrhs, const mxArray** prhs) {
    const mexargs::Inputs in = kDemo.parse(nlhs, nrhs, prhs);
    mexargs::realScalar(kDemo[kA], kDemo[kA].of(in));
    const double read[4] = {mexargs::realScalar(kDemo[kB], kDemo[kB].of(in)),
                            static_cast<double>(mexargs::choice(kDemo[kKind], kDemo[kKind].of(in))),
                            mexargs::realScalar(kDemo[kScale], kDemo[kScale].of(in)),
                            static_cast<double>(mexargs::choice(kDemo[kMethod], kDemo[kMethod].of(in)))};
    plhs[0] = mxCreateDoubleMatrix(1, 4, mxREAL);
    for (int i = 0; i < 4; ++i) mxGetPr(plhs[0])[i] = read[i];
}

// A call's arguments as words: digits a number, "{}" a cell, others a text.
struct DemoCase {
    std::vector<std::string> words;
    std::vector<double> read;  // empty when refused
    const char* id;
    std::string message;
};

void expectDemo(const std::vector<DemoCase>& cases) {
    for (const DemoCase& c : cases) {
        std::vector<mexhost::ArrayPtr> held;
        std::vector<const mxArray*> args;
        for (const std::string& w : c.words) {
            held.push_back(std::isdigit(w[0]) ? mexhost::scalar(std::atof(w.c_str()))
                           : w == "{}"        ? mexhost::cells(1, 1)
                                              : mexhost::text(w));
            args.push_back(held.back().get());
        }
        auto r = mexhost::callEntry(demoEntry, "demo", 1, args);
        const std::string what = c.words.empty() ? "no words" : c.words.back();
        EXPECT_TRUE(r.leakFree()) << what;
        EXPECT_EQ(r.errorId, c.id) << what;
        EXPECT_EQ(r.errorMessage, c.message) << what;
        if (c.read.empty()) continue;
        ASSERT_TRUE(r.ok) << what;
        EXPECT_EQ(mexhost::values(r.outputs[0].get()), c.read) << what;
    }
}

}  // namespace

TEST(MexArgs, OptionalArgumentsTakeTheirDefaultsAndKeepTheirIdentifiers) {
    expectDemo({
        {{"1"}, {7, 0, 1, 1}, "", ""},
        {{"1", "3"}, {3, 0, 1, 1}, "", ""},
        {{"1", "3", "CUBIC"}, {3, 2, 1, 1}, "", ""},
        {{}, {}, "demo:nargin",
         "demo needs 1 input arguments, got 0. Usage: y = demo(a, b, kind, 'Scale', s, 'Method', m)"},
        {{"1", "{}"}, {}, "demo:bValue", "argument 2 (b) must be a real numeric scalar, got a 1x1 cell array"},
    });
}

TEST(MexArgs, NameValueOptionsMatchWithoutCaseAndRefuseWhatIsNotOne) {
    expectDemo({
        {{"1", "3", "method", "Linear", "SCALE", "4", "Scale", "5"}, {3, 0, 5, 1}, "", ""},  // the last one kept
        {{"1", "sCaLe", "4"}, {7, 0, 4, 1}, "", ""},  // in the place of an optional argument
        {{"1", "3", "nearest", "Scal", "4"}, {}, "demo:option",
         "argument 4: there is no option 'Scal'; the options are 'Scale', 'Method'"},
        {{"1", "3", "Scal", "4"}, {}, "demo:kind",
         "argument 3 (kind) must be one of 'nearest', 'linear', 'cubic' or an option name ('Scale', 'Method'), got "
         "'Scal'"},
        {{"1", "3", "nearest", "Scale"}, {}, "demo:option", "option 'Scale' (argument 4) has no value after it"},
        {{"1", "3", "nearest", "4", "5"}, {}, "demo:option",
         "argument 4 must be an option name ('Scale', 'Method'), got a 1x1 double array"},
        {{"1", "Scale", "{}"}, {}, "demo:scale", "option 'Scale' must be a real numeric scalar, got a 1x1 cell array"},
    });
}

TEST(MexArgs, ChoicesMatchWithoutCaseAndRefusalsListThem) {
    const std::string longText(100, 'x');
    expectDemo({
        {{"1", "3", "LINEAR", "Method", "CuBiC"}, {3, 1, 1, 2}, "", ""},
        {{"1", "3", "2"}, {}, "demo:kind",
         "argument 3 (kind) must be one of 'nearest', 'linear', 'cubic', got a 1x1 double array"},
        {{"1", "Method", "spline"}, {}, "demo:method",
         "option 'Method' must be one of 'nearest', 'linear', 'cubic', got 'spline'"},
        {{"1", "Method", longText}, {}, "demo:method",
         "option 'Method' must be one of 'nearest', 'linear', 'cubic', got '" + longText.substr(0, 60) + "...'"},
    });
}

TEST(MexArgs, AnArgumentOfACallReadsNothingPastItsCount) {
    auto a = mexhost::scalar(1);
    auto b = mexhost::scalar(3);
    auto beyond = mexhost::text("Scale");
    const mxArray* prhs[3] = {a.get(), b.get(), beyond.get()};
    const mexargs::Inputs in = kDemo.parse(1, 2, prhs);
    EXPECT_EQ(kDemo[kA].of(in), a.get());
    EXPECT_EQ(kDemo[kB].of(in), b.get());
    EXPECT_EQ(kDemo[kKind].of(in), nullptr);
    EXPECT_EQ(kDemo[kScale].of(in), nullptr);
}

TEST(MexArgs, CountsAreRefusedBelowTheMinimumAndAboveTheMaxima) {
    auto a = mexhost::scalar(1);
    struct Case {
        int nrhs, nlhs;
        const char* id;
        const char* message;
    };
    const Case cases[] = {
        {1, 1, "demo:nargin", "demo needs 2 input arguments, got 1. Usage: y = demo(a, b, c)"},
        {4, 1, "demo:nargin", "demo takes at most 3 input arguments, got 4. Usage: y = demo(a, b, c)"},
        {2, 2, "demo:nargout", "demo returns at most 1 result, 2 requested. Usage: y = demo(a, b, c)"},
        {2, 1, "", ""},
        {3, 0, "", ""},
    };
    for (const Case& c : cases) {
        auto r = mexhost::callEntry(countCheck, "demo", c.nlhs, std::vector<const mxArray*>(c.nrhs, a.get()));
        EXPECT_EQ(r.errorId, c.id) << c.nrhs << " in, " << c.nlhs << " out";
        EXPECT_EQ(r.errorMessage, c.message);
    }
}

TEST(MexArgs, ImagesAreRealTwoDimensionalAndNotEmpty) {
    EXPECT_TRUE(check(imageCheck, mexhost::numeric(mxUINT8_CLASS, {4, 3}).get()).ok);
    struct Case {
        mexhost::ArrayPtr value;
        const char* message;
    };
    Case cases[] = {
        {mexhost::numeric(mxUINT8_CLASS, {4, 3, 3}),
         "argument 1 (picture) must be a 2-D grey-level matrix (convert a colour image to grey first), got a 4x3x3 "
         "uint8 array"},
        {mexhost::matrix(0, 3), "argument 1 (picture) must not be empty, got a 0x3 double array"},
        {mexhost::cells(2, 2), "argument 1 (picture) must be a real numeric array, got a 2x2 cell array"},
        {mexhost::sparseMatrix(2, 2), "argument 1 (picture) must be a real numeric array, got a 2x2 sparse double array"},
    };
    for (const Case& c : cases) {
        auto r = check(imageCheck, c.value.get());
        EXPECT_EQ(r.errorId, "demo:picture");
        EXPECT_EQ(r.errorMessage, c.message);
    }
}

TEST(MexArgs, ScalarsByValueAndRefusals) {
    EXPECT_TRUE(check(scalarCheck, mexhost::numeric(mxUINT8_CLASS, {1, 1}, {7}).get()).ok);
    EXPECT_TRUE(check(scalarCheck, mexhost::numeric(mxLOGICAL_CLASS, {1, 1}, {1}).get()).ok);

    auto r = check(scalarCheck, mexhost::complexMatrix(1, 1).get());
    EXPECT_EQ(r.errorId, "demo:scalar");
    EXPECT_EQ(r.errorMessage, "argument 4 (limit) must be a real numeric scalar, got a 1x1 complex double array");
    EXPECT_EQ(check(scalarCheck, mexhost::matrix(1, 2).get()).errorId, "demo:scalar");
    EXPECT_EQ(check(scalarCheck, mexhost::text("x").get()).errorId, "demo:scalar");
    EXPECT_EQ(check(scalarCheck, mexhost::sparseMatrix(1, 1).get()).errorId, "demo:scalar");
    EXPECT_EQ(check(scalarCheck, mexhost::cells(1, 1).get()).errorId, "demo:scalar");
}

TEST(MexArgs, DoubleCopiesKeepShapeAndValues) {
    auto i16 = mexhost::numeric(mxINT16_CLASS, {2, 2, 2}, {-3, 5, 300, 0, 1, 2, 3, 4});
    mexhost::ArrayPtr d(mexargs::toDouble(i16.get()));
    EXPECT_TRUE(mxIsDouble(d.get()));
    EXPECT_EQ(mxGetNumberOfDimensions(d.get()), 3u);
    EXPECT_EQ(mexhost::values(d.get()), (std::vector<double>{-3, 5, 300, 0, 1, 2, 3, 4}));
    auto single = mexhost::numeric(mxSINGLE_CLASS, {1, 1}, {0.1});
    EXPECT_EQ(mexargs::elementValue(single.get(), 0), static_cast<double>(0.1f));
}
