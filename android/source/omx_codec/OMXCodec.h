/*
 * The system's own OpenMAX IL client: a MediaSource whose read() returns the
 * access units that one encoder component produces from the raw frames or
 * PCM of an upstream source. It drives the component through the platform's
 * IOMX service; the service's messages come back through OMXCodecObserver.
 */
#ifndef QOR_OMX_CODEC_H_
#define QOR_OMX_CODEC_H_

#include <stdint.h>

#include <list>
#include <vector>

#include <OMX_Audio.h>
#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Video.h>

#include <binder/MemoryDealer.h>
#include <media/IOMX.h>
#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaSource.h>
#include <media/stagefright/MetaData.h>
#include <media/stagefright/SkipCutBuffer.h>
#include <system/window.h>
#include <utils/Condition.h>
#include <utils/Mutex.h>
#include <utils/String8.h>

namespace qor {

using android::sp;
using android::status_t;

class OMXCodecObserver;

struct CodecNameAndQuirks {
    android::String8 mName;
    uint32_t mQuirks;
};

class OMXCodec : public android::MediaSource, public android::MediaBufferObserver {
public:
    enum CreationFlags {
        kPreferSoftwareCodecs = 0x01,
        kIgnoreCodecSpecificData = 0x02,
        kClientNeedsFramebuffer = 0x04,
        kSoftwareCodecsOnly = 0x08,
        kHardwareCodecsOnly = 0x10,
        kStoreMetaDataInVideoBuffers = 0x20,
        kOnlySubmitOneInputBufferAtOneTime = 0x40,
        kEnableGrallocUsageProtected = 0x80,
        kUseSecureInputBuffers = 0x100,
    };

    enum Quirks {
        kRequiresAllocateBufferOnInputPorts = 0x08,
        kRequiresAllocateBufferOnOutputPorts = 0x20,
        kOutputBuffersAreUnreadable = 0x1000,
    };

    static sp<android::MediaSource> Create(const sp<android::IOMX>& omx,
                                           const sp<android::MetaData>& meta, bool createEncoder,
                                           const sp<android::MediaSource>& source,
                                           const char* matchComponentName = nullptr,
                                           uint32_t flags = 0,
                                           const sp<ANativeWindow>& nativeWindow = nullptr);

    // Candidate components for `mime`, in the platform's (or, with flag
    // kPreferSoftwareCodecs, software-first) order.
    static void findMatchingCodecs(const char* mime, bool createEncoder,
                                   const char* matchComponentName, uint32_t flags,
                                   std::vector<CodecNameAndQuirks>* matchingCodecs);
    static void setComponentRole(const sp<android::IOMX>& omx, android::IOMX::node_id node,
                                 bool isEncoder, const char* mime);
    static status_t getOMXChannelMapping(size_t numChannels, OMX_AUDIO_CHANNELTYPE map[]);

    status_t start(android::MetaData* params = nullptr) override;
    status_t stop() override;
    sp<android::MetaData> getFormat() override;
    status_t read(android::MediaBuffer** buffer, const ReadOptions* options = nullptr) override;
    status_t pause() override;
    void signalBufferReturned(android::MediaBuffer* buffer) override;

    // Called by the observer with mLock held, once per message.
    void on_message(const android::omx_message& msg);

    enum State {
        DEAD = 0,
        LOADED = 1,
        LOADED_TO_IDLE = 2,
        IDLE_TO_EXECUTING = 3,
        EXECUTING = 4,
        EXECUTING_TO_IDLE = 5,
        IDLE_TO_LOADED = 6,
        RECONFIGURING = 7,
        ERROR = 8,
    };

    // For tests.
    State state() {
        android::Mutex::Autolock autoLock(mLock);
        return mState;
    }

protected:
    ~OMXCodec() override;

private:
    friend class OMXCodecObserver;

    enum { kPortIndexInput = 0, kPortIndexOutput = 1 };

    enum PortStatus {
        ENABLED = 0,
        DISABLING = 1,
        DISABLED = 2,
        ENABLING = 3,
        SHUTTING_DOWN = 4,
    };

    enum BufferStatus {
        OWNED_BY_US = 0,
        OWNED_BY_COMPONENT = 1,
        OWNED_BY_NATIVE_WINDOW = 2,
        OWNED_BY_CLIENT = 3,
    };

    struct BufferInfo {
        android::IOMX::buffer_id mBuffer;
        BufferStatus mStatus;
        sp<android::IMemory> mMem;
        size_t mSize;
        void* mData;
        android::MediaBuffer* mMediaBuffer;
    };

    struct CodecSpecificData {
        size_t mSize;
        uint8_t* mData;
    };

    OMXCodec(const sp<android::IOMX>& omx, android::IOMX::node_id node, uint32_t quirks,
             uint32_t flags, bool isEncoder, const char* mime, const char* componentName,
             const sp<android::MediaSource>& source, const sp<ANativeWindow>& nativeWindow);

    static uint32_t getComponentQuirks(const android::String8& name, size_t index);

    // Creation and state (OMXCodecCreate.cpp)
    void setComponentRole();
    status_t init();
    void setState(State newState);

    // Configuration (OMXCodecConfigure.cpp)
    status_t configureCodec(const sp<android::MetaData>& meta);
    void addCodecSpecificData(const void* data, size_t size);
    void clearCodecSpecificData();
    status_t setVideoPortFormatType(OMX_U32 portIndex, OMX_VIDEO_CODINGTYPE compressionFormat,
                                    OMX_COLOR_FORMATTYPE colorFormat);
    status_t setVideoInputFormat(const char* mime, const sp<android::MetaData>& meta);
    status_t setupAVCEncoderParameters(const sp<android::MetaData>& meta);
    status_t setupBitRate(int32_t bitRate);
    status_t getVideoProfileLevel(const sp<android::MetaData>& meta,
                                  const OMX_VIDEO_PARAM_PROFILELEVELTYPE& defaultProfileLevel,
                                  OMX_VIDEO_PARAM_PROFILELEVELTYPE& profileLevel);
    status_t isColorFormatSupported(OMX_COLOR_FORMATTYPE colorFormat, int portIndex);
    status_t findTargetColorFormat(const sp<android::MetaData>& meta,
                                   OMX_COLOR_FORMATTYPE* colorFormat);
    status_t setAACFormat(int32_t numChannels, int32_t sampleRate, int32_t bitRate,
                          int32_t aacProfile, bool isADTS);
    void setRawAudioFormat(OMX_U32 portIndex, int32_t sampleRate, int32_t numChannels);
    void setMinBufferSize(OMX_U32 portIndex, OMX_U32 size);
    void initOutputFormat(const sp<android::MetaData>& inputFormat);

    // Ports and buffers (OMXCodecBuffers.cpp)
    status_t allocateBuffers();
    status_t allocateBuffersOnPort(OMX_U32 portIndex);
    status_t freeBuffer(OMX_U32 portIndex, size_t bufIndex);
    status_t freeBuffersOnPort(OMX_U32 portIndex, bool onlyThoseWeOwn = false);
    bool flushPortAsync(OMX_U32 portIndex);
    void disablePortAsync(OMX_U32 portIndex);
    status_t enablePortAsync(OMX_U32 portIndex);
    static size_t countBuffersWeOwn(const std::vector<BufferInfo>& buffers);
    BufferInfo* findInputBufferByDataPointer(void* ptr);
    BufferInfo* findEmptyInputBuffer();

    // Events and state machine (OMXCodecEvents.cpp)
    void onEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2);
    void onCmdComplete(OMX_COMMANDTYPE cmd, OMX_U32 data);
    void onStateChange(OMX_STATETYPE newState);
    void onPortSettingsChanged(OMX_U32 portIndex);
    size_t findBufferIndex(OMX_U32 portIndex, android::IOMX::buffer_id buffer);
    void onEmptyBufferDone(android::IOMX::buffer_id buffer);
    void onFillBufferDone(const android::omx_message& msg);
    status_t stopOmxComponent_l();

    // Data flow (OMXCodecDataFlow.cpp)
    void drainInputBuffers();
    bool drainInputBuffer(BufferInfo* info);
    bool drainAnyInputBuffer();
    void fillOutputBuffers();
    void fillOutputBuffer(BufferInfo* info);
    void deliverFilledBuffer(BufferInfo* info, const android::omx_message& msg);
    int64_t getDecodingTimeUs();
    status_t emptyBuffer_l(android::IOMX::buffer_id buffer, OMX_U32 offset, OMX_U32 length,
                           OMX_U32 flags, OMX_TICKS timestamp);
    status_t fillBuffer_l(android::IOMX::buffer_id buffer);

    sp<android::IOMX> mOMX;
    bool mOMXLivesLocally;
    android::IOMX::node_id mNode;
    uint32_t mQuirks;
    uint32_t mFlags;
    bool mIsEncoder;
    bool mIsVideo;
    char* mMIME;
    char* mComponentName;
    sp<android::MetaData> mOutputFormat;
    sp<android::MediaSource> mSource;
    std::vector<CodecSpecificData> mCodecSpecificData;
    size_t mCodecSpecificDataIndex;
    sp<android::MemoryDealer> mDealer[2];
    State mState;
    std::vector<BufferInfo> mPortBuffers[2];
    PortStatus mPortStatus[2];
    bool mInitialBufferSubmit;
    bool mSignalledEOS;
    status_t mFinalStatus;
    bool mNoMoreOutputData;
    bool mOutputPortSettingsHaveChanged;
    int64_t mSeekTimeUs;
    ReadOptions::SeekMode mSeekMode;
    int64_t mTargetTimeUs;
    bool mOutputPortSettingsChangedPending;
    sp<android::SkipCutBuffer> mSkipCutBuffer;
    android::Mutex mLock;
    android::Condition mAsyncCompletion;
    bool mPaused;
    sp<ANativeWindow> mNativeWindow;
    std::list<size_t> mFilledBuffers;
    android::Condition mBufferFilled;
    std::list<int64_t> mDecodingTimeList;

    OMXCodec(const OMXCodec&) = delete;
    OMXCodec& operator=(const OMXCodec&) = delete;
};

// Receives the service's messages for one codec and hands them over under
// the codec's lock. Holds only a weak reference to the codec.
class OMXCodecObserver : public android::BnOMXObserver {
public:
    OMXCodecObserver() {}
    void setCodec(const sp<OMXCodec>& target) { mTarget = target; }

#if PLATFORM_LEVEL >= 23
    void onMessages(const std::list<android::omx_message>& messages) override;
#else
    void onMessage(const android::omx_message& msg) override;
#endif

private:
    android::wp<OMXCodec> mTarget;
};

}  // namespace qor

#endif  // QOR_OMX_CODEC_H_
