/*
 * Stands between the writer and one encoder: when the encoder's read()
 * fails, the encoder reads its push source no more, so the source is told
 * at once and the game's pushes to that stream are refused instead of
 * waiting. The encoder may be the system's (a black box) or our own driver.
 */
#ifndef QOR_ENCODER_WATCH_H_
#define QOR_ENCODER_WATCH_H_

#include <media/stagefright/MediaSource.h>

#include "android_source/EncodeSource.h"

namespace qor {

class EncoderWatch : public android::MediaSource {
public:
    EncoderWatch(const sp<android::MediaSource>& encoder, const sp<EncodeSource>& pushSource);

    status_t start(android::MetaData* params = nullptr) override;
    status_t stop() override;
    sp<android::MetaData> getFormat() override;
    status_t read(android::MediaBuffer** buffer, const ReadOptions* options = nullptr) override;
    status_t pause() override;

    // The encoder watched (tests look at their doubles through it).
    const sp<android::MediaSource>& encoder() const { return mEncoder; }

private:
    const sp<android::MediaSource> mEncoder;
    const sp<EncodeSource> mPushSource;

    EncoderWatch(const EncoderWatch&) = delete;
    EncoderWatch& operator=(const EncoderWatch&) = delete;
};

}  // namespace qor

#endif  // QOR_ENCODER_WATCH_H_
