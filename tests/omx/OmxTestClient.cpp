#include "OmxTestClient.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include <binder/ProcessState.h>
#include <media/stagefright/OMXClient.h>

namespace qor_test {

using namespace android;

#if PLATFORM_LEVEL >= 23
void TestObserver::onMessages(const std::list<omx_message>& messages) {
    std::lock_guard<std::mutex> guard(mLock);
    mThreads.insert(std::this_thread::get_id());
    ++mCallbacks;
    for (const omx_message& m : messages) mQueue.push_back(m);
    mCond.notify_all();
}
#else
void TestObserver::onMessage(const omx_message& msg) {
    std::lock_guard<std::mutex> guard(mLock);
    mThreads.insert(std::this_thread::get_id());
    ++mCallbacks;
    mQueue.push_back(msg);
    mCond.notify_all();
}
#endif

bool TestObserver::next(omx_message* msg, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mLock);
    if (!mCond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return !mQueue.empty(); })) {
        return false;
    }
    *msg = mQueue.front();
    mQueue.pop_front();
    return true;
}

std::set<std::thread::id> TestObserver::threads() {
    std::lock_guard<std::mutex> guard(mLock);
    return mThreads;
}

int TestObserver::callbacks() {
    std::lock_guard<std::mutex> guard(mLock);
    return mCallbacks;
}

OmxTestClient::OmxTestClient() : mObserver(new TestObserver), mNode() {
    // Its process takes the service's messages (the benchmarks use it too).
    android::ProcessState::self()->startThreadPool();
    OMXClient client;
    client.connect();
    mOMX = client.interface();
}

OmxTestClient::~OmxTestClient() { freeNode(); }

status_t OmxTestClient::allocateNode(const char* name) {
    status_t err = mOMX->allocateNode(name, mObserver, &mNode);
    mHasNode = err == OK;
    return err;
}

void OmxTestClient::freeNode() {
    if (mHasNode) mOMX->freeNode(mNode);
    mHasNode = false;
}

OMX_PARAM_PORTDEFINITIONTYPE OmxTestClient::portDef(OMX_U32 port) {
    OMX_PARAM_PORTDEFINITIONTYPE def;
    init(&def);
    def.nPortIndex = port;
    getParam(OMX_IndexParamPortDefinition, &def);
    return def;
}

status_t OmxTestClient::configureVideo(uint32_t width, uint32_t height, uint32_t stride,
                                       uint32_t slice, uint32_t color, int fps, int bitrate,
                                       uint32_t pFrames) {
    OMX_PARAM_PORTDEFINITIONTYPE def = portDef(0);
    def.format.video.nFrameWidth = width;
    def.format.video.nFrameHeight = height;
    def.format.video.nStride = stride;
    def.format.video.nSliceHeight = slice;
    def.format.video.xFramerate = fps << 16;
    def.format.video.eColorFormat = (OMX_COLOR_FORMATTYPE)color;
    status_t err = setParam(OMX_IndexParamPortDefinition, &def);
    if (err != OK) return err;
    def = portDef(1);
    def.format.video.nFrameWidth = width;
    def.format.video.nFrameHeight = height;
    def.format.video.nBitrate = bitrate;
    if ((err = setParam(OMX_IndexParamPortDefinition, &def)) != OK) return err;
    OMX_VIDEO_PARAM_AVCTYPE avc;
    init(&avc);
    avc.nPortIndex = 1;
    if ((err = getParam(OMX_IndexParamVideoAvc, &avc)) != OK) return err;
    avc.nPFrames = pFrames;
    if ((err = setParam(OMX_IndexParamVideoAvc, &avc)) != OK) return err;
    OMX_VIDEO_PARAM_BITRATETYPE br;
    init(&br);
    br.nPortIndex = 1;
    if ((err = getParam(OMX_IndexParamVideoBitrate, &br)) != OK) return err;
    br.eControlRate = OMX_Video_ControlRateVariable;
    br.nTargetBitrate = bitrate;
    return setParam(OMX_IndexParamVideoBitrate, &br);
}

status_t OmxTestClient::configureAudio(uint32_t rate, uint32_t channels, uint32_t bitrate) {
    OMX_AUDIO_PARAM_PCMMODETYPE pcm;
    init(&pcm);
    pcm.nPortIndex = 0;
    status_t err = getParam(OMX_IndexParamAudioPcm, &pcm);
    if (err != OK) return err;
    pcm.nChannels = channels;
    pcm.nSamplingRate = rate;
    if ((err = setParam(OMX_IndexParamAudioPcm, &pcm)) != OK) return err;
    OMX_AUDIO_PARAM_AACPROFILETYPE aac;
    init(&aac);
    aac.nPortIndex = 1;
    if ((err = getParam(OMX_IndexParamAudioAac, &aac)) != OK) return err;
    aac.nChannels = channels;
    aac.nSampleRate = rate;
    aac.nBitRate = bitrate;
    return setParam(OMX_IndexParamAudioAac, &aac);
}

status_t OmxTestClient::sendCommand(OMX_COMMANDTYPE cmd, OMX_S32 param) {
    return mOMX->sendCommand(mNode, cmd, param);
}

status_t OmxTestClient::allocateBuffers(OMX_U32 port, BufferMode mode) {
    OMX_PARAM_PORTDEFINITIONTYPE def = portDef(port);
    size_t size = def.nBufferSize;
#if PLATFORM_LEVEL >= 21
    mDealer[port] = new MemoryDealer(size * def.nBufferCountActual, "OmxTestClient", 0);
#else
    mDealer[port] = new MemoryDealer(size * def.nBufferCountActual, "OmxTestClient");
#endif
    for (OMX_U32 i = 0; i < def.nBufferCountActual; ++i) {
        Buffer b;
        b.mSize = size;
        b.mOurs = true;
        status_t err;
        if (mode == kAllocate) {
            void* data = nullptr;
            err = mOMX->allocateBuffer(mNode, port, size, &b.mId, &data);
            b.mData = (uint8_t*)data;
        } else {
            b.mMem = mDealer[port]->allocate(size);
            b.mData = (uint8_t*)b.mMem->pointer();
#if PLATFORM_LEVEL >= 23
            err = mode == kUse ? mOMX->useBuffer(mNode, port, b.mMem, &b.mId, size)
                               : mOMX->allocateBufferWithBackup(mNode, port, b.mMem, &b.mId, size);
#else
            err = mode == kUse ? mOMX->useBuffer(mNode, port, b.mMem, &b.mId)
                               : mOMX->allocateBufferWithBackup(mNode, port, b.mMem, &b.mId);
#endif
        }
        if (err != OK) return err;
        mBuffers[port].push_back(b);
    }
    return OK;
}

status_t OmxTestClient::freeBuffers(OMX_U32 port) {
    status_t result = OK;
    for (Buffer& b : mBuffers[port]) {
        status_t err = mOMX->freeBuffer(mNode, port, b.mId);
        if (err != OK) result = err;
    }
    mBuffers[port].clear();
    return result;
}

bool OmxTestClient::start(BufferMode inMode, BufferMode outMode) {
    if (sendCommand(OMX_CommandStateSet, OMX_StateIdle) != OK) return false;
    if (allocateBuffers(0, inMode) != OK || allocateBuffers(1, outMode) != OK) return false;
    if (!waitForState(OMX_StateIdle)) return false;
    if (sendCommand(OMX_CommandStateSet, OMX_StateExecuting) != OK) return false;
    return waitForState(OMX_StateExecuting);
}

bool OmxTestClient::stop() {
    if (sendCommand(OMX_CommandStateSet, OMX_StateIdle) != OK) return false;
    if (!waitForState(OMX_StateIdle)) return false;
    if (!allOurs(0) || !allOurs(1)) return false;
    if (sendCommand(OMX_CommandStateSet, OMX_StateLoaded) != OK) return false;
    if (freeBuffers(0) != OK || freeBuffers(1) != OK) return false;
    return waitForState(OMX_StateLoaded);
}

status_t OmxTestClient::fill(Buffer& b) {
    b.mOurs = false;
#if PLATFORM_LEVEL >= 23
    status_t err = mOMX->fillBuffer(mNode, b.mId, -1);
#else
    status_t err = mOMX->fillBuffer(mNode, b.mId);
#endif
    if (err != OK) b.mOurs = true;
    return err;
}

status_t OmxTestClient::fillAll() {
    for (Buffer& b : mBuffers[1]) {
        if (!b.mOurs) continue;
        status_t err = fill(b);
        if (err != OK) return err;
    }
    return OK;
}

status_t OmxTestClient::empty(Buffer& b, size_t length, uint32_t flags, int64_t timeUs) {
    b.mOurs = false;
#if PLATFORM_LEVEL >= 23
    status_t err = mOMX->emptyBuffer(mNode, b.mId, 0, length, flags, timeUs, -1);
#else
    status_t err = mOMX->emptyBuffer(mNode, b.mId, 0, length, flags, timeUs);
#endif
    if (err != OK) b.mOurs = true;
    return err;
}

OmxTestClient::Buffer* OmxTestClient::freeInput() {
    for (Buffer& b : mBuffers[0]) {
        if (b.mOurs) return &b;
    }
    return nullptr;
}

bool OmxTestClient::allOurs(OMX_U32 port) const {
    for (const Buffer& b : mBuffers[port]) {
        if (!b.mOurs) return false;
    }
    return true;
}

void OmxTestClient::handle(const omx_message& msg) {
    switch (msg.type) {
        case omx_message::EVENT:
            mEvents.push_back(
                {msg.u.event_data.event, (uint32_t)msg.u.event_data.data1,
                 (uint32_t)msg.u.event_data.data2});
            break;
        case omx_message::EMPTY_BUFFER_DONE:
            for (Buffer& b : mBuffers[0]) {
                if (b.mId == msg.u.buffer_data.buffer) b.mOurs = true;
            }
            break;
        case omx_message::FILL_BUFFER_DONE: {
            const auto& d = msg.u.extended_buffer_data;
            for (Buffer& b : mBuffers[1]) {
                if (b.mId != d.buffer) continue;
                b.mOurs = true;
                if (d.range_length > 0 || (d.flags & OMX_BUFFERFLAG_EOS)) {
                    Output o;
                    o.mData.assign(b.mData + d.range_offset,
                                   b.mData + d.range_offset + d.range_length);
                    o.mFlags = d.flags;
                    o.mTimeUs = d.timestamp;
                    mOutputs.push_back(std::move(o));
                }
                if (d.flags & OMX_BUFFERFLAG_EOS) mSawEOS = true;
                if (mRefill && !mSawEOS && (d.range_length > 0 || d.flags)) fill(b);
            }
            break;
        }
    }
}

bool OmxTestClient::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                       .count();
        if (left <= 0) return false;
        omx_message msg;
        if (mObserver->next(&msg, left)) handle(msg);
    }
    return true;
}

bool OmxTestClient::waitForEvent(OMX_EVENTTYPE event, uint32_t data1, uint32_t data2,
                                 int timeoutMs) {
    // A matching event is consumed, so a later wait needs a later event.
    return waitUntil(
        [&] {
            for (size_t i = 0; i < mEvents.size(); ++i) {
                const Event& e = mEvents[i];
                if (e.mEvent == event && e.mData1 == data1 && e.mData2 == data2) {
                    mEvents.erase(mEvents.begin() + i);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

bool OmxTestClient::encode(const std::vector<std::vector<uint8_t>>& frames, int64_t frameUs,
                           int64_t firstUs) {
    std::vector<int64_t> times;
    for (size_t i = 0; i < frames.size(); ++i) times.push_back(firstUs + i * frameUs);
    return encode(frames, times, firstUs + frames.size() * frameUs);
}

bool OmxTestClient::encode(const std::vector<std::vector<uint8_t>>& frames,
                           const std::vector<int64_t>& times, int64_t eosUs) {
    if (fillAll() != OK) return false;
    for (size_t i = 0; i <= frames.size(); ++i) {
        Buffer* b = nullptr;
        if (!waitUntil([&] { return (b = freeInput()) != nullptr; })) return false;
        if (i == frames.size()) {
            if (empty(*b, 0, OMX_BUFFERFLAG_EOS, eosUs) != OK) return false;
            break;
        }
        if (frames[i].size() > b->mSize) return false;
        memcpy(b->mData, frames[i].data(), frames[i].size());
        if (empty(*b, frames[i].size(), OMX_BUFFERFLAG_ENDOFFRAME, times[i]) != OK) {
            return false;
        }
    }
    return waitUntil([&] { return mSawEOS; }, 20000);
}

// ---- frames -------------------------------------------------------------

Yuv makeFrame(uint32_t w, uint32_t h, int t) {
    Yuv f;
    f.mWidth = w;
    f.mHeight = h;
    uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    f.mY.resize((size_t)w * h);
    f.mU.resize((size_t)cw * ch);
    f.mV.resize((size_t)cw * ch);
    // Smooth moving waves and a bright square that travels across.
    uint32_t side = w / 6 + 4, sx = (t * 5) % (w > side ? w - side : 1), sy = h / 3;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            double v = 128 + 60 * sin((x + 3.0 * t) / 17.0) * cos((y + 1.0 * t) / 23.0);
            if (x >= sx && x < sx + side && y >= sy && y < sy + side) v = 235;
            f.mY[(size_t)y * w + x] = (uint8_t)v;
        }
    }
    for (uint32_t y = 0; y < ch; ++y) {
        for (uint32_t x = 0; x < cw; ++x) {
            f.mU[(size_t)y * cw + x] = (uint8_t)(128 + 50 * sin((x + y + 2.0 * t) / 19.0));
            f.mV[(size_t)y * cw + x] = (uint8_t)(128 + 50 * cos((x - 2.0 * y) / 13.0 + t / 9.0));
        }
    }
    return f;
}

std::vector<uint8_t> layout(const Yuv& f, uint32_t color, uint32_t stride, uint32_t slice,
                            size_t size) {
    std::vector<uint8_t> out(size, 0);
    uint32_t w = f.mWidth, h = f.mHeight, cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (uint32_t y = 0; y < h; ++y) memcpy(&out[(size_t)y * stride], &f.mY[(size_t)y * w], w);
    size_t chroma = (size_t)stride * slice;
    bool planar = color == OMX_COLOR_FormatYUV420Planar || color == 0x7FA00000;
    if (planar) {
        uint32_t pitch = (stride + 1) / 2;
        size_t v = chroma + (size_t)pitch * ((slice + 1) / 2);
        for (uint32_t y = 0; y < ch; ++y) {
            memcpy(&out[chroma + (size_t)y * pitch], &f.mU[(size_t)y * cw], cw);
            memcpy(&out[v + (size_t)y * pitch], &f.mV[(size_t)y * cw], cw);
        }
    } else {
        for (uint32_t y = 0; y < ch; ++y) {
            for (uint32_t x = 0; x < cw; ++x) {
                out[chroma + (size_t)y * stride + 2 * x] = f.mU[(size_t)y * cw + x];
                out[chroma + (size_t)y * stride + 2 * x + 1] = f.mV[(size_t)y * cw + x];
            }
        }
    }
    return out;
}

double psnr(const Yuv& a, const uint8_t* i420) {
    size_t ny = a.mY.size(), nc = a.mU.size();
    double se = 0;
    for (size_t i = 0; i < ny; ++i) se += (double)(a.mY[i] - i420[i]) * (a.mY[i] - i420[i]);
    for (size_t i = 0; i < nc; ++i) {
        se += (double)(a.mU[i] - i420[ny + i]) * (a.mU[i] - i420[ny + i]);
        se += (double)(a.mV[i] - i420[ny + nc + i]) * (a.mV[i] - i420[ny + nc + i]);
    }
    double mse = se / (ny + 2 * nc);
    return mse == 0 ? 99.0 : 10 * log10(255.0 * 255.0 / mse);
}

std::string writeTemp(const std::string& suffix, const std::vector<uint8_t>& data) {
    char path[] = "/tmp/qor_omx_XXXXXX";
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    std::string named = std::string(path) + suffix;
    rename(path, named.c_str());
    std::ofstream(named, std::ios::binary).write((const char*)data.data(), data.size());
    return named;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool run(const std::string& command) { return system(command.c_str()) == 0; }

}  // namespace qor_test
