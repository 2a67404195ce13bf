// The C entry point that mends a cut recording (exported by liblumokast).
#ifndef QOR_ICODEC_RECOVERY_H_
#define QOR_ICODEC_RECOVERY_H_

extern "C" {
// 0: the file at `path` plays (it was mended, or was complete already and
// is left as it was); -1: it does not (no file, not a recording of ours,
// nothing playable in it), and nothing was changed.
__attribute__((visibility("default"))) int lumokast_recover(const char* path);
}

#endif  // QOR_ICODEC_RECOVERY_H_
