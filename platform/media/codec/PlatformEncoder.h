/*
 * The platform's plain encoder client: a MediaSource that encodes the raw
 * buffers of `source` with one OpenMAX IL component of the service.
 *
 * read() returns copies of the component's output with 'time', 'sync',
 * 'conf' and, for video, 'decT' (the presentation time: the stream has no
 * B frames). Input is pulled from the source inside read(), one source
 * buffer per input buffer; each source buffer is released right after it
 * was copied. When the source's read fails the encoder drains and read()
 * ends with ERROR_END_OF_STREAM.
 */
#ifndef PLATFORM_ENCODER_H_
#define PLATFORM_ENCODER_H_

#include <deque>
#include <string>
#include <vector>

#include <binder/MemoryDealer.h>
#include <media/IOMX.h>
#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <utils/Condition.h>
#include <utils/Mutex.h>

namespace android {

class PlatformEncoder : public MediaSource {
public:
    // Allocates the node `componentName` and configures it for `meta`;
    // null when either fails.
    static sp<PlatformEncoder> Create(const sp<IOMX>& omx, const char* componentName,
                                      const sp<MetaData>& meta, const sp<MediaSource>& source);

    status_t start(MetaData* params = nullptr) override;
    status_t stop() override;
    sp<MetaData> getFormat() override;
    status_t read(MediaBuffer** buffer, const ReadOptions* options = nullptr) override;

    void onMessage(const omx_message& msg);

protected:
    ~PlatformEncoder() override;

private:
    struct Buffer {
        IOMX::buffer_id mId;
        sp<IMemory> mMem;
        uint8_t* mData;
        size_t mSize;
        bool mOurs;
    };

    PlatformEncoder(const sp<IOMX>& omx, const char* componentName, const sp<MetaData>& meta,
                    const sp<MediaSource>& source, bool isVideo);

    status_t configure();
    status_t configureVideo();
    status_t configureAudio();
    status_t allocatePort(OMX_U32 port);
    void freeBuffers();
    // Waits (mLock held) for the component to reach `state`; fails on an
    // error event or after a few seconds.
    status_t waitForState(OMX_STATETYPE state);
    void shutdownComponent();
    status_t fillBuffer(Buffer& b);
    bool feedOneInput();  // mLock held; may release it while reading the source

    template <typename T>
    void initParams(T* params) {
        memset(params, 0, sizeof(*params));
        params->nSize = sizeof(*params);
        params->nVersion.s.nVersionMajor = 1;
    }

    sp<IOMX> mOMX;
    IOMX::node_id mNode;
    bool mHasNode;
    std::string mName;
    sp<MetaData> mMeta;
    sp<MediaSource> mSource;
    const bool mIsVideo;
    bool mAllocInput, mAllocOutput;  // the component wants its own buffers
    sp<MetaData> mFormat;

    Mutex mLock;
    Condition mCond;
    OMX_STATETYPE mState;
    bool mError;
    bool mStarted;
    bool mStopping;
    bool mInputEOS;
    bool mOutputEOS;
    bool mReading;  // a source read is under way (mLock released)
    sp<MemoryDealer> mDealer[2];
    std::vector<Buffer> mBuffers[2];
    std::deque<MediaBuffer*> mOutput;
};

}  // namespace android

#endif  // PLATFORM_ENCODER_H_
