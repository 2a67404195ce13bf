#include "lumokast_glstate.h"

#include <string.h>

#include "gl3stub.h"

namespace qor {

unsigned long g_glStateQueries = 0;

GLint queryInt(GLenum name) {
    GLint value = 0;
    glGetIntegerv(name, &value);
    ++g_glStateQueries;
    return value;
}

bool isEs3Context() {
    static int es3 = -1;
    if (es3 < 0) {
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        es3 = version && strstr(version, "OpenGL ES 3.") && gl3stubInit() ? 1 : 0;
    }
    return es3 == 1;
}

ScopedCapsOff::ScopedCapsOff(const GLenum* caps, size_t count)
    : mCaps(caps), mCount(count < kMaxCaps ? count : kMaxCaps) {
    for (size_t i = 0; i < mCount; ++i) {
        mWasOn[i] = glIsEnabled(mCaps[i]) == GL_TRUE;
        ++g_glStateQueries;
        if (mWasOn[i]) glDisable(mCaps[i]);
    }
}

ScopedCapsOff::~ScopedCapsOff() {
    for (size_t i = 0; i < mCount; ++i)
        if (mWasOn[i]) glEnable(mCaps[i]);
}

ScopedTextureUnit0::ScopedTextureUnit0(GLuint texture) : mActive(queryInt(GL_ACTIVE_TEXTURE)) {
    if (mActive != GL_TEXTURE0) glActiveTexture(GL_TEXTURE0);
    mBinding = queryInt(GL_TEXTURE_BINDING_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
}

ScopedTextureUnit0::~ScopedTextureUnit0() {
    glBindTexture(GL_TEXTURE_2D, (GLuint)mBinding);
    if (mActive != GL_TEXTURE0) glActiveTexture((GLenum)mActive);
}

ScopedBufferBinding::ScopedBufferBinding(GLenum target, GLenum query, GLuint buffer)
    : mTarget(target), mSaved(queryInt(query)) {
    if ((GLuint)mSaved != buffer) glBindBuffer(target, buffer);
}

ScopedBufferBinding::~ScopedBufferBinding() { glBindBuffer(mTarget, (GLuint)mSaved); }

ScopedCopyTarget::ScopedCopyTarget(GLint width, GLint height) {
    glGetIntegerv(GL_VIEWPORT, mViewport);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, mClear);
    glGetBooleanv(GL_COLOR_WRITEMASK, mColorMask);
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mDepthMask);
    g_glStateQueries += 4;
    glViewport(0, 0, width, height);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
}

ScopedCopyTarget::~ScopedCopyTarget() {
    glDepthMask(mDepthMask);
    glColorMask(mColorMask[0], mColorMask[1], mColorMask[2], mColorMask[3]);
    glClearColor(mClear[0], mClear[1], mClear[2], mClear[3]);
    glViewport(mViewport[0], mViewport[1], mViewport[2], mViewport[3]);
}

ScopedActiveTextureBinding::ScopedActiveTextureBinding()
    : mBinding(queryInt(GL_TEXTURE_BINDING_2D)) {}

ScopedActiveTextureBinding::~ScopedActiveTextureBinding() {
    glBindTexture(GL_TEXTURE_2D, (GLuint)mBinding);
}

}  // namespace qor
