// A MEX file that does nothing, built as the plug-ins are: the floor under
// every plug-in's first call in a fresh Octave.
#include "mex.h"

void mexFunction(int, mxArray*[], int, const mxArray*[]) {}
