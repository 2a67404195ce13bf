/*
 * Ends a recording's tracks and completes its file on a thread of its own,
 * so that the game's stop waits a bounded time whatever an encoder does.
 * A recording that cannot end in time goes on in the background: the job
 * owns everything it uses and frees it when its last encoder returns.
 */
#ifndef QOR_RECORDING_FINISHER_H_
#define QOR_RECORDING_FINISHER_H_

#include <stdint.h>

#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MediaWriter.h>
#include <utils/String8.h>

#include "android_source/EncodeSource.h"
#include "common/LibraryResults.h"

namespace qor {

struct FinishJob {
    sp<EncodeSource> videoSource, audioSource;
    sp<android::MediaSource> videoEncoder, audioEncoder;
    sp<android::MediaWriter> writer;
    android::String8 model;  // for log lines
    uint32_t droppedVideoFrames = 0;
};

// The longest a healthy encoder takes to hand out the end of its stream
// after the stop; one that takes longer is abandoned.
const int kTrackEndLimitUs = 1000000;

// How much longer a stop waits for a slow disk once the encoders are done.
const int64_t kDiskLimitUs = 5000000;

// Runs the job; returns its result if it ends within limitUs (plus
// kDiskLimitUs when only the disk is left), else
// kStopInBackground (the job goes on and completes the file when it can).
// The result is kStopInBackground too when an encoder was abandoned (it may
// still read the buffers it was handed).
android::status_t finishRecording(FinishJob job, int64_t limitUs);

}  // namespace qor

#endif  // QOR_RECORDING_FINISHER_H_
