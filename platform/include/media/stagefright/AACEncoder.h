/*
 * The platform's software AAC encoder: a MediaSource that encodes the 16-bit
 * PCM of `source` to AAC-LC as `meta` describes (sample rate, channels, bit
 * rate, maximum input size), through the "OMX.google.aac.encoder"
 * component of the OpenMAX IL service.
 */
#ifndef AAC_ENCODER_H_
#define AAC_ENCODER_H_

#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <utils/Mutex.h>

namespace android {

class AACEncoder : public MediaSource {
public:
    AACEncoder(const sp<MediaSource>& source, const sp<MetaData>& meta);

    status_t start(MetaData* params = nullptr) override;
    status_t stop() override;
    sp<MetaData> getFormat() override;
    status_t read(MediaBuffer** buffer, const ReadOptions* options = nullptr) override;

protected:
    ~AACEncoder() override;

private:
    sp<MediaSource> mSource;
    sp<MetaData> mMeta;
    Mutex mLock;
    sp<MediaSource> mEncoder;  // made on first use
    sp<MediaSource> encoder();
};

}  // namespace android

#endif  // AAC_ENCODER_H_
