// Component lookup, creation, quirks and the blocking start-up to Executing.
#define LOG_TAG "OMXCodec"
#include "omx_codec/OMXCodec.h"

#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>

#include <media/stagefright/AACEncoder.h>
#include <media/stagefright/MediaCodecList.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "omx_codec/OMXParams.h"

namespace qor {

using android::IOMX;
using android::MetaData;
using android::Mutex;
using android::String8;

namespace {

const char kQuirkAllocateOnInput[] = "requires-allocate-on-input-ports";
const char kQuirkAllocateOnOutput[] = "requires-allocate-on-output-ports";
const char kQuirkOutputUnreadable[] = "output-buffers-are-unreadable";

// Software: the platform's own components, or anything outside "OMX.".
bool IsSoftwareCodec(const char* componentName) {
    return strncmp("OMX.google.", componentName, 11) == 0 || strncmp("OMX.", componentName, 4) != 0;
}

// Software first; among software ones, names outside "OMX." after it.
int CompareSoftwareCodecsFirst(const CodecNameAndQuirks& elem1, const CodecNameAndQuirks& elem2) {
    const bool isSoftware1 = IsSoftwareCodec(elem1.mName.string());
    const bool isSoftware2 = IsSoftwareCodec(elem2.mName.string());
    if (!isSoftware1) return isSoftware2 ? 1 : 0;
    if (!isSoftware2) return -1;
    if (strncmp(elem2.mName.string(), "OMX.", 4) == 0) return 0;
    return strncmp(elem1.mName.string(), "OMX.", 4) == 0 ? -1 : 1;
}

}  // namespace

#if PLATFORM_LEVEL >= 21
static uint32_t quirksOf(const sp<android::MediaCodecInfo>& info) {
    uint32_t quirks = 0;
    if (info->hasQuirk(kQuirkAllocateOnInput))
        quirks |= OMXCodec::kRequiresAllocateBufferOnInputPorts;
    if (info->hasQuirk(kQuirkAllocateOnOutput))
        quirks |= OMXCodec::kRequiresAllocateBufferOnOutputPorts;
    if (info->hasQuirk(kQuirkOutputUnreadable)) quirks |= OMXCodec::kOutputBuffersAreUnreadable;
    return quirks;
}
#else
static uint32_t quirksOf(const android::MediaCodecList* list, size_t index) {
    uint32_t quirks = 0;
    if (list->codecHasQuirk(index, kQuirkAllocateOnInput))
        quirks |= OMXCodec::kRequiresAllocateBufferOnInputPorts;
    if (list->codecHasQuirk(index, kQuirkAllocateOnOutput))
        quirks |= OMXCodec::kRequiresAllocateBufferOnOutputPorts;
    if (list->codecHasQuirk(index, kQuirkOutputUnreadable))
        quirks |= OMXCodec::kOutputBuffersAreUnreadable;
    return quirks;
}
#endif

void OMXCodec::findMatchingCodecs(const char* mime, bool createEncoder,
                                  const char* matchComponentName, uint32_t flags,
                                  std::vector<CodecNameAndQuirks>* matchingCodecs) {
    matchingCodecs->clear();
#if PLATFORM_LEVEL >= 21
    sp<android::IMediaCodecList> list = android::MediaCodecList::getInstance();
#else
    const android::MediaCodecList* list = android::MediaCodecList::getInstance();
#endif
    if (list == nullptr) return;

    size_t index = 0;
    for (;;) {
        ssize_t matchIndex = list->findCodecByType(mime, createEncoder, index);
        if (matchIndex < 0) break;
        index = matchIndex + 1;
#if PLATFORM_LEVEL >= 21
        sp<android::MediaCodecInfo> info = list->getCodecInfo(matchIndex);
        if (info == nullptr) continue;  // the platform's list changed under us
        const char* componentName = info->getCodecName();
#else
        const char* componentName = list->getCodecName(matchIndex);
#endif
        if (matchComponentName && strcmp(componentName, matchComponentName)) continue;
        const bool software = IsSoftwareCodec(componentName);
        if (((flags & kSoftwareCodecsOnly) && software) ||
            ((flags & kHardwareCodecsOnly) && !software) ||
            !(flags & (kSoftwareCodecsOnly | kHardwareCodecsOnly))) {
#if PLATFORM_LEVEL >= 21
            matchingCodecs->push_back({String8(componentName), quirksOf(info)});
#else
            matchingCodecs->push_back({String8(componentName), quirksOf(list, matchIndex)});
#endif
        }
    }

    if (flags & kPreferSoftwareCodecs) {
        std::stable_sort(matchingCodecs->begin(), matchingCodecs->end(),
                         [](const CodecNameAndQuirks& a, const CodecNameAndQuirks& b) {
                             return CompareSoftwareCodecsFirst(a, b) < 0;
                         });
    }
}

sp<android::MediaSource> OMXCodec::Create(const sp<IOMX>& omx, const sp<MetaData>& meta,
                                          bool createEncoder,
                                          const sp<android::MediaSource>& source,
                                          const char* matchComponentName, uint32_t flags,
                                          const sp<ANativeWindow>& nativeWindow) {
    int32_t requiresSecureBuffers;
    if (source->getFormat()->findInt32(android::kKeyRequiresSecureBuffers,
                                       &requiresSecureBuffers) &&
        requiresSecureBuffers) {
        flags |= kIgnoreCodecSpecificData;
        flags |= kUseSecureInputBuffers;
    }

    const char* mime;
    bool success = meta->findCString(android::kKeyMIMEType, &mime);
    CHECK(success);

    std::vector<CodecNameAndQuirks> matchingCodecs;
    findMatchingCodecs(mime, createEncoder, matchComponentName, flags, &matchingCodecs);
    if (matchingCodecs.empty()) return nullptr;

    sp<OMXCodecObserver> observer = new OMXCodecObserver;
    IOMX::node_id node = 0;

    for (const CodecNameAndQuirks& candidate : matchingCodecs) {
        const char* componentNameBase = candidate.mName.string();
        const uint32_t quirks = candidate.mQuirks;
        String8 componentName(componentNameBase);
        if (flags & kUseSecureInputBuffers) componentName.append(".secure");

        if (createEncoder && !strcmp(componentNameBase, "AACEncoder")) {
            return new android::AACEncoder(source, meta);
        }
        if (!createEncoder && (quirks & kOutputBuffersAreUnreadable) &&
            (flags & kClientNeedsFramebuffer) && strncmp(componentNameBase, "OMX.SEC.", 8)) {
            ALOGW(
                "Component '%s' does not give the client access to the framebuffer contents. "
                "Skipping.",
                componentNameBase);
            continue;
        }

        status_t err = omx->allocateNode(componentName.string(), observer, &node);
        if (err != android::OK) continue;
        ALOGI("Successfully allocated OMX node '%s'", componentName.string());

        sp<OMXCodec> codec = new OMXCodec(omx, node, quirks, flags, createEncoder, mime,
                                          componentName.string(), source, nativeWindow);
        observer->setCodec(codec);
        err = codec->configureCodec(meta);
        if (err == android::OK) return codec;
        // Dropping the codec frees its node before the next candidate.
    }
    return nullptr;
}

OMXCodec::OMXCodec(const sp<IOMX>& omx, IOMX::node_id node, uint32_t quirks, uint32_t flags,
                   bool isEncoder, const char* mime, const char* componentName,
                   const sp<android::MediaSource>& source, const sp<ANativeWindow>& nativeWindow)
    : mOMX(omx),
      mOMXLivesLocally(omx->livesLocally(node, getpid())),
      mNode(node),
      mFlags(flags),
      mIsEncoder(isEncoder),
      mIsVideo(!strncasecmp("video/", mime, 6)),
      mMIME(mime),
      mComponentName(componentName),
      mNativeWindow(!strncmp(componentName, "OMX.google.", 11) ? nullptr : nativeWindow),
      mSource(source),
      mQuirks(quirks),
      mCodecSpecificDataIndex(0),
      mState(LOADED),
      mPortStatus{ENABLED, ENABLED},
      mInitialBufferSubmit(true),
      mSignalledEOS(false),
      mFinalStatus(android::OK),
      mNoMoreOutputData(false),
      mOutputPortSettingsHaveChanged(false),
      mSeekTimeUs(-1),
      mSeekMode(ReadOptions::SEEK_CLOSEST_SYNC),
      mTargetTimeUs(-1),
      mOutputPortSettingsChangedPending(false),
      mPaused(false) {
    setComponentRole();
}

// Only the last reference gets here: no message handler and no other
// thread can hold mLock any more.
OMXCodec::~OMXCodec() {
    // A client that never stopped: the source's stop ends the feeder's read.
    if (mFeeder.joinable()) {
        mSource->stop();
        stopFeeder();
    }
    mSource.clear();
    CHECK(mState == LOADED || mState == ERROR || mState == LOADED_TO_IDLE);
    status_t err = mOMX->freeNode(mNode);
    if (err != android::OK) ALOGE("[%s] freeNode failed: %d", mComponentName.c_str(), err);
    setState(DEAD);
    clearCodecSpecificData();
}

void OMXCodec::setComponentRole(const sp<IOMX>& omx, IOMX::node_id node, bool isEncoder,
                                const char* mime) {
    struct MimeToRole {
        const char* mime;
        const char* decoderRole;
        const char* encoderRole;
    };
    const MimeToRole kMimeToRole[] = {
        {android::MEDIA_MIMETYPE_AUDIO_AAC, "audio_decoder.aac", "audio_encoder.aac"},
        {android::MEDIA_MIMETYPE_VIDEO_AVC, "video_decoder.avc", "video_encoder.avc"},
    };
    const MimeToRole* match = nullptr;
    for (const MimeToRole& entry : kMimeToRole) {
        if (!strcasecmp(mime, entry.mime)) {
            match = &entry;
            break;
        }
    }
    if (match == nullptr) return;
    const char* role = isEncoder ? match->encoderRole : match->decoderRole;
    if (role == nullptr) return;

    OMX_PARAM_COMPONENTROLETYPE roleParams;
    InitOMXParams(&roleParams);
    strncpy((char*)roleParams.cRole, role, OMX_MAX_STRINGNAME_SIZE - 1);
    roleParams.cRole[OMX_MAX_STRINGNAME_SIZE - 1] = '\0';
    status_t err = omx->setParameter(node, OMX_IndexParamStandardComponentRole, &roleParams,
                                     sizeof(roleParams));
    if (err != android::OK) ALOGW("Failed to set standard component role '%s'.", role);
}

void OMXCodec::setComponentRole() { setComponentRole(mOMX, mNode, mIsEncoder, mMIME.c_str()); }

void OMXCodecObserver::setCodec(const sp<OMXCodec>& target) {
    Mutex::Autolock autoLock(mLock);
    mTarget = target;
}

sp<OMXCodec> OMXCodecObserver::target() {
    Mutex::Autolock autoLock(mLock);
    return mTarget.promote();
}

// The strong reference outlives the lock: if it is the last one, the codec
// is destroyed only after its mutex was released.
#if PLATFORM_LEVEL >= 23
void OMXCodecObserver::onMessages(const std::list<android::omx_message>& messages) {
    sp<OMXCodec> codec = target();
    if (codec == nullptr) return;
    Mutex::Autolock autoLock(codec->mLock);
    for (const android::omx_message& msg : messages) codec->on_message(msg);
}
#else
void OMXCodecObserver::onMessage(const android::omx_message& msg) {
    sp<OMXCodec> codec = target();
    if (codec == nullptr) return;
    Mutex::Autolock autoLock(codec->mLock);
    codec->on_message(msg);
}
#endif

}  // namespace qor
