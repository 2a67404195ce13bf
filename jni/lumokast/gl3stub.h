// OpenGL ES 3.0 entry points fetched at run time: the library links only the
// OpenGL ES 1 and 2 libraries.
#ifndef LUMOKAST_GL3STUB_H
#define LUMOKAST_GL3STUB_H

#include <GLES2/gl2.h>
// Types and enumerants of OpenGL ES 3.0 without its function declarations:
// the names below are variables.
#undef GL_GLES_PROTOTYPES
#define GL_GLES_PROTOTYPES 0
#include <GLES3/gl3.h>

// X(name, type) for the 104 additions of OpenGL ES 3.0 to 2.0, in the order
// of the OpenGL ES 3.0 header.
#define LUMOKAST_GL3_ENTRY_POINTS(X) \
    X(glReadBuffer, PFNGLREADBUFFERPROC) \
    X(glDrawRangeElements, PFNGLDRAWRANGEELEMENTSPROC) \
    X(glTexImage3D, PFNGLTEXIMAGE3DPROC) \
    X(glTexSubImage3D, PFNGLTEXSUBIMAGE3DPROC) \
    X(glCopyTexSubImage3D, PFNGLCOPYTEXSUBIMAGE3DPROC) \
    X(glCompressedTexImage3D, PFNGLCOMPRESSEDTEXIMAGE3DPROC) \
    X(glCompressedTexSubImage3D, PFNGLCOMPRESSEDTEXSUBIMAGE3DPROC) \
    X(glGenQueries, PFNGLGENQUERIESPROC) \
    X(glDeleteQueries, PFNGLDELETEQUERIESPROC) \
    X(glIsQuery, PFNGLISQUERYPROC) \
    X(glBeginQuery, PFNGLBEGINQUERYPROC) \
    X(glEndQuery, PFNGLENDQUERYPROC) \
    X(glGetQueryiv, PFNGLGETQUERYIVPROC) \
    X(glGetQueryObjectuiv, PFNGLGETQUERYOBJECTUIVPROC) \
    X(glUnmapBuffer, PFNGLUNMAPBUFFERPROC) \
    X(glGetBufferPointerv, PFNGLGETBUFFERPOINTERVPROC) \
    X(glDrawBuffers, PFNGLDRAWBUFFERSPROC) \
    X(glUniformMatrix2x3fv, PFNGLUNIFORMMATRIX2X3FVPROC) \
    X(glUniformMatrix3x2fv, PFNGLUNIFORMMATRIX3X2FVPROC) \
    X(glUniformMatrix2x4fv, PFNGLUNIFORMMATRIX2X4FVPROC) \
    X(glUniformMatrix4x2fv, PFNGLUNIFORMMATRIX4X2FVPROC) \
    X(glUniformMatrix3x4fv, PFNGLUNIFORMMATRIX3X4FVPROC) \
    X(glUniformMatrix4x3fv, PFNGLUNIFORMMATRIX4X3FVPROC) \
    X(glBlitFramebuffer, PFNGLBLITFRAMEBUFFERPROC) \
    X(glRenderbufferStorageMultisample, PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC) \
    X(glFramebufferTextureLayer, PFNGLFRAMEBUFFERTEXTURELAYERPROC) \
    X(glMapBufferRange, PFNGLMAPBUFFERRANGEPROC) \
    X(glFlushMappedBufferRange, PFNGLFLUSHMAPPEDBUFFERRANGEPROC) \
    X(glBindVertexArray, PFNGLBINDVERTEXARRAYPROC) \
    X(glDeleteVertexArrays, PFNGLDELETEVERTEXARRAYSPROC) \
    X(glGenVertexArrays, PFNGLGENVERTEXARRAYSPROC) \
    X(glIsVertexArray, PFNGLISVERTEXARRAYPROC) \
    X(glGetIntegeri_v, PFNGLGETINTEGERI_VPROC) \
    X(glBeginTransformFeedback, PFNGLBEGINTRANSFORMFEEDBACKPROC) \
    X(glEndTransformFeedback, PFNGLENDTRANSFORMFEEDBACKPROC) \
    X(glBindBufferRange, PFNGLBINDBUFFERRANGEPROC) \
    X(glBindBufferBase, PFNGLBINDBUFFERBASEPROC) \
    X(glTransformFeedbackVaryings, PFNGLTRANSFORMFEEDBACKVARYINGSPROC) \
    X(glGetTransformFeedbackVarying, PFNGLGETTRANSFORMFEEDBACKVARYINGPROC) \
    X(glVertexAttribIPointer, PFNGLVERTEXATTRIBIPOINTERPROC) \
    X(glGetVertexAttribIiv, PFNGLGETVERTEXATTRIBIIVPROC) \
    X(glGetVertexAttribIuiv, PFNGLGETVERTEXATTRIBIUIVPROC) \
    X(glVertexAttribI4i, PFNGLVERTEXATTRIBI4IPROC) \
    X(glVertexAttribI4ui, PFNGLVERTEXATTRIBI4UIPROC) \
    X(glVertexAttribI4iv, PFNGLVERTEXATTRIBI4IVPROC) \
    X(glVertexAttribI4uiv, PFNGLVERTEXATTRIBI4UIVPROC) \
    X(glGetUniformuiv, PFNGLGETUNIFORMUIVPROC) \
    X(glGetFragDataLocation, PFNGLGETFRAGDATALOCATIONPROC) \
    X(glUniform1ui, PFNGLUNIFORM1UIPROC) \
    X(glUniform2ui, PFNGLUNIFORM2UIPROC) \
    X(glUniform3ui, PFNGLUNIFORM3UIPROC) \
    X(glUniform4ui, PFNGLUNIFORM4UIPROC) \
    X(glUniform1uiv, PFNGLUNIFORM1UIVPROC) \
    X(glUniform2uiv, PFNGLUNIFORM2UIVPROC) \
    X(glUniform3uiv, PFNGLUNIFORM3UIVPROC) \
    X(glUniform4uiv, PFNGLUNIFORM4UIVPROC) \
    X(glClearBufferiv, PFNGLCLEARBUFFERIVPROC) \
    X(glClearBufferuiv, PFNGLCLEARBUFFERUIVPROC) \
    X(glClearBufferfv, PFNGLCLEARBUFFERFVPROC) \
    X(glClearBufferfi, PFNGLCLEARBUFFERFIPROC) \
    X(glGetStringi, PFNGLGETSTRINGIPROC) \
    X(glCopyBufferSubData, PFNGLCOPYBUFFERSUBDATAPROC) \
    X(glGetUniformIndices, PFNGLGETUNIFORMINDICESPROC) \
    X(glGetActiveUniformsiv, PFNGLGETACTIVEUNIFORMSIVPROC) \
    X(glGetUniformBlockIndex, PFNGLGETUNIFORMBLOCKINDEXPROC) \
    X(glGetActiveUniformBlockiv, PFNGLGETACTIVEUNIFORMBLOCKIVPROC) \
    X(glGetActiveUniformBlockName, PFNGLGETACTIVEUNIFORMBLOCKNAMEPROC) \
    X(glUniformBlockBinding, PFNGLUNIFORMBLOCKBINDINGPROC) \
    X(glDrawArraysInstanced, PFNGLDRAWARRAYSINSTANCEDPROC) \
    X(glDrawElementsInstanced, PFNGLDRAWELEMENTSINSTANCEDPROC) \
    X(glFenceSync, PFNGLFENCESYNCPROC) \
    X(glIsSync, PFNGLISSYNCPROC) \
    X(glDeleteSync, PFNGLDELETESYNCPROC) \
    X(glClientWaitSync, PFNGLCLIENTWAITSYNCPROC) \
    X(glWaitSync, PFNGLWAITSYNCPROC) \
    X(glGetInteger64v, PFNGLGETINTEGER64VPROC) \
    X(glGetSynciv, PFNGLGETSYNCIVPROC) \
    X(glGetInteger64i_v, PFNGLGETINTEGER64I_VPROC) \
    X(glGetBufferParameteri64v, PFNGLGETBUFFERPARAMETERI64VPROC) \
    X(glGenSamplers, PFNGLGENSAMPLERSPROC) \
    X(glDeleteSamplers, PFNGLDELETESAMPLERSPROC) \
    X(glIsSampler, PFNGLISSAMPLERPROC) \
    X(glBindSampler, PFNGLBINDSAMPLERPROC) \
    X(glSamplerParameteri, PFNGLSAMPLERPARAMETERIPROC) \
    X(glSamplerParameteriv, PFNGLSAMPLERPARAMETERIVPROC) \
    X(glSamplerParameterf, PFNGLSAMPLERPARAMETERFPROC) \
    X(glSamplerParameterfv, PFNGLSAMPLERPARAMETERFVPROC) \
    X(glGetSamplerParameteriv, PFNGLGETSAMPLERPARAMETERIVPROC) \
    X(glGetSamplerParameterfv, PFNGLGETSAMPLERPARAMETERFVPROC) \
    X(glVertexAttribDivisor, PFNGLVERTEXATTRIBDIVISORPROC) \
    X(glBindTransformFeedback, PFNGLBINDTRANSFORMFEEDBACKPROC) \
    X(glDeleteTransformFeedbacks, PFNGLDELETETRANSFORMFEEDBACKSPROC) \
    X(glGenTransformFeedbacks, PFNGLGENTRANSFORMFEEDBACKSPROC) \
    X(glIsTransformFeedback, PFNGLISTRANSFORMFEEDBACKPROC) \
    X(glPauseTransformFeedback, PFNGLPAUSETRANSFORMFEEDBACKPROC) \
    X(glResumeTransformFeedback, PFNGLRESUMETRANSFORMFEEDBACKPROC) \
    X(glGetProgramBinary, PFNGLGETPROGRAMBINARYPROC) \
    X(glProgramBinary, PFNGLPROGRAMBINARYPROC) \
    X(glProgramParameteri, PFNGLPROGRAMPARAMETERIPROC) \
    X(glInvalidateFramebuffer, PFNGLINVALIDATEFRAMEBUFFERPROC) \
    X(glInvalidateSubFramebuffer, PFNGLINVALIDATESUBFRAMEBUFFERPROC) \
    X(glTexStorage2D, PFNGLTEXSTORAGE2DPROC) \
    X(glTexStorage3D, PFNGLTEXSTORAGE3DPROC) \
    X(glGetInternalformativ, PFNGLGETINTERNALFORMATIVPROC)

#ifdef __cplusplus
extern "C" {
#endif

// Fills every entry point through eglGetProcAddress; true only if all 104
// were found.
GLboolean gl3stubInit(void);

#define LUMOKAST_GL3_DECLARE(name, type) extern type name;
LUMOKAST_GL3_ENTRY_POINTS(LUMOKAST_GL3_DECLARE)
#undef LUMOKAST_GL3_DECLARE

#ifdef __cplusplus
}
#endif

#endif  // LUMOKAST_GL3STUB_H
