// The process-wide facade and the functions behind the Mp4Muxer natives.
#include "icodec/IcodecInterface.h"

#include <memory>
#include <mutex>

namespace qor {

namespace {

// Taken before the facade's own lock (destroying the facade stops it). A
// std::mutex rather than android::Mutex: the unload hook takes it after the
// static destructors have run at exit, and std::mutex has nothing to destroy
// there, where android::Mutex destroys its pthread mutex.
std::mutex gInitLock;

// Owns the facade from init to destroyFacade. Pushes read it without the
// init lock, hence an atomic. Not a unique_ptr: its static destructor would
// destroy the facade at exit in programs that link the front end without the
// library's unload hook, stopping a recording the caller still owns.
std::atomic<IcodecInterface*> gFacade{nullptr};

}  // namespace

int init(const char* packageName) {
    std::lock_guard<std::mutex> guard(gInitLock);
    if (gFacade.load() != nullptr) return 0;
    auto facade = std::make_unique<IcodecInterface>();
    facade->bind(packageName);
    gFacade.store(facade.release());
    return 0;
}

void destroyFacade() {
    std::lock_guard<std::mutex> guard(gInitLock);
    std::unique_ptr<IcodecInterface> facade(gFacade.exchange(nullptr));
}

int isAvailable() {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? 0 : f->isAvailable();
}

int setVideoParameter(int width, int height, int frameRate, int bitRate, int iFrameInterval,
                      int invert) {
    IcodecInterface* f = gFacade.load();
    return f == nullptr
               ? -1
               : f->setVideoParameter(width, height, frameRate, bitRate, iFrameInterval, invert);
}

int setAudioParameter(int sampleRate, int channels, int bitRate) {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->setAudioParameter(sampleRate, channels, bitRate);
}

int start(const char* path) {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->start(path);
}

int pushVideoBuffer(const uint8_t* frame, int64_t capacity, int length, int /*unused*/) {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->pushVideoBuffer(frame, capacity, length);
}

int pushAudioBuffer(const uint8_t* data, int offset, int length) {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->pushAudioBuffer(data, offset, length);
}

int pause(int /*ignored*/) {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->pause();
}

int resume(int /*ignored*/) {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->resume();
}

int status() {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->status();
}

int stop() {
    IcodecInterface* f = gFacade.load();
    return f == nullptr ? -1 : f->stop();
}

}  // namespace qor
