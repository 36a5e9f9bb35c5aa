/* Embedded MEX host: the array, memory and console interface that MATLAB and
 * GNU Octave give a MEX plug-in.  Plug-ins include this header when they are
 * built against the embedded host; with mkoctfile or mex they get the host's
 * own mex.h instead, so only the calls both of those share belong here.
 *
 * Sizes are mwSize (size_t, like MATLAB's large-array API) and every function
 * links under its plain name; the host also exports the _700 names, the
 * 32-bit index entry points.
 *
 * The header also names functions as MATLAB's does in each mode of its mex
 * command, so a plug-in compiled here imports exactly the symbols it would
 * import from MATLAB (tests/cmake/MatlabModes.sh checks them against what
 * MATLAB exports).  The mode is chosen by the macros mex passes:
 *   MX_COMPAT_32 (mex -compatibleArrayDims; also REGMEX_INDEX_32, the
 *     Windows build): mwSize and mwIndex are int and the functions that take
 *     or give a size or an index link under their _700 names;
 *   MATLAB_DEFAULT_RELEASE (mex's default, R2017b): size_t, and the same
 *     functions under their _730 names;
 *   MATLAB_MEXCMD_RELEASE with MX_COMPAT_64 (mex -R2018a, interleaved
 *     complex): size_t, and every function under its _800 name.
 * The rule, read from MATLAB's libmx/libmex exports: a name is renamed in a
 * mode when MATLAB exports its form with that mode's suffix.  _700 and _730
 * exist for the sized functions only; _800 for every function whose meaning
 * holds with interleaved complex data, i.e. all of them but mxGetPi and
 * mxGetImagData, which -R2018a does not offer (declared only outside it).
 * In a MATLAB mode with MATLAB_MEX_FILE (mex's compile) printf is mexPrintf,
 * as MATLAB's mex.h has it. */
#ifndef REGMEX_HOST_MEX_H
#define REGMEX_HOST_MEX_H

/* Plug-ins built against this host export their test probes (see
 * bridge/Resources.h); with Octave's or MATLAB's mex.h they do not, nor
 * when compiled here as mex compiles them (MATLAB_MEX_FILE). */
#ifndef MATLAB_MEX_FILE
#define REGMEX_EMBEDDED_HOST 1
#endif

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(REGMEX_INDEX_32) && !defined(MX_COMPAT_32)
#define MX_COMPAT_32 1
#endif

#if defined(MX_COMPAT_32) || defined(MATLAB_DEFAULT_RELEASE) || defined(MATLAB_MEXCMD_RELEASE)
#define REGMEX_MATLAB_NAMES 1
#endif
#if defined(REGMEX_MATLAB_NAMES) && defined(MATLAB_MEX_FILE)
#include <stdio.h>  /* the real printf declared first, as <cstdio> expects */
#define printf mexPrintf
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

#ifdef MX_COMPAT_32
typedef int mwSize;
typedef int mwIndex;
typedef int mwSignedIndex;
#define mxCreateCellArray mxCreateCellArray_700
#define mxCreateCellMatrix mxCreateCellMatrix_700
#define mxCreateCharArray mxCreateCharArray_700
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateLogicalMatrix mxCreateLogicalMatrix_700
#define mxCreateNumericArray mxCreateNumericArray_700
#define mxCreateNumericMatrix mxCreateNumericMatrix_700
#define mxGetCell mxGetCell_700
#define mxGetDimensions mxGetDimensions_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
#define mxGetString mxGetString_700
#define mxSetCell mxSetCell_700
#else
typedef size_t mwSize;
typedef size_t mwIndex;
typedef ptrdiff_t mwSignedIndex;
#if defined(MATLAB_MEXCMD_RELEASE)
#define mexErrMsgIdAndTxt mexErrMsgIdAndTxt_800
#define mexErrMsgTxt mexErrMsgTxt_800
#define mexFunctionName mexFunctionName_800
#define mexPrintf mexPrintf_800
#define mexWarnMsgIdAndTxt mexWarnMsgIdAndTxt_800
#define mxArrayToString mxArrayToString_800
#define mxCalloc mxCalloc_800
#define mxCreateCellArray mxCreateCellArray_800
#define mxCreateCellMatrix mxCreateCellMatrix_800
#define mxCreateCharArray mxCreateCharArray_800
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_800
#define mxCreateDoubleScalar mxCreateDoubleScalar_800
#define mxCreateLogicalMatrix mxCreateLogicalMatrix_800
#define mxCreateLogicalScalar mxCreateLogicalScalar_800
#define mxCreateNumericArray mxCreateNumericArray_800
#define mxCreateNumericMatrix mxCreateNumericMatrix_800
#define mxCreateString mxCreateString_800
#define mxDestroyArray mxDestroyArray_800
#define mxDuplicateArray mxDuplicateArray_800
#define mxFree mxFree_800
#define mxGetCell mxGetCell_800
#define mxGetClassID mxGetClassID_800
#define mxGetClassName mxGetClassName_800
#define mxGetData mxGetData_800
#define mxGetDimensions mxGetDimensions_800
#define mxGetElementSize mxGetElementSize_800
#define mxGetEps mxGetEps_800
#define mxGetInf mxGetInf_800
#define mxGetM mxGetM_800
#define mxGetN mxGetN_800
#define mxGetNaN mxGetNaN_800
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_800
#define mxGetNumberOfElements mxGetNumberOfElements_800
#define mxGetPr mxGetPr_800
#define mxGetScalar mxGetScalar_800
#define mxGetString mxGetString_800
#define mxIsCell mxIsCell_800
#define mxIsChar mxIsChar_800
#define mxIsComplex mxIsComplex_800
#define mxIsDouble mxIsDouble_800
#define mxIsEmpty mxIsEmpty_800
#define mxIsFinite mxIsFinite_800
#define mxIsInt16 mxIsInt16_800
#define mxIsInt32 mxIsInt32_800
#define mxIsInt64 mxIsInt64_800
#define mxIsInt8 mxIsInt8_800
#define mxIsInf mxIsInf_800
#define mxIsLogical mxIsLogical_800
#define mxIsNaN mxIsNaN_800
#define mxIsNumeric mxIsNumeric_800
#define mxIsScalar mxIsScalar_800
#define mxIsSingle mxIsSingle_800
#define mxIsSparse mxIsSparse_800
#define mxIsStruct mxIsStruct_800
#define mxIsUint16 mxIsUint16_800
#define mxIsUint32 mxIsUint32_800
#define mxIsUint64 mxIsUint64_800
#define mxIsUint8 mxIsUint8_800
#define mxMalloc mxMalloc_800
#define mxRealloc mxRealloc_800
#define mxSetCell mxSetCell_800
#elif defined(MATLAB_DEFAULT_RELEASE)
#define mxCreateCellArray mxCreateCellArray_730
#define mxCreateCellMatrix mxCreateCellMatrix_730
#define mxCreateCharArray mxCreateCharArray_730
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_730
#define mxCreateLogicalMatrix mxCreateLogicalMatrix_730
#define mxCreateNumericArray mxCreateNumericArray_730
#define mxCreateNumericMatrix mxCreateNumericMatrix_730
#define mxGetCell mxGetCell_730
#define mxGetDimensions mxGetDimensions_730
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_730
#define mxGetString mxGetString_730
#define mxSetCell mxSetCell_730
#endif
#endif

typedef enum {
    mxUNKNOWN_CLASS = 0,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL = 0, mxCOMPLEX = 1 } mxComplexity;

typedef uint16_t mxChar;
typedef unsigned char mxLogical;

/* Data access */
double *mxGetPr(const mxArray *a);
#ifndef MATLAB_MEXCMD_RELEASE
double *mxGetPi(const mxArray *a);
#endif
void *mxGetData(const mxArray *a);
#ifndef MATLAB_MEXCMD_RELEASE
void *mxGetImagData(const mxArray *a);
#endif
double mxGetScalar(const mxArray *a);

/* Shape and class */
size_t mxGetM(const mxArray *a);
size_t mxGetN(const mxArray *a);
mwSize mxGetNumberOfDimensions(const mxArray *a);
const mwSize *mxGetDimensions(const mxArray *a);
size_t mxGetNumberOfElements(const mxArray *a);
size_t mxGetElementSize(const mxArray *a);
mxClassID mxGetClassID(const mxArray *a);
const char *mxGetClassName(const mxArray *a);
bool mxIsDouble(const mxArray *a);
bool mxIsSingle(const mxArray *a);
bool mxIsNumeric(const mxArray *a);
bool mxIsLogical(const mxArray *a);
bool mxIsChar(const mxArray *a);
bool mxIsCell(const mxArray *a);
bool mxIsStruct(const mxArray *a);
bool mxIsComplex(const mxArray *a);
bool mxIsSparse(const mxArray *a);
bool mxIsEmpty(const mxArray *a);
bool mxIsScalar(const mxArray *a);
bool mxIsInt8(const mxArray *a);
bool mxIsUint8(const mxArray *a);
bool mxIsInt16(const mxArray *a);
bool mxIsUint16(const mxArray *a);
bool mxIsInt32(const mxArray *a);
bool mxIsUint32(const mxArray *a);
bool mxIsInt64(const mxArray *a);
bool mxIsUint64(const mxArray *a);

/* Creation and destruction */
mxArray *mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity flag);
mxArray *mxCreateDoubleScalar(double value);
mxArray *mxCreateNumericMatrix(mwSize m, mwSize n, mxClassID classid, mxComplexity flag);
mxArray *mxCreateNumericArray(mwSize ndim, const mwSize *dims, mxClassID classid,
                              mxComplexity flag);
mxArray *mxCreateLogicalMatrix(mwSize m, mwSize n);
mxArray *mxCreateLogicalScalar(bool value);
mxArray *mxCreateString(const char *str);
mxArray *mxCreateCharArray(mwSize ndim, const mwSize *dims);
mxArray *mxCreateCellMatrix(mwSize m, mwSize n);
mxArray *mxCreateCellArray(mwSize ndim, const mwSize *dims);
mxArray *mxDuplicateArray(const mxArray *a);
void mxDestroyArray(mxArray *a);

/* Cells */
mxArray *mxGetCell(const mxArray *a, mwIndex i);
void mxSetCell(mxArray *a, mwIndex i, mxArray *value);

/* Text */
int mxGetString(const mxArray *a, char *buf, mwSize buflen);
char *mxArrayToString(const mxArray *a);

/* Memory */
void *mxMalloc(size_t n);
void *mxCalloc(size_t n, size_t size);
void *mxRealloc(void *ptr, size_t size);
void mxFree(void *ptr);

/* Constants */
double mxGetNaN(void);
double mxGetInf(void);
double mxGetEps(void);
bool mxIsNaN(double x);
bool mxIsInf(double x);
bool mxIsFinite(double x);

/* Host services */
int mexPrintf(const char *fmt, ...)
#ifdef __GNUC__
    __attribute__((__format__(__printf__, 1, 2)))
#endif
    ;
#ifdef __GNUC__
__attribute__((noreturn))
#endif
void mexErrMsgIdAndTxt(const char *id, const char *fmt, ...);
#ifdef __GNUC__
__attribute__((noreturn))
#endif
void mexErrMsgTxt(const char *msg);
void mexWarnMsgIdAndTxt(const char *id, const char *fmt, ...);
const char *mexFunctionName(void);

/* 32-bit index entry points, which the embedded host exports too; in the
 * MATLAB modes the declarations above name the mode's own. */
#ifndef REGMEX_MATLAB_NAMES
mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
mxArray *mxCreateNumericMatrix_700(int m, int n, mxClassID classid, mxComplexity flag);
mxArray *mxCreateNumericArray_700(int ndim, const int *dims, mxClassID classid,
                                  mxComplexity flag);
mxArray *mxCreateLogicalMatrix_700(int m, int n);
mxArray *mxCreateCharArray_700(int ndim, const int *dims);
mxArray *mxCreateCellMatrix_700(int m, int n);
mxArray *mxCreateCellArray_700(int ndim, const int *dims);
mxArray *mxGetCell_700(const mxArray *a, int i);
void mxSetCell_700(mxArray *a, int i, mxArray *value);
int mxGetString_700(const mxArray *a, char *buf, int buflen);
int mxGetNumberOfDimensions_700(const mxArray *a);
const int *mxGetDimensions_700(const mxArray *a);
#endif

/* The plug-in's entry point, exported even from a library built with hidden
 * visibility (a Windows DLL names its exports in a .def file instead). */
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((visibility("default")))
#endif
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

#ifdef __cplusplus
}
#endif

#endif
