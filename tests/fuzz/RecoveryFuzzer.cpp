// libFuzzer target: recovery of a recording from its journal. The input's
// first 4 bytes (little-endian) give the media file's length; the media
// bytes follow, the rest is the journal. Both are written to a private
// temporary folder as cut.mp4 and cut.mp4.journal, mended, and removed.
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "mpeg4_writer/Mp4Recovery.h"

namespace {

std::string gDir;

void removeDir() {
    if (!gDir.empty()) rmdir(gDir.c_str());
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    while (ok && size > 0) {
        const ssize_t n = write(fd, data, size);
        ok = n > 0;
        if (ok) data += n, size -= (size_t)n;
    }
    return close(fd) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("LUMOKAST_LOG_QUIET", "1", 1);
    const char* tmp = getenv("TMPDIR");
    std::string templ =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/lumokast-fuzz-XXXXXX";
    if (mkdtemp(&templ[0]) == nullptr) {
        perror("mkdtemp");
        abort();
    }
    gDir = templ;
    atexit(removeDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    size_t mediaBytes =
        (size_t)data[0] | (size_t)data[1] << 8 | (size_t)data[2] << 16 | (size_t)data[3] << 24;
    data += 4;
    size -= 4;
    if (mediaBytes > size) mediaBytes = size;
    const std::string media = gDir + "/cut.mp4";
    const std::string journal = media + ".journal";
    if (!writeFile(media, data, mediaBytes) ||
        !writeFile(journal, data + mediaBytes, size - mediaBytes)) {
        perror("write");
        abort();
    }
    qor::recoverRecording(media.c_str());
    unlink(media.c_str());
    unlink(journal.c_str());
    return 0;
}
