/*
 * Stands between the writer and one encoder: when the encoder's read()
 * fails, the encoder reads its push source no more, so the source is told
 * at once and the game's pushes to that stream are refused instead of
 * waiting. The encoder may be the system's (a black box) or our own driver.
 *
 * The encoder's reads run on a thread of the watch's, so that a recording
 * can end without an encoder that no longer answers (abandon): the writer's
 * read returns at once, and the encoder's own read, still under way, ends
 * whenever the encoder lets it, with nothing left waiting for it.
 */
#ifndef QOR_ENCODER_WATCH_H_
#define QOR_ENCODER_WATCH_H_

#include <memory>

#include <media/stagefright/MediaSource.h>

#include "android_source/EncodeSource.h"

namespace qor {

class EncoderWatch : public android::MediaSource {
public:
    EncoderWatch(const sp<android::MediaSource>& encoder, const sp<EncodeSource>& pushSource);

    status_t start(android::MetaData* params = nullptr) override;
    // Stops the encoder; after abandon() it is stopped on a thread of its
    // own (a stalled encoder's stop can take seconds) and this returns at once.
    status_t stop() override;
    sp<android::MetaData> getFormat() override;
    status_t read(android::MediaBuffer** buffer, const ReadOptions* options = nullptr) override;
    status_t pause() override;

    // The recording goes on without this encoder: a read waiting for it, and
    // every read after, fail with TIMED_OUT.
    void abandon();
    bool abandoned() const;
    // Whether the writer waits in a read for this encoder (rather than,
    // say, for the disk).
    bool readPending() const;

    // The encoder watched (tests look at their doubles through it).
    const sp<android::MediaSource>& encoder() const { return mEncoder; }

protected:
    ~EncoderWatch() override;

private:
    struct Reader;  // shared with the reading thread, which may outlive the watch
    status_t readThroughThread(android::MediaBuffer** buffer);

    const sp<android::MediaSource> mEncoder;
    const sp<EncodeSource> mPushSource;
    const std::shared_ptr<Reader> mReader;

    EncoderWatch(const EncoderWatch&) = delete;
    EncoderWatch& operator=(const EncoderWatch&) = delete;
};

}  // namespace qor

#endif  // QOR_ENCODER_WATCH_H_
