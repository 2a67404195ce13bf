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
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <OMX_Audio.h>
#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Video.h>

#include <android-base/thread_annotations.h>
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

#include "common/MediaBufferRef.h"

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

    status_t start(android::MetaData* params = nullptr) override EXCLUDES(mLock);
    status_t stop() override EXCLUDES(mLock);
    sp<android::MetaData> getFormat() override EXCLUDES(mLock);
    status_t read(android::MediaBuffer** buffer, const ReadOptions* options = nullptr) override
        EXCLUDES(mLock);
    status_t pause() override EXCLUDES(mLock);
    // A client gave an output buffer back (MediaBuffer::release).
    void signalBufferReturned(android::MediaBuffer* buffer) override EXCLUDES(mLock);

    // Called by the observer with mLock held, once per message.
    void on_message(const android::omx_message& msg) REQUIRES(mLock);

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
    // Time limits: a component answering a command, starting, and
    // producing output for input it holds (an encoder that keeps a few
    // frames gives them back when more input comes).
    static const int64_t kCommandTimeoutNs = 1000000000LL;
    static const int64_t kStartTimeoutNs = 3000000000LL;
    static const int64_t kStallTimeoutNs = 1000000000LL;
    // After a failure: how long the component may pause between frames it
    // still hands back.
    static const int64_t kHeldOutputWaitNs = 250000000LL;

    State state() EXCLUDES(mLock) {
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

    // Frees an output buffer the driver made, once no client holds it.
    struct OutputBufferDeleter {
        void operator()(android::MediaBuffer* buffer) const;
    };
    using OutputBuffer = std::unique_ptr<android::MediaBuffer, OutputBufferDeleter>;

    struct BufferInfo {
        android::IOMX::buffer_id mBuffer = 0;
        BufferStatus mStatus = OWNED_BY_US;
        sp<android::IMemory> mMem;
        size_t mSize = 0;
        void* mData = nullptr;
        // Output port: the buffer read() hands out, over mData.
        OutputBuffer mOutputBuffer;
        // Input port: the source's buffer the component reads in place
        // (meta data or secure input), held until the component is done.
        MediaBufferRef mSourceBuffer;
    };

    using CodecSpecificData = std::vector<uint8_t>;

    OMXCodec(const sp<android::IOMX>& omx, android::IOMX::node_id node, uint32_t quirks,
             uint32_t flags, bool isEncoder, const char* mime, const char* componentName,
             const sp<android::MediaSource>& source, const sp<ANativeWindow>& nativeWindow);

    // Creation (OMXCodecCreate.cpp)
    void setComponentRole();

    // State machine (OMXCodecStates.cpp)
    status_t init() REQUIRES(mLock);
    void setState(State newState) REQUIRES(mLock);
    void onCmdComplete(OMX_COMMANDTYPE cmd, OMX_U32 data) REQUIRES(mLock);
    void onStateChange(OMX_STATETYPE newState) REQUIRES(mLock);
    void onIdleReached() REQUIRES(mLock);
    bool checkAllBuffersReturned(OMX_U32 portIndex) REQUIRES(mLock);
    void onPortDisabled(OMX_U32 portIndex) REQUIRES(mLock);
    void reenableOutputPort(OMX_U32 portIndex) REQUIRES(mLock);
    void onPortEnabled(OMX_U32 portIndex) REQUIRES(mLock);
    void onFlushComplete(OMX_U32 portIndex) REQUIRES(mLock);
    void onPortSettingsChanged(OMX_U32 portIndex) REQUIRES(mLock);
    status_t stopOmxComponent_l() REQUIRES(mLock);
    void waitWhileInTransition() REQUIRES(mLock);
    // Waits on mAsyncCompletion until `done` or `timeoutNs` passed; a
    // component that does not answer in time is failed (ERROR). True when
    // `done` became true.
    template <typename Done>
    bool waitForCompletion(Done done, int64_t timeoutNs, const char* what) REQUIRES(mLock);
    // Ends the codec: ERROR, and the source is told so that its producer
    // stops waiting for a reader.
    void fail(const char* why) REQUIRES(mLock);
    bool expected(bool condition, const char* what) REQUIRES(mLock);
    // A component that holds input but gave nothing back for too long.
    bool componentStalled() REQUIRES(mLock);
    bool componentHoldsInput() REQUIRES(mLock);
    void waitForHeldOutput() REQUIRES(mLock);
    void noteProgress() REQUIRES(mLock);
    bool stillRunningAfterError() REQUIRES(mLock);
    void stopFromExecuting(bool backToError) REQUIRES(mLock);

    // Configuration (OMXCodecConfigure.cpp)
    status_t configureCodec(const sp<android::MetaData>& meta) EXCLUDES(mLock);
    void collectCodecSpecificData(const sp<android::MetaData>& meta) REQUIRES(mLock);
    status_t configureAudio(const sp<android::MetaData>& meta, int32_t bitRate) REQUIRES(mLock);
    status_t enableThumbnailMode() REQUIRES(mLock);
    void addCodecSpecificData(const void* data, size_t size) REQUIRES(mLock);
    void clearCodecSpecificData() REQUIRES(mLock);
    status_t setVideoPortFormatType(OMX_U32 portIndex, OMX_VIDEO_CODINGTYPE compressionFormat,
                                    OMX_COLOR_FORMATTYPE colorFormat) REQUIRES(mLock);
    status_t setVideoInputFormat(const char* mime, const sp<android::MetaData>& meta)
        REQUIRES(mLock);
    status_t setVideoInputPortDefinition(OMX_COLOR_FORMATTYPE colorFormat, int32_t width,
                                         int32_t height, int32_t stride, int32_t sliceHeight,
                                         int32_t frameRate) REQUIRES(mLock);
    status_t setVideoOutputPortDefinition(OMX_VIDEO_CODINGTYPE compressionFormat, int32_t width,
                                          int32_t height, int32_t bitRate) REQUIRES(mLock);
    status_t refused(const char* what, status_t err) REQUIRES(mLock);
    status_t setupAVCEncoderParameters(const sp<android::MetaData>& meta) REQUIRES(mLock);
    status_t setupBitRate(int32_t bitRate) REQUIRES(mLock);
    status_t getVideoProfileLevel(const sp<android::MetaData>& meta,
                                  const OMX_VIDEO_PARAM_PROFILELEVELTYPE& defaultProfileLevel,
                                  OMX_VIDEO_PARAM_PROFILELEVELTYPE& profileLevel) REQUIRES(mLock);
    status_t isColorFormatSupported(OMX_COLOR_FORMATTYPE colorFormat, int portIndex)
        REQUIRES(mLock);
    status_t findTargetColorFormat(const sp<android::MetaData>& meta,
                                   OMX_COLOR_FORMATTYPE* colorFormat) REQUIRES(mLock);
    status_t setAACFormat(int32_t numChannels, int32_t sampleRate, int32_t bitRate,
                          int32_t aacProfile, bool isADTS) REQUIRES(mLock);
    status_t setAACEncoderFormat(int32_t numChannels, int32_t sampleRate, int32_t bitRate,
                                 int32_t aacProfile) REQUIRES(mLock);
    status_t setAACDecoderFormat(int32_t numChannels, int32_t sampleRate, bool isADTS)
        REQUIRES(mLock);
    status_t selectAACOutputEncoding() REQUIRES(mLock);
    status_t setRawAudioFormat(OMX_U32 portIndex, int32_t sampleRate, int32_t numChannels)
        REQUIRES(mLock);
    status_t setMinBufferSize(OMX_U32 portIndex, OMX_U32 size) REQUIRES(mLock);
    void initOutputFormat(const sp<android::MetaData>& inputFormat) REQUIRES(mLock);
    void describeOutputPort(const OMX_PARAM_PORTDEFINITIONTYPE& def,
                            const sp<android::MetaData>& inputFormat) REQUIRES(mLock);

    // Ports and buffers (OMXCodecBuffers.cpp)
    status_t allocateBuffers() REQUIRES(mLock);
    status_t allocateBuffersOnPort(OMX_U32 portIndex) REQUIRES(mLock);
    status_t checkPortMayAllocate(OMX_U32 portIndex) REQUIRES(mLock);
    bool componentAllocatesOn(OMX_U32 portIndex) REQUIRES(mLock);
    status_t allocateBuffer(OMX_U32 portIndex, const OMX_PARAM_PORTDEFINITIONTYPE& def)
        REQUIRES(mLock);
    void setUpSkipCutBuffer() REQUIRES(mLock);
    status_t shareInputBuffersWithSource() REQUIRES(mLock);
    status_t freeBuffer(OMX_U32 portIndex, size_t bufIndex) REQUIRES(mLock);
    status_t freeBuffersOnPort(OMX_U32 portIndex, bool onlyThoseWeOwn = false) REQUIRES(mLock);
    bool readerHoldsOutput() REQUIRES(mLock);
    // False when the component refused the command (the codec failed).
    bool sendPortCommand(OMX_COMMANDTYPE cmd, OMX_U32 portIndex, PortStatus during) REQUIRES(mLock);
    bool flushPortAsync(OMX_U32 portIndex) REQUIRES(mLock);
    void disablePortAsync(OMX_U32 portIndex) REQUIRES(mLock);
    status_t enablePortAsync(OMX_U32 portIndex) REQUIRES(mLock);
    static size_t countBuffersWeOwn(const std::vector<BufferInfo>& buffers);
    static const char* portName(OMX_U32 portIndex);
    bool weOwnAllBuffersOn(OMX_U32 portIndex) REQUIRES(mLock);
    BufferInfo* findInputBufferByDataPointer(void* ptr) REQUIRES(mLock);
    BufferInfo* findEmptyInputBuffer() REQUIRES(mLock);

    // The service's messages (OMXCodecEvents.cpp)
    void onEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2) REQUIRES(mLock);
    void onPortDefinitionChanged(OMX_U32 portIndex) REQUIRES(mLock);
    void onOutputConfigChanged(OMX_U32 configIndex) REQUIRES(mLock);
    void applyOutputScale() REQUIRES(mLock);
    size_t findBufferIndex(OMX_U32 portIndex, android::IOMX::buffer_id buffer) REQUIRES(mLock);
    void onEmptyBufferDone(android::IOMX::buffer_id buffer) REQUIRES(mLock);
    void onFillBufferDone(const android::omx_message& msg) REQUIRES(mLock);

    // The MediaSource face (OMXCodecSource.cpp)
    void resetStreamState() REQUIRES(mLock);
    status_t startEncoder(const sp<android::MetaData>& params) REQUIRES(mLock);
    void submitInitialBuffers(bool* seeking, int64_t seekTimeUs, ReadOptions::SeekMode seekMode)
        REQUIRES(mLock);
    status_t seek_l(int64_t seekTimeUs, ReadOptions::SeekMode seekMode) REQUIRES(mLock);
    status_t takeFilledBuffer(android::MediaBuffer** buffer) REQUIRES(mLock);
    status_t waitForOutput() REQUIRES(mLock);

    // Input feeding (OMXCodecFeeder.cpp): a thread of the driver's own reads
    // the source without mLock, so that neither the service's callbacks nor
    // read() ever wait for the source's next buffer.
    void startFeeder() REQUIRES(mLock);
    void stopFeeder() EXCLUDES(mLock);
    void feedLoop() EXCLUDES(mLock);
    bool mayFeed() REQUIRES(mLock);
    bool streamRuns() REQUIRES(mLock);
    bool inputBufferFree() REQUIRES(mLock);
    void feedOne() REQUIRES(mLock);
    void submitSourceResult(status_t err, MediaBufferRef srcBuffer) REQUIRES(mLock);

    // Data flow (OMXCodecDataFlow.cpp)
    void drainInputBuffers() REQUIRES(mLock);
    bool submitCodecSpecificData(BufferInfo* info) REQUIRES(mLock);
    ReadOptions takePendingSeek() REQUIRES(mLock);
    bool submitEndOfStream(BufferInfo* info, status_t finalStatus) REQUIRES(mLock);
    bool submitSourceBuffer(BufferInfo* info, MediaBufferRef srcBuffer) REQUIRES(mLock);
    int64_t copySourceBuffer(BufferInfo* info, MediaBufferRef srcBuffer, size_t* length)
        REQUIRES(mLock);
    void fillOutputBuffers() REQUIRES(mLock);
    void fillOutputBuffer(BufferInfo* info) REQUIRES(mLock);
    bool filledRangeFits(BufferInfo* info, const android::omx_message& msg) REQUIRES(mLock);
    void deliverFilledBuffer(BufferInfo* info, const android::omx_message& msg) REQUIRES(mLock);
    bool describeFilledBuffer(android::MediaBuffer* buffer, const android::omx_message& msg)
        REQUIRES(mLock);
    int64_t getDecodingTimeUs(int64_t timeUs) REQUIRES(mLock);
    status_t emptyBuffer_l(android::IOMX::buffer_id buffer, OMX_U32 offset, OMX_U32 length,
                           OMX_U32 flags, OMX_TICKS timestamp) REQUIRES(mLock);
    status_t fillBuffer_l(android::IOMX::buffer_id buffer) REQUIRES(mLock);

    // Set at construction and only read after it.
    const sp<android::IOMX> mOMX;
    const bool mOMXLivesLocally;
    const android::IOMX::node_id mNode;
    const uint32_t mFlags;
    const bool mIsEncoder;
    const bool mIsVideo;
    const std::string mMIME;
    const std::string mComponentName;
    const sp<ANativeWindow> mNativeWindow;
    // Set at construction; the destructor lets it go before the node.
    sp<android::MediaSource> mSource;

    // Lock order: mLock before the source's own locks (start() and stop()
    // reach the source with mLock held; the feeder reads it without) and
    // before the service's;
    // the service delivers its messages on its own threads and takes mLock
    // through the observer, never while it holds a lock of its own. Clients
    // give output buffers back (signalBufferReturned) without holding mLock.
    android::Mutex mLock;
    android::Condition mAsyncCompletion;  // a state transition finished
    android::Condition mBufferFilled;     // output, end of stream, error or seek handed on

    uint32_t mQuirks GUARDED_BY(mLock);
    sp<android::MetaData> mOutputFormat GUARDED_BY(mLock);
    std::vector<CodecSpecificData> mCodecSpecificData GUARDED_BY(mLock);
    size_t mCodecSpecificDataIndex GUARDED_BY(mLock);
    sp<android::MemoryDealer> mDealer[2] GUARDED_BY(mLock);
    State mState GUARDED_BY(mLock);
    std::vector<BufferInfo> mPortBuffers[2] GUARDED_BY(mLock);
    PortStatus mPortStatus[2] GUARDED_BY(mLock);
    bool mInitialBufferSubmit GUARDED_BY(mLock);
    bool mSignalledEOS GUARDED_BY(mLock);
    status_t mFinalStatus GUARDED_BY(mLock);
    bool mNoMoreOutputData GUARDED_BY(mLock);
    bool mOutputPortSettingsHaveChanged GUARDED_BY(mLock);
    int64_t mSeekTimeUs GUARDED_BY(mLock);
    ReadOptions::SeekMode mSeekMode GUARDED_BY(mLock);
    int64_t mTargetTimeUs GUARDED_BY(mLock);
    bool mOutputPortSettingsChangedPending GUARDED_BY(mLock);
    sp<android::SkipCutBuffer> mSkipCutBuffer GUARDED_BY(mLock);
    bool mPaused GUARDED_BY(mLock);
    std::list<size_t> mFilledBuffers GUARDED_BY(mLock);
    std::list<int64_t> mDecodingTimeList GUARDED_BY(mLock);
    int64_t mLastDecodingTimeUs GUARDED_BY(mLock) = 0;
    // Presentation time of the last output that took a decoding time.
    int64_t mLastOutputTimeUs GUARDED_BY(mLock) = -1;

    // The feeder: runs from a successful start() to stop(); woken through
    // mInputReady whenever feeding may go on.
    std::thread mFeeder;
    android::Condition mInputReady;
    bool mFeederExit GUARDED_BY(mLock) = false;
    // Bumped by a flush: a buffer read before it belongs to the old stream.
    uint32_t mFeedGeneration GUARDED_BY(mLock) = 0;
    // Monotonic time of the component's last sign of life (a buffer in or
    // back); the stall detection measures from it.
    int64_t mLastProgressNs GUARDED_BY(mLock) = 0;
    // The component stopped answering (a stall, a command never completed):
    // stop does not wait for it again.
    bool mUnresponsive GUARDED_BY(mLock) = false;
    // The component lied about a filled range: its later output cannot be
    // trusted (the frames after the lost one refer to it) and is not
    // delivered.
    bool mOutputLost GUARDED_BY(mLock) = false;
    // Frames given to the component whose encoded output has not come back.
    int64_t mFramesInFlight GUARDED_BY(mLock) = 0;

    OMXCodec(const OMXCodec&) = delete;
    OMXCodec& operator=(const OMXCodec&) = delete;
};

// Receives the service's messages for one codec and hands them over under
// the codec's lock. Holds only a weak reference to the codec.
class OMXCodecObserver : public android::BnOMXObserver {
public:
    OMXCodecObserver() {}
    // The service may already deliver on its threads while this is set.
    void setCodec(const sp<OMXCodec>& target) EXCLUDES(mLock);

#if PLATFORM_LEVEL >= 23
    void onMessages(const std::list<android::omx_message>& messages) override EXCLUDES(mLock);
#else
    void onMessage(const android::omx_message& msg) override EXCLUDES(mLock);
#endif

private:
    sp<OMXCodec> target() EXCLUDES(mLock);

    // Taken only to read or write mTarget, never with the codec's lock.
    android::Mutex mLock;
    android::wp<OMXCodec> mTarget GUARDED_BY(mLock);
};

}  // namespace qor

#endif  // QOR_OMX_CODEC_H_
