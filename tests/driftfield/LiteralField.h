// The message pass, belief and estimate of driftfield written out literally,
// pair by pair, with the data term sampled inside the innermost loop: slow,
// plain, and the yardstick for the fast product in tests and benchmarks.
#ifndef REGMEX_TESTS_DRIFTFIELD_LITERALFIELD_H
#define REGMEX_TESTS_DRIFTFIELD_LITERALFIELD_H

#include "LabelDisc.h"
#include "Lattice.h"
#include "ScoreSampling.h"

#include <vector>

namespace literal {

using driftfield::LabelDisc;
using driftfield::LatticeView;
using driftfield::NodeResult;
using driftfield::Point;
using driftfield::ScoreMap;

// One store: per slot (y*N + x) a vector of L doubles.
using Store = std::vector<std::vector<double>>;

struct Stores {
    Store fromLeft, fromRight, fromAbove, fromBelow;
};

// mode is compared with exactly 1.0 (max-product) as given.
std::vector<double> pairMessage(bool senderFixed, const LabelDisc& disc, Point pR, Point pS, Point qR, Point qS,
                                const ScoreMap& map, double mode, double lambda, double beta);

// The four sweeps in order, each step as written: skip a fixed receiver,
// form the message, store the normalised product with the sender's vector.
Stores passMessages(const LatticeView& lattice, const ScoreMap& map, const LabelDisc& disc, double mode,
                    double lambda, double beta);

// The grid mean shift, candidate by candidate.
double gridMeanShift(const LabelDisc& disc, const std::vector<double>& b, double h, int a, Point& c,
                     int* updates = nullptr);

// Every free node in row order: belief from the stores and its likelihoods,
// the estimator picked by mode truncated toward zero.  Fixed nodes get NaN.
// The normalised beliefs are kept when asked for (empty for fixed nodes).
using Beliefs = std::vector<std::vector<double>>;
std::vector<NodeResult> evaluateNodes(const LatticeView& lattice, const ScoreMap& map, const LabelDisc& disc,
                                      const Stores& stores, double mode, double beta, double h, int a,
                                      Beliefs* beliefs = nullptr);

// passMessages then evaluateNodes.
std::vector<NodeResult> refine(const LatticeView& lattice, const ScoreMap& map, double radius, double mode,
                               double lambda, double beta, double h, int a, Beliefs* beliefs = nullptr);

}  // namespace literal

#endif
