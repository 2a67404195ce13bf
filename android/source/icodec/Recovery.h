// The C entry point that mends a cut recording (exported by liblumokast).
#ifndef QOR_ICODEC_RECOVERY_H_
#define QOR_ICODEC_RECOVERY_H_

extern "C" {
// 0: the file was mended, or there was nothing to mend (a complete file is
// left as it is); -1: nothing playable can be made of it.
__attribute__((visibility("default"))) int lumokast_recover(const char* path);
}

#endif  // QOR_ICODEC_RECOVERY_H_
