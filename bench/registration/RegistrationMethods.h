// The registration methods the benchmark compares, each run over a list of
// pairs and giving, per pair, its dense maps (warpmatch's convention) and
// the wall time of the registration alone.  A pair a method could not
// register gets no maps and the method's reason.
#ifndef REGMEX_BENCH_REGISTRATIONMETHODS_H
#define REGMEX_BENCH_REGISTRATIONMETHODS_H

#include "RegistrationPairs.h"

#include <string>
#include <vector>

namespace regbench {

struct Run {
    std::vector<Maps> maps;            // empty maps where the pair failed
    std::vector<double> seconds;       // registration time per pair
    std::vector<std::string> failure;  // empty where the pair was registered
    std::string skipped;               // why the method did not run at all
};

// OpenCV's DIS optical flow, preset medium, in this process.
Run runDis(const std::vector<Pair>& pairs);

// elastix, affine then B-spline (the parameter files in paramDir), and
// transformix for the deformation field; fixed = ref, moving = mov.
// Skipped when elastix or transformix is not installed.
Run runElastix(const std::vector<Pair>& pairs, const std::string& paramDir, const std::string& workDir);

// One octave-cli for all pairs, running regbench_octave.m (in scriptDir)
// with `method`: "readme" or "tpsregister".  The MEX files and m-functions
// come from mexDir and the folders in mPath (':'-separated), so another
// build or worktree can be measured.  Skipped when the method's function
// is not on that path.
Run runOctave(const std::string& method, const std::vector<Pair>& pairs, const std::string& scriptDir,
              const std::string& mexDir, const std::string& mPath, const std::string& workDir);

}  // namespace regbench

#endif
