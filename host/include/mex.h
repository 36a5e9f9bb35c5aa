/* Embedded MEX host: the array, memory and console interface that MATLAB and
 * GNU Octave give a MEX plug-in.  Plug-ins include this header when they are
 * built against the embedded host; with mkoctfile or mex they get the host's
 * own mex.h instead, so only the calls both of those share belong here.
 *
 * Sizes are mwSize (size_t, like MATLAB's large-array API).  The _700 names
 * are the 32-bit index entry points that MATLAB's compatible-array-dims mode
 * maps the plain names to; the embedded host exports both.
 *
 * With REGMEX_INDEX_32 defined, a plug-in sees that 32-bit index API: mwSize
 * and mwIndex are int and every function taking or giving a size or index
 * links under its _700 name, as a MATLAB MEX file built that way does (the
 * Windows build, whose import libraries carry MATLAB's names). */
#ifndef REGMEX_HOST_MEX_H
#define REGMEX_HOST_MEX_H

/* Plug-ins built against this host export their test probes (see
 * bridge/Resources.h); with Octave's or MATLAB's mex.h they do not. */
#define REGMEX_EMBEDDED_HOST 1

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mxArray_tag mxArray;

#ifdef REGMEX_INDEX_32
typedef int mwSize;
typedef int mwIndex;
typedef int mwSignedIndex;
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateNumericMatrix mxCreateNumericMatrix_700
#define mxCreateNumericArray mxCreateNumericArray_700
#define mxCreateLogicalMatrix mxCreateLogicalMatrix_700
#define mxCreateCharArray mxCreateCharArray_700
#define mxCreateCellMatrix mxCreateCellMatrix_700
#define mxCreateCellArray mxCreateCellArray_700
#define mxGetCell mxGetCell_700
#define mxSetCell mxSetCell_700
#define mxGetString mxGetString_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
#define mxGetDimensions mxGetDimensions_700
#else
typedef size_t mwSize;
typedef size_t mwIndex;
typedef ptrdiff_t mwSignedIndex;
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
double *mxGetPi(const mxArray *a);
void *mxGetData(const mxArray *a);
void *mxGetImagData(const mxArray *a);
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

/* 32-bit index entry points (MATLAB's compatible-array-dims names); under
 * REGMEX_INDEX_32 the declarations above already name them, identically. */
#ifndef REGMEX_INDEX_32
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
