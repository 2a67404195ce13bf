/*
 * Writer of a container file from media sources. Its size and duration
 * limits and its listener are kept here, with default setters.
 */
#ifndef MEDIA_WRITER_H_
#define MEDIA_WRITER_H_

#include <stdint.h>

#include <vector>

#include <media/IMediaRecorderClient.h>
#include <utils/RefBase.h>
#include <utils/Errors.h>
#include <utils/String8.h>

#ifndef PLATFORM_LEVEL
#error "PLATFORM_LEVEL comes from the platform target of the build's level"
#endif

namespace android {

struct MediaSource;
class MetaData;

struct MediaWriter : public RefBase {
    MediaWriter() : mMaxFileSizeLimitBytes(0), mMaxFileDurationLimitUs(0) {}

    virtual status_t addSource(const sp<MediaSource>& source) = 0;
    virtual bool reachedEOS() = 0;
    virtual status_t start(MetaData* params = nullptr) = 0;
    virtual status_t stop() = 0;
    virtual status_t pause() = 0;

    virtual void setMaxFileSize(int64_t bytes) { mMaxFileSizeLimitBytes = bytes; }
    virtual void setMaxFileDuration(int64_t durationUs) { mMaxFileDurationLimitUs = durationUs; }
    virtual void setListener(const sp<IMediaRecorderClient>& listener) { mListener = listener; }
    virtual status_t dump(int /*fd*/, const std::vector<String8>& /*args*/) { return OK; }
#if PLATFORM_LEVEL >= 21
    virtual void setStartTimeOffsetMs(int /*ms*/) {}
    virtual int32_t getStartTimeOffsetMs() const { return -1; }
#endif

protected:
    virtual ~MediaWriter() {}

    int64_t mMaxFileSizeLimitBytes;
    int64_t mMaxFileDurationLimitUs;
    sp<IMediaRecorderClient> mListener;

    void notify(int msg, int ext1, int ext2) {
        if (mListener != nullptr) mListener->notify(msg, ext1, ext2);
    }

private:
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;
};

}  // namespace android

#endif  // MEDIA_WRITER_H_
