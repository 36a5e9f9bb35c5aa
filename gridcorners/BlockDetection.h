// The block loop: every block of an 8-bit image through the detector, on one
// or more worker threads.  Each block's corners go to a slot of their own, so
// the result does not depend on which worker ran which block or when.  No
// host: the shell hands in the image and a buffer and copies the slots out.
#ifndef REGMEX_GRIDCORNERS_BLOCKDETECTION_H
#define REGMEX_GRIDCORNERS_BLOCKDETECTION_H

#include "BlockGrid.h"

#include <opencv2/core/types_c.h>

#include <cstddef>
#include <functional>

namespace gridcorners {

struct DetectOptions {
    double distance;
    double quality;
    int limit;
    bool adaptive;
};

// The corner slots of a grid inside a buffer: block b (raster order) keeps its
// corners at points + b * capacity and their number in counts[b].
struct Slots {
    CvPoint2D32f* points;
    int* counts;
    int capacity;
    int blocks;
};

// Bytes the slots of a grid and limit take: within pointBufferBytes, so the
// point buffer holds them.
double slotBytes(const BlockGrid& grid, int limit);
Slots slotsIn(void* buffer, const BlockGrid& grid, int limit);

enum class RunStatus {
    done,         // every block detected
    failed,       // the library raised an error in a block
    outOfMemory,  // a working image, a thread's state or the detector ran out of memory
    stopped       // shouldStop asked for it
};

struct BlockRun {
    RunStatus status = RunStatus::done;
    int total = 0;          // corners in all slots, when done
    char message[512] = ""; // the library's text, for failed and outOfMemory
};

// The pixels the blocks are cut from: an 8-bit image (one channel, no
// region set), or the bytes of a column-major uint8 or logical matrix of
// `height` rows, whose values are the pixels as they stand (true as 1).
// Only read.
struct Pixels {
    const IplImage* image = nullptr;
    const unsigned char* columnMajor = nullptr;
    bool logical = false;
    int width = 0;
    int height = 0;
};
Pixels imagePixels(const IplImage* image);
Pixels matrixPixels(const unsigned char* data, int rows, int cols, bool logical);

// The pool's rule: one worker per core (at most parallel::kMostWorkers), at
// most one per block.
int machineWorkers(const BlockGrid& grid);

// Detects every block of the pixels into slots.  Each worker makes its own
// header over an image, or a block-sized 8-bit image it copies each block of
// a matrix into, and its own block-sized eigenvalue and temporary images,
// once before the loop; then it takes the next block until none is left
// (an image's in raster order, a matrix's block column by block column).
// The detector sees a block's pixels alone either way.
//
// One worker runs on the calling thread.  With more, the calling thread only
// waits for them, in waits of a few milliseconds.  shouldStop, when given,
// is called on the calling thread between those waits (between blocks with
// one worker); once it returns true the workers finish the block they are on
// and the run ends as stopped.
//
// On a failure the error is that of the first failing block in raster
// order, as a single loop would meet it: blocks before it still run, blocks
// after it are skipped.  Everything made here is released before return,
// and no worker is left running.  Calls no host function.
BlockRun detectBlocks(const Pixels& pixels, const DetectOptions& options, int workers, const Slots& slots,
                      const std::function<bool()>& shouldStop = nullptr);

// The slots' corners in raster order as 1-based [x; y] pairs (2 * total
// doubles), the 1 added in single precision.
void writeSlots(const Slots& slots, double* out);

}  // namespace gridcorners

#endif
