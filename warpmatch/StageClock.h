// Optional wall-clock accounting of one warpmatch call by stage, for the
// stage profile in bench/.  Off (a null pointer) unless a profiler linked
// with the plug-in's sources switches it on; the plug-in never does.
// Marks are set on the calling thread only.
#ifndef REGMEX_WARPMATCH_STAGECLOCK_H
#define REGMEX_WARPMATCH_STAGECLOCK_H

namespace warpmatch {

enum Stage {
    kStageConvert,    // input image and previous maps into float images
    kStageCoarse,     // spline values at the coarse nodes
    kStageScaleUp,    // affine scale-up of the coarse maps
    kStageCompose,    // composition with the previous maps, when given
    kStageResample,   // the image through the final maps
    kStageNoise,      // noise in place of samples below -1, beside the map outputs
    kStageInversion,  // the point inversion on its workers
    kStageOutputs,    // copies into the point and image outputs
    kStageCount
};

struct StageTimes {
    double seconds[kStageCount] = {};
    double last = 0;  // time of the previous mark
};

extern StageTimes* stageTimes;

// Starts the accounting of a call.
void startStages();
// Adds the time since the previous mark (or start) to stage s.
void markStage(Stage s);

}  // namespace warpmatch

#endif
