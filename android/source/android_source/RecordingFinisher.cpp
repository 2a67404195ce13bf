#define LOG_TAG "qor_codec"
#include "android_source/RecordingFinisher.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <utils/Log.h>

#include "android_source/EncoderWatch.h"

namespace qor {

namespace {

// The recorder's encoders are always watched (see AndroidCodecSetup.cpp).
EncoderWatch* watchOf(const sp<android::MediaSource>& encoder) {
    return static_cast<EncoderWatch*>(encoder.get());
}

// Ends the track of an encoder that will not end its stream: its file
// content ends at its last sample; the encoder is stopped in the background.
bool abandonEncoder(const sp<android::MediaSource>& encoder) {
    if (encoder == nullptr || watchOf(encoder)->abandoned()) return false;
    watchOf(encoder)->abandon();
    return true;
}

bool abandonWaitingEncoder(const sp<android::MediaSource>& encoder) {
    return encoder != nullptr && watchOf(encoder)->readPending() && abandonEncoder(encoder);
}

android::status_t runJob(const FinishJob& job, std::atomic<bool>* writing) {
    const char* model = job.model.string();
    bool abandoned = false;
    if (job.videoSource != nullptr) job.videoSource->signalEOS();
    if (job.audioSource != nullptr) job.audioSource->signalEOS();
    // A stalled encoder will never read the end of its stream.
    if (job.videoSource != nullptr && job.videoSource->stalled()) {
        ALOGE("[%s] stop: the video encoder stalled.", model);
        abandoned |= abandonEncoder(job.videoEncoder);
    }
    if (job.audioSource != nullptr && job.audioSource->stalled()) {
        ALOGE("[%s] stop: the audio encoder stalled.", model);
        abandoned |= abandonEncoder(job.audioEncoder);
    }
    // A healthy encoder hands out the rest of its stream within this time.
    const int kPollUs = 20000, kMaxPolls = kTrackEndLimitUs / kPollUs;
    int polls = 0;
    while (!job.writer->reachedEOS() && polls < kMaxPolls) {
        usleep(kPollUs);
        ++polls;
    }
    if (polls == kMaxPolls) {
        // Only a track that waits for its encoder is let go; one that waits
        // for the disk is the disk's (see finishRecording).
        ALOGE("[%s] stop: a track did not end in time.", model);
        abandoned |= abandonWaitingEncoder(job.videoEncoder);
        abandoned |= abandonWaitingEncoder(job.audioEncoder);
    }
    writing->store(true);
    android::status_t err = job.writer->stop();
    if (job.droppedVideoFrames > 0) {
        ALOGW("[%s] %u video frames were dropped while the disk was behind.", model,
              job.droppedVideoFrames);
    }
    // An abandoned encoder may still read what it was handed.
    return abandoned ? kStopInBackground : err;
}

struct Outcome {
    std::atomic<bool> writing{false};  // the encoders are done with
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    android::status_t result = android::OK;
};

}  // namespace

android::status_t finishRecording(FinishJob job, int64_t limitUs) {
    std::shared_ptr<Outcome> outcome = std::make_shared<Outcome>();
    const android::String8 model = job.model;
    try {
        std::thread([job, outcome] {
            const android::status_t result = runJob(job, &outcome->writing);
            std::lock_guard<std::mutex> hold(outcome->lock);
            outcome->result = result;
            outcome->done = true;
            outcome->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        ALOGW("[%s] stop: no thread to finish on; finishing here.", model.string());
        return runJob(job, &outcome->writing);
    }
    std::unique_lock<std::mutex> hold(outcome->lock);
    auto done = [&] { return outcome->done; };
    // What is left after the encoders is the disk's: a slow one is waited
    // for a while longer, as the file's completeness is the stop's result.
    if (outcome->ended.wait_for(hold, std::chrono::microseconds(limitUs), done) ||
        (outcome->writing.load() &&
         outcome->ended.wait_for(hold, std::chrono::microseconds(kDiskLimitUs), done))) {
        return outcome->result;
    }
    ALOGE("[%s] stop: the recording did not end in time; its file is completed in the background.",
          model.string());
    return kStopInBackground;
}

}  // namespace qor
