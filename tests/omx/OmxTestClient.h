// A small IOMX client for the component tests: allocates a node, moves it
// through its states, feeds input and collects output, with every message
// taken from the observer's queue on the test's thread.
#ifndef TESTS_OMX_TEST_CLIENT_H_
#define TESTS_OMX_TEST_CLIENT_H_

#include <OMX_Audio.h>
#include <OMX_Component.h>
#include <OMX_Video.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <binder/MemoryDealer.h>
#include <media/IOMX.h>

namespace qor_test {

using android::sp;
using android::status_t;

class TestObserver : public android::BnOMXObserver {
public:
#if PLATFORM_LEVEL >= 23
    void onMessages(const std::list<android::omx_message>& messages) override;
#else
    void onMessage(const android::omx_message& msg) override;
#endif
    // Takes the next message, waiting up to `timeoutMs`.
    bool next(android::omx_message* msg, int timeoutMs);
    std::set<std::thread::id> threads();
    int callbacks();

private:
    std::mutex mLock;
    std::condition_variable mCond;
    std::deque<android::omx_message> mQueue;
    std::set<std::thread::id> mThreads;
    int mCallbacks = 0;
};

struct Output {
    std::vector<uint8_t> mData;
    uint32_t mFlags;
    int64_t mTimeUs;
};

struct Event {
    OMX_EVENTTYPE mEvent;
    uint32_t mData1, mData2;
};

class OmxTestClient {
public:
    enum BufferMode { kUse, kAllocate, kBackup };

    struct Buffer {
        android::IOMX::buffer_id mId;
        sp<android::IMemory> mMem;
        uint8_t* mData;
        size_t mSize;
        bool mOurs;
    };

    OmxTestClient();
    ~OmxTestClient();

    status_t allocateNode(const char* name);
    void freeNode();
    android::IOMX::node_id node() const { return mNode; }
    const sp<android::IOMX>& omx() const { return mOMX; }
    const sp<TestObserver>& observer() const { return mObserver; }

    template <typename T>
    static void init(T* p) {
        memset(p, 0, sizeof(*p));
        p->nSize = sizeof(*p);
        p->nVersion.s.nVersionMajor = 1;
    }
    template <typename T>
    status_t getParam(OMX_INDEXTYPE index, T* p) {
        return mOMX->getParameter(mNode, index, p, sizeof(*p));
    }
    template <typename T>
    status_t setParam(OMX_INDEXTYPE index, const T* p) {
        return mOMX->setParameter(mNode, index, p, sizeof(*p));
    }
    OMX_PARAM_PORTDEFINITIONTYPE portDef(OMX_U32 port);

    // Video input layout and AVC output settings.
    status_t configureVideo(uint32_t width, uint32_t height, uint32_t stride, uint32_t slice,
                            uint32_t color, int fps, int bitrate, uint32_t pFrames);
    status_t configureAudio(uint32_t rate, uint32_t channels, uint32_t bitrate);

    status_t sendCommand(OMX_COMMANDTYPE cmd, OMX_S32 param);
    status_t allocateBuffers(OMX_U32 port, BufferMode mode);
    status_t freeBuffers(OMX_U32 port);
    // Loaded -> Idle -> Executing with buffers of `mode` on both ports.
    bool start(BufferMode inMode = kUse, BufferMode outMode = kUse);
    // Executing -> Idle -> Loaded, freeing every buffer.
    bool stop();

    status_t fill(Buffer& b);
    status_t fillAll();
    status_t empty(Buffer& b, size_t length, uint32_t flags, int64_t timeUs);
    Buffer* freeInput();

    // Handles messages until `done` is true; false after `timeoutMs`
    // without it.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000);
    bool waitForEvent(OMX_EVENTTYPE event, uint32_t data1, uint32_t data2, int timeoutMs = 5000);
    bool waitForState(OMX_STATETYPE state) {
        return waitForEvent(OMX_EventCmdComplete, OMX_CommandStateSet, state);
    }
    bool allOurs(OMX_U32 port) const;

    // Feeds the frames (each with time i * frameUs), then an empty EOS
    // buffer, and waits for the EOS output.
    bool encode(const std::vector<std::vector<uint8_t>>& frames, int64_t frameUs,
                int64_t firstUs = 0);
    // The same with a time per frame; the EOS buffer gets `eosUs`.
    bool encode(const std::vector<std::vector<uint8_t>>& frames,
                const std::vector<int64_t>& times, int64_t eosUs);

    std::vector<Buffer> mBuffers[2];
    std::vector<Output> mOutputs;
    std::vector<Event> mEvents;
    bool mRefill = true;  // give filled output buffers straight back
    bool mSawEOS = false;

private:
    void handle(const android::omx_message& msg);

    sp<android::IOMX> mOMX;
    sp<TestObserver> mObserver;
    android::IOMX::node_id mNode;
    bool mHasNode = false;
    sp<android::MemoryDealer> mDealer[2];
};

// Test frames and measurements.
struct Yuv {
    uint32_t mWidth, mHeight;
    std::vector<uint8_t> mY, mU, mV;  // tight planes, chroma (w+1)/2 x (h+1)/2
};
Yuv makeFrame(uint32_t width, uint32_t height, int index);
// Lays a frame out as `color` with the given stride and slice height.
std::vector<uint8_t> layout(const Yuv& f, uint32_t color, uint32_t stride, uint32_t slice,
                            size_t size);
double psnr(const Yuv& a, const uint8_t* i420);

// Writes the bytes to a temporary file and returns its path.
std::string writeTemp(const std::string& suffix, const std::vector<uint8_t>& data);
std::vector<uint8_t> readFile(const std::string& path);
// Runs a command; true when it exits with 0.
bool run(const std::string& command);

}  // namespace qor_test

#endif  // TESTS_OMX_TEST_CLIENT_H_
