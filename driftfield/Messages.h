// Directional messages: one pass of four sweeps along the rows and columns of
// the node lattice, each filling one message store over the label disc.
#ifndef REGMEX_DRIFTFIELD_MESSAGES_H
#define REGMEX_DRIFTFIELD_MESSAGES_H

#include "LabelDisc.h"
#include "Lattice.h"
#include "ScoreSampling.h"

#include <functional>
#include <vector>

namespace driftfield {

// Floor of the sums in the normalised product (a little below the machine
// epsilon, on purpose).
constexpr double kProductFloor = 2.2204e-16;

// out_k = t_k / T with t_k = (a_k / Sa)(b_k / Sb) and T = sum t_k, each of the
// three sums floored at kProductFloor (a NaN sum too).
void normalizedProduct(const double* a, const double* b, double* out, int L);
// The same product written over b.
void normalizedProductInPlace(const double* a, double* b, int L);

// Per-thread working space of pairMessage: the two axis factors of the
// pairwise kernel and the partial sums (or maxima) of the first pass, each
// (2*reach + 1)^2 doubles, and the factors of one axis per diagonal.
struct MessageScratch {
    explicit MessageScratch(const LabelDisc& disc);
    std::vector<double> rowFactor;     // [jy][iy]: sender row, receiver row
    std::vector<double> columnFactor;  // [ix][jx]: receiver column, sender column
    std::vector<double> partial;       // [sender column][iy]
    std::vector<double> diagonal;      // per diagonal i - j: first displacement, its factor
};

// The message from sender S to receiver R over the receiver's offsets, into
// out[0 .. L-1].  With a fixed sender it is the kernel exp(-lambda*(|e|/D)^2)
// for e = P(R) + l_i - Q(R); with a free sender it is, over the sender's
// offsets j, the maximum (maxProduct) or the sum of
//   phi_j * exp(-lambda * (|(P(R) + l_i) - (P(S) + l_j) - (Q(R) - Q(S))| / D)^2),
// D = |Q(R) - Q(S)|, phi the sender's disc likelihoods.  The kernel splits
// into an x and a y factor, so the sum (maximum) runs as two one-dimensional
// passes over the disc; inputs outside the range where that is safe (a
// non-finite likelihood, huge coordinates) take the pair-by-pair form.
void pairMessage(bool senderFixed, const LabelDisc& disc, Point pR, Point pS, Point qR, Point qS,
                 const double* senderLikelihoods, bool maxProduct, double lambda, MessageScratch& scratch,
                 double* out);

// The worker count used when the caller does not choose: the pool's rule,
// one per core (parallel::coreCount).
int defaultThreadCount();

// Runs the four sweeps (left-to-right, right-to-left, top-down, bottom-up).
// With results given, every free node is evaluated (evaluateNode) as soon as
// its last message is known and its result written to results[slot]; fixed
// nodes' entries are left alone.  Rows, then columns, are shared among
// `threads` workers; each line is computed the same way whichever worker
// takes it, so the results do not depend on the count.  May throw
// std::bad_alloc; never calls the host.
// shouldStop, when given, is called on the calling thread only: before the
// stores are allocated, between the nodes it computes itself (setting their
// store slots, sampling their likelihoods, passing their messages) and, once
// its lines are done, every few milliseconds while it waits for the other
// workers.  When it answers true
// every worker stops before its next node, all are joined, and the pass
// returns false with the results unfinished.
bool passMessages(const LatticeView& lattice, const ScoreMap& map, const LabelDisc& disc, const FieldParams& params,
                  NodeResult* results, int threads, const std::function<bool()>& shouldStop = nullptr);

// The call's whole computation: the disc of the radius (buildLabelDisc),
// then passMessages, shouldStop asked between the disc's columns as well.
// False when stopped.
bool moveNodes(const LatticeView& lattice, const ScoreMap& map, double radius, const FieldParams& params,
               NodeResult* results, int threads, const std::function<bool()>& shouldStop = nullptr);

// Bytes passMessages (with the disc it is given) holds at its peak for
// `nodes` nodes, a disc of L offsets spanning `width` columns, and `threads`
// workers: the likelihoods and three stores, the disc, and every worker's
// buffers.
double passMemoryBytes(double nodes, double L, double width, int threads);

}  // namespace driftfield

#endif
