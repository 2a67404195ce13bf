/*
 * Base of the host's OpenMAX IL components: the component state machine
 * (Loaded, Idle, Executing, Pause, Invalid), two ports with their
 * definitions and buffers, buffer ownership, flush, port disable/enable and
 * a worker thread on which commands are carried out and data is processed.
 * Subclasses add their parameters and the processing of queued buffers.
 *
 * Every call returns an OpenMAX error; completions and buffers come back
 * through the Listener, called from the worker thread or from the client's
 * own call (never expected to call back into the component synchronously).
 */
#ifndef PLATFORM_OMX_COMPONENT_H_
#define PLATFORM_OMX_COMPONENT_H_

#include <OMX_Component.h>
#include <OMX_Core.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <host/device_profile.h>

namespace android {

class OmxComponent {
public:
    class Listener {
    public:
        virtual ~Listener() {}
        virtual void onEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2) = 0;
        virtual void onEmptyBufferDone(OMX_BUFFERHEADERTYPE* header) = 0;
        virtual void onFillBufferDone(OMX_BUFFERHEADERTYPE* header) = 0;
    };

    enum { kInputPort = 0, kOutputPort = 1, kNumPorts = 2 };

    OmxComponent(const host::CodecEntry& entry, Listener* listener);
    virtual ~OmxComponent();

    // Starts the worker thread; call once after construction.
    void startWorker();
    // Stops and joins the worker; the component is then inert. Subclasses
    // call it first in their destructors.
    void stopWorker();

    const std::string& name() const { return mEntry.name; }

    OMX_ERRORTYPE sendCommand(OMX_COMMANDTYPE cmd, OMX_U32 param);
    OMX_ERRORTYPE getParameter(OMX_INDEXTYPE index, void* params, size_t size);
    OMX_ERRORTYPE setParameter(OMX_INDEXTYPE index, const void* params, size_t size);
    OMX_ERRORTYPE getConfig(OMX_INDEXTYPE index, void* params, size_t size);
    OMX_ERRORTYPE setConfig(OMX_INDEXTYPE index, const void* params, size_t size);
    OMX_ERRORTYPE getExtensionIndex(const char* name, OMX_INDEXTYPE* index);
    OMX_ERRORTYPE getState(OMX_STATETYPE* state);

    // `data` null: the component allocates the memory itself.
    OMX_ERRORTYPE useBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port, OMX_PTR appPrivate,
                            OMX_U32 size, OMX_U8* data);
    OMX_ERRORTYPE allocateBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port, OMX_PTR appPrivate,
                                 OMX_U32 size);
    OMX_ERRORTYPE freeBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header);
    OMX_ERRORTYPE emptyThisBuffer(OMX_BUFFERHEADERTYPE* header);
    OMX_ERRORTYPE fillThisBuffer(OMX_BUFFERHEADERTYPE* header);

protected:
    typedef std::unique_lock<std::mutex> Lock;

    struct Port {
        OMX_PARAM_PORTDEFINITIONTYPE mDef;
        struct Buffer {
            OMX_BUFFERHEADERTYPE* mHeader;
            bool mOwnsData;
            bool mWithComponent;
        };
        std::vector<Buffer> mBuffers;
        std::deque<OMX_BUFFERHEADERTYPE*> mQueue;  // held, waiting for processing
        enum Transition { NONE, DISABLING, ENABLING } mTransition = NONE;
    };

    // Parameter hooks (called with mLock held). Return
    // OMX_ErrorUnsupportedIndex for indices they do not know.
    virtual OMX_ERRORTYPE internalGetParameter(OMX_INDEXTYPE index, void* params, size_t size);
    virtual OMX_ERRORTYPE internalSetParameter(OMX_INDEXTYPE index, const void* params,
                                               size_t size);
    virtual OMX_ERRORTYPE internalGetConfig(OMX_INDEXTYPE index, void* params, size_t size);
    virtual OMX_ERRORTYPE internalSetConfig(OMX_INDEXTYPE index, const void* params, size_t size);
    virtual OMX_ERRORTYPE internalGetExtensionIndex(const char* name, OMX_INDEXTYPE* index);
    // Validates and completes a port definition the client sets (the
    // writable fields of `def`); copies it into the port on success.
    virtual OMX_ERRORTYPE setPortDefinition(OMX_U32 port,
                                            const OMX_PARAM_PORTDEFINITIONTYPE& def) = 0;
    virtual const char* role() const = 0;

    // Processing hooks, on the worker thread with mLock held in `lock`.
    // onQueueFilled may unlock around long work; the buffers it took stay
    // with the component until it returns them.
    virtual void onQueueFilled(Lock& lock) = 0;
    // Idle -> Executing; an error refuses the transition.
    virtual OMX_ERRORTYPE onStart(Lock& lock) = 0;
    // Executing/Pause -> Idle, after every buffer went back.
    virtual void onStop(Lock& lock) = 0;
    virtual void onPortFlushed(OMX_U32 port, Lock& lock) { (void)port; (void)lock; }

    // Buffer helpers (mLock held).
    OMX_BUFFERHEADERTYPE* peekBuffer(OMX_U32 port);
    OMX_BUFFERHEADERTYPE* takeBuffer(OMX_U32 port);
    void returnBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header);
    // Admits one more input frame for encoding; false when the injected
    // fault "errorafter" fires instead (the component has then failed) or
    // "stallafter" (the component then takes no more steps).
    bool admitFrame();
    // Every byte of an input buffer handed to the client before it fills it.
    static const OMX_U8 kPoisonByte = 0xE3;
    static void poison(OMX_BUFFERHEADERTYPE* header);
    // Reports a processing error and stops processing until Idle.
    void signalError(OMX_ERRORTYPE error);

    static bool checkStruct(const void* params, size_t size, size_t expected);
    template <typename T>
    static bool checkStruct(const void* params, size_t size) {
        return checkStruct(params, size, sizeof(T));
    }
    static void initHeader(void* params, size_t size);
    bool portWritable(OMX_U32 port) const;

    const host::CodecEntry mEntry;
    std::mutex mLock;
    Port mPorts[kNumPorts];
    OMX_STATETYPE mState;
    bool mFailed;  // an error was reported; nothing is processed until Idle
    bool mWorkPending;  // buffers or a state change arrived since the last pass
    // Injected stall: input is still queued, nothing is processed or
    // returned and no command is carried out.
    bool mStalled = false;

private:
    struct Command {
        OMX_COMMANDTYPE mCmd;
        OMX_U32 mParam;
    };

    void workerLoop();
    bool hasWork() const;
    void processCommand(const Command& cmd, Lock& lock);
    void processStateSet(OMX_STATETYPE target, Lock& lock);
    void flushPort(OMX_U32 port);
    void disablePort(OMX_U32 port, Lock& lock);
    void enablePort(OMX_U32 port);
    void checkTransitions();
    bool allEnabledPortsPopulated() const;
    bool noBuffersLeft() const;
    Port::Buffer* findBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header);
    OMX_ERRORTYPE addBuffer(OMX_BUFFERHEADERTYPE** out, OMX_U32 port, OMX_PTR appPrivate,
                            OMX_U32 size, OMX_U8* data);
    OMX_ERRORTYPE queueBuffer(OMX_U32 port, OMX_BUFFERHEADERTYPE* header);

    Listener* const mListener;
    std::condition_variable mCond;
    std::deque<Command> mCommands;
    // A StateSet under way: Idle from Loaded waits for the buffers,
    // Loaded from Idle for their release; others go through the worker.
    OMX_STATETYPE mPendingState;
    bool mStatePending;
    std::string mRole;
    long long mFramesEncoded;
    bool mQuit;
    std::thread mWorker;
};

// Maps an OpenMAX error to the platform status of the service interface.
int32_t statusFromOMXError(OMX_ERRORTYPE err);

}  // namespace android

#endif  // PLATFORM_OMX_COMPONENT_H_
