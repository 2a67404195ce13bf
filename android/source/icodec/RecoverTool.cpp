// lumokast-recover FILE.mp4: mends a recording cut short by a crash or a
// full disk, from the journal next to it. Exit status 0 when the file plays
// afterwards (mended, or complete already), 1 when it does not (the log
// says why).
#include <stdio.h>

#include "mpeg4_writer/Mp4Recovery.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.mp4\n", argv[0]);
        return 1;
    }
    switch (qor::recoverRecording(argv[1])) {
        case qor::RecoveryResult::kRecovered:
            printf("%s: recovered\n", argv[1]);
            return 0;
        case qor::RecoveryResult::kComplete:
            printf("%s: complete already\n", argv[1]);
            return 0;
        case qor::RecoveryResult::kFailed:
            break;
    }
    fprintf(stderr, "%s: not recoverable\n", argv[1]);
    return 1;
}
