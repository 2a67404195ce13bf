// A snapshot of the GL state a game cares about, by name, to prove that a
// capture call left it as it found it.
#ifndef QOR_TESTS_CAPTURE_GL_STATE_SNAPSHOT_H
#define QOR_TESTS_CAPTURE_GL_STATE_SNAPSHOT_H

#include <map>
#include <set>
#include <string>

namespace qor {
namespace test {

using GlSnapshot = std::map<std::string, std::string>;

// GLES 2 and 3 (`es3` adds vertex arrays, samplers, buffers and pixel store
// of GLES 3, and the attributes of vertex array 0 as well as the bound one).
GlSnapshot snapshotGles(bool es3);
// GLES 1.1: fixed-function state, matrices and client arrays.
GlSnapshot snapshotGles1();

// "name: before -> after" for each entry that differs, names in `ignore`
// left out; empty when equal.
std::string snapshotDiff(const GlSnapshot& before, const GlSnapshot& after,
                         const std::set<std::string>& ignore = {});

}  // namespace test
}  // namespace qor

#endif  // QOR_TESTS_CAPTURE_GL_STATE_SNAPSHOT_H
