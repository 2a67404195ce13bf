/*
 * What the recorder hears from its writer while recording: the disk failed
 * (every push is dropped at once from then on), or chunks pile up waiting
 * for a slow disk (video frames are dropped before they are encoded, so
 * the stream stays decodable and memory stays bounded; sound is kept).
 */
#ifndef QOR_WRITER_EVENTS_H_
#define QOR_WRITER_EVENTS_H_

#include <stdint.h>

#include <atomic>

#include <media/IMediaRecorderClient.h>

namespace qor {

class WriterEvents : public android::IMediaRecorderClient {
public:
    // Called on the writer's threads, possibly under its lock: flags only.
    void notify(int msg, int ext1, int ext2) override;

    // A new recording: what the writers of earlier ones still report (one
    // completed in the background) is ignored from now on.
    void reset();
    // The listener to give this recording's writer.
    android::sp<android::IMediaRecorderClient> listenerForRecording();
    bool diskFailed() const { return mDiskFailed.load(); }
    // True when a video frame should be dropped; counts it.
    bool dropVideoFrame();
    uint32_t droppedVideoFrames() const { return mDropped.load(); }

private:
    std::atomic<bool> mDiskFailed{false};
    std::atomic<bool> mBacklogged{false};
    std::atomic<uint32_t> mDropped{0};
    std::atomic<uint32_t> mRecording{0};
};

}  // namespace qor

#endif  // QOR_WRITER_EVENTS_H_
