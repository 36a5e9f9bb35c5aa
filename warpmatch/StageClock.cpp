#include "StageClock.h"

#include <chrono>

namespace warpmatch {

StageTimes* stageTimes = nullptr;

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void startStages() {
    if (stageTimes) stageTimes->last = now();
}

void markStage(Stage s) {
    if (!stageTimes) return;
    const double t = now();
    stageTimes->seconds[s] += t - stageTimes->last;
    stageTimes->last = t;
}

}  // namespace warpmatch
