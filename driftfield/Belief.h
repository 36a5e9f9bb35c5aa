// Node belief and estimate: the four messages and the node's own likelihoods
// become a belief over the label disc, reduced to a new position and a score.
#ifndef REGMEX_DRIFTFIELD_BELIEF_H
#define REGMEX_DRIFTFIELD_BELIEF_H

#include "LabelDisc.h"
#include "Lattice.h"
#include "MeanShift.h"

namespace driftfield {

// Reduces a belief (normalised to sum 1) at 1-based position p:
//  - ArgMax: the first offset of highest belief; score = that belief.
//  - WeightedMean: p plus the belief-weighted mean offset; score = the belief
//    of the disc offset nearest to that mean offset.
//  - MeanShift: p plus the gridMeanShift offset; score = its density.
// An estimate that is not finite (a belief zero or NaN everywhere) keeps p
// and gets the score NaN.
NodeResult estimateNode(Estimator estimator, const double* belief, const LabelDisc& disc, Point p, double h, int a,
                        MeanShiftScratch& scratch);

// belief := normalised products of above, below, left, right and the node's
// likelihoods (in that order), divided by its plain sum; then estimateNode.
// belief is L doubles of scratch.
NodeResult evaluateNode(const double* above, const double* below, const double* left, const double* right,
                        const double* likelihoods, const LabelDisc& disc, Point p, const FieldParams& params,
                        double* belief, MeanShiftScratch& scratch);

}  // namespace driftfield

#endif
