#include "BlockDetection.h"

#include "Parallel.h"
#include "Resources.h"

#include <opencv2/core.hpp>
#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace gridcorners {

namespace {

// What one worker owns: a header of its own over a shared image, for its
// region of interest, or an image of one block for the pixels of a matrix;
// and its working images.
struct Worker {
    IplImage view;  // the shared image's header, with the region below
    IplROI region;
    IplImage* header = nullptr;  // &view for an image
    IplImage* block = nullptr;
    IplImage* eig = nullptr;
    IplImage* temp = nullptr;
    int failedBlock = INT_MAX;
    RunStatus failure = RunStatus::done;
    char message[512] = "";
};

struct Shared {
    const DetectOptions* options;
    const Slots* slots;
    const Pixels* pixels;
    int blocksX;
    int blocksY;
    std::atomic<int> next{0};               // how many blocks were taken
    std::atomic<int> firstFailure{INT_MAX};  // lowest block that failed so far
};

void copyMessage(const char* text, char* buf, size_t size) {
    std::snprintf(buf, size, "%s", text);
    size_t n = std::strlen(buf);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == ' ')) buf[--n] = '\0';
    if (n == 0) std::snprintf(buf, size, "unknown error");
}

bool outOfMemory(const cv::Exception& e) { return e.code == cv::Error::StsNoMem; }

// Copies the block at (x0, y0) of a column-major matrix into the worker's
// block image, rows of the matrix becoming rows of the image.
void copyBlock(const Pixels& p, int x0, int y0, int width, int height, IplImage* block) {
    const size_t M = static_cast<size_t>(p.height);
    for (int c = 0; c < width; ++c) {
        const unsigned char* column = p.columnMajor + static_cast<size_t>(x0 + c) * M + static_cast<size_t>(y0);
        unsigned char* out = reinterpret_cast<unsigned char*>(block->imageData) + c;
        for (int r = 0; r < height; ++r) {
            out[static_cast<size_t>(r) * static_cast<size_t>(block->widthStep)] =
                p.logical ? static_cast<unsigned char>(column[r] != 0) : column[r];
        }
    }
}

int detectBlock(Worker& w, const Shared& s, int b) {
    const DetectOptions& o = *s.options;
    const Pixels& p = *s.pixels;
    const CvRect rect = blockRect(b / s.blocksX, b % s.blocksX, p.width, p.height);
    // What setting the region clips the rectangle to.
    const int width = std::min(rect.width, p.width - rect.x);
    const int height = std::min(rect.height, p.height - rect.y);
    IplImage* source = w.header;
    if (p.columnMajor) {
        copyBlock(p, rect.x, rect.y, width, height, w.block);
        cvSetImageROI(w.block, cvRect(0, 0, width, height));
        source = w.block;
    } else {
        cvSetImageROI(w.header, rect);
    }
    // The working images are one block large; the detector needs them the
    // size of the block.
    cvSetImageROI(w.eig, cvRect(0, 0, width, height));
    cvSetImageROI(w.temp, cvRect(0, 0, width, height));
    CvPoint2D32f* block = s.slots->points + static_cast<size_t>(b) * static_cast<size_t>(s.slots->capacity);
    const int count = detectWithRetries(
        [&](double level) {
            int found = o.limit;  // in: the limit, out: the number found
            cvGoodFeaturesToTrack(source, w.eig, w.temp, block, &found, level, o.distance, 0, 3, 1, level);
            return found;
        },
        o.quality, o.limit, o.adaptive);
    offsetPoints(block, count, rect.x, rect.y);
    return count;
}

void lowerFirstFailure(Shared& s, int b) {
    int seen = s.firstFailure.load();
    while (b < seen && !s.firstFailure.compare_exchange_weak(seen, b)) {
    }
}

void record(Worker& w, Shared& s, int b, RunStatus status, const char* text) {
    if (b > w.failedBlock) return;
    w.failedBlock = b;
    w.failure = status;
    copyMessage(text, w.message, sizeof w.message);
    lowerFirstFailure(s, b);
}

// The k-th block taken.  Blocks of an image are taken in raster order;
// those of a column-major matrix block column by block column, so that
// consecutive blocks read the same columns of the matrix.  Each block has
// its own slot, so the order changes nothing in the result.
int rasterIndex(const Shared& s, int k) {
    if (!s.pixels->columnMajor) return k;
    return (k % s.blocksY) * s.blocksX + k / s.blocksY;
}

// Takes blocks until none is left or the run is stopped; on the calling
// thread the pool asks its hook before each block.
void runBlocks(Worker& w, Shared& s, parallel::Pool& pool) {
    const int blocks = s.slots->blocks;
    for (;;) {
        if (pool.stopped()) return;
        const int k = s.next.fetch_add(1);
        if (k >= blocks) return;
        const int b = rasterIndex(s, k);
        // Blocks after a failed one are skipped, those before it still run.
        if (b > s.firstFailure.load()) continue;
        if (pool.stopping()) return;
        try {
            s.slots->counts[b] = detectBlock(w, s, b);
        } catch (const cv::Exception& e) {
            record(w, s, b, outOfMemory(e) ? RunStatus::outOfMemory : RunStatus::failed, e.what());
        } catch (const std::bad_alloc&) {
            record(w, s, b, RunStatus::outOfMemory, "std::bad_alloc");
        } catch (const std::exception& e) {
            record(w, s, b, RunStatus::failed, e.what());
        }
    }
}

void releaseWorker(Worker& w) {
    resources::releaseImage(w.block);
    resources::releaseImage(w.eig);
    resources::releaseImage(w.temp);
}

void makeWorker(Worker& w, const Pixels& p) {
    if (p.image) {
        // A copy of the header with a region of its own, which setting the
        // region fills in place; the pixels are only read through it.
        w.view = *p.image;
        w.region = IplROI{0, 0, 0, p.width, p.height};
        w.view.roi = &w.region;
        w.header = &w.view;
    } else {
        w.block = resources::createImage(cvSize(kBlockSize, kBlockSize), IPL_DEPTH_8U, 1);
    }
    w.eig = resources::createImage(cvSize(kBlockSize, kBlockSize), IPL_DEPTH_32F, 1);
    w.temp = resources::createImage(cvSize(kBlockSize, kBlockSize), IPL_DEPTH_32F, 1);
}

// One thread per worker while the calling thread waits and polls.  A
// system out of threads may refuse some: those started share all blocks,
// and with none started the calling thread runs them itself.
void runThreaded(std::vector<Worker>& workers, Shared& s, parallel::Pool& pool) {
    const int started =
        pool.start(0, static_cast<int>(workers.size()), [&](int i) { runBlocks(workers[static_cast<size_t>(i)], s, pool); });
    if (started == 0) runBlocks(workers[0], s, pool);
    pool.wait();
}

}  // namespace

double slotBytes(const BlockGrid& grid, int limit) {
    const double blocks = static_cast<double>(grid.blocksX) * static_cast<double>(grid.blocksY);
    const double capacity = static_cast<double>(std::min(limit, kMaxCornersPerBlock));
    return blocks * (capacity * static_cast<double>(sizeof(CvPoint2D32f)) + static_cast<double>(sizeof(int)));
}

Slots slotsIn(void* buffer, const BlockGrid& grid, int limit) {
    Slots slots;
    slots.blocks = grid.blocksX * grid.blocksY;
    slots.capacity = std::min(limit, kMaxCornersPerBlock);
    slots.points = static_cast<CvPoint2D32f*>(buffer);
    // The counts follow the last slot; 4-byte ints after 8-byte points stay aligned.
    slots.counts = reinterpret_cast<int*>(slots.points + static_cast<size_t>(slots.blocks) *
                                                             static_cast<size_t>(slots.capacity));
    return slots;
}

Pixels imagePixels(const IplImage* image) {
    Pixels p;
    p.image = image;
    p.width = image->width;
    p.height = image->height;
    return p;
}

Pixels matrixPixels(const unsigned char* data, int rows, int cols, bool logical) {
    Pixels p;
    p.columnMajor = data;
    p.logical = logical;
    p.width = cols;
    p.height = rows;
    return p;
}

int machineWorkers(const BlockGrid& grid) {
    return parallel::workersFor(static_cast<size_t>(grid.blocksX) * static_cast<size_t>(grid.blocksY));
}

BlockRun detectBlocks(const Pixels& pixels, const DetectOptions& options, int workerCount, const Slots& slots,
                      const std::function<bool()>& shouldStop) {
    BlockRun run;
    Shared s;
    s.options = &options;
    s.slots = &slots;
    s.pixels = &pixels;
    const BlockGrid grid = blockGrid(pixels.width, pixels.height);
    s.blocksX = grid.blocksX;
    s.blocksY = grid.blocksY;
    const int count = std::max(1, std::min(workerCount, slots.blocks));

    std::vector<Worker> workers;
    parallel::Pool pool(shouldStop);
    try {
        workers.resize(static_cast<size_t>(count));
        for (Worker& w : workers) makeWorker(w, pixels);
        if (count == 1)
            runBlocks(workers[0], s, pool);
        else
            runThreaded(workers, s, pool);
    } catch (const cv::Exception& e) {
        run.status = outOfMemory(e) ? RunStatus::outOfMemory : RunStatus::failed;
        copyMessage(e.what(), run.message, sizeof run.message);
    } catch (const std::bad_alloc&) {
        run.status = RunStatus::outOfMemory;
        copyMessage("std::bad_alloc", run.message, sizeof run.message);
    }
    for (Worker& w : workers) releaseWorker(w);
    if (run.status != RunStatus::done) return run;

    const Worker* first = nullptr;
    for (const Worker& w : workers)
        if (w.failedBlock != INT_MAX && (!first || w.failedBlock < first->failedBlock)) first = &w;
    if (first) {
        run.status = first->failure;
        std::snprintf(run.message, sizeof run.message, "%s", first->message);
        return run;
    }
    if (pool.stopped()) {
        run.status = RunStatus::stopped;
        return run;
    }
    for (int b = 0; b < slots.blocks; ++b) run.total += slots.counts[b];
    return run;
}

void writeSlots(const Slots& slots, double* out) {
    size_t at = 0;
    for (int b = 0; b < slots.blocks; ++b) {
        const int n = slots.counts[b];
        writeOneBased(slots.points + static_cast<size_t>(b) * static_cast<size_t>(slots.capacity), n, out + at);
        at += 2 * static_cast<size_t>(n);
    }
}

}  // namespace gridcorners
