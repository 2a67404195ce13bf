// Scoped save and restore of the pieces of GL state a capture call changes:
// the game's state is the game's, so each call puts back what it touched.
// Only state shared by OpenGL ES 1.1 and 2/3 is used here.
#ifndef LUMOKAST_GLSTATE_H
#define LUMOKAST_GLSTATE_H

#include <stddef.h>

#include <GLES2/gl2.h>

namespace qor {

// State queries made by the kit since the process started (for the bench).
extern unsigned long g_glStateQueries;
GLint queryInt(GLenum name);

// True on an OpenGL ES 3 context whose entry points were found (checked once).
bool isEs3Context();

// Turns the capabilities off while alive; puts back those that were on.
class ScopedCapsOff {
public:
    ScopedCapsOff(const GLenum* caps, size_t count);
    ~ScopedCapsOff();

private:
    static constexpr size_t kMaxCaps = 16;
    const GLenum* mCaps;
    size_t mCount;
    bool mWasOn[kMaxCaps];
};

// Binds `texture` to unit 0 while alive; puts back the active unit and the
// unit's binding.
class ScopedTextureUnit0 {
public:
    explicit ScopedTextureUnit0(GLuint texture);
    ~ScopedTextureUnit0();

private:
    GLint mActive;
    GLint mBinding;
};

// Keeps the binding of one buffer target (`query` is its binding name).
class ScopedBufferBinding {
public:
    ScopedBufferBinding(GLenum target, GLenum query, GLuint buffer);
    ~ScopedBufferBinding();

private:
    GLenum mTarget;
    GLint mSaved;
};

// The viewport, the clear colour and the colour and depth masks, set for a
// full-frame clear and copy of w x h.
class ScopedCopyTarget {
public:
    ScopedCopyTarget(GLint width, GLint height);
    ~ScopedCopyTarget();

private:
    GLint mViewport[4];
    GLfloat mClear[4];
    GLboolean mColorMask[4];
    GLboolean mDepthMask;
};

// The texture binding of the active unit (the capturer binds its texture).
class ScopedActiveTextureBinding {
public:
    ScopedActiveTextureBinding();
    ~ScopedActiveTextureBinding();

private:
    GLint mBinding;
};

}  // namespace qor

#endif  // LUMOKAST_GLSTATE_H
