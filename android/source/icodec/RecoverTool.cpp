// lumokast-recover FILE.mp4: mends a recording cut short by a crash or a
// full disk, from the journal next to it. Exit status 0 when the file is
// playable (mended, or complete already), 1 when it cannot be mended.
#include <stdio.h>

#include "mpeg4_writer/Mp4Recovery.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.mp4\n", argv[0]);
        return 2;
    }
    switch (qor::recoverRecording(argv[1])) {
        case qor::RecoveryResult::kRecovered:
            printf("%s: recovered\n", argv[1]);
            return 0;
        case qor::RecoveryResult::kNothingToDo:
            printf("%s: nothing to recover\n", argv[1]);
            return 0;
        default:
            fprintf(stderr, "%s: not recoverable\n", argv[1]);
            return 1;
    }
}
