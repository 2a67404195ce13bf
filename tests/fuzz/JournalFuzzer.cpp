// libFuzzer target: the recovery journal's parser fed arbitrary bytes.
#include <stdint.h>
#include <stdlib.h>

#include "mpeg4_writer/Mp4Recovery.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("LUMOKAST_LOG_QUIET", "1", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qor::JournalContents contents;
    qor::parseJournal(data, size, &contents);
    return 0;
}
