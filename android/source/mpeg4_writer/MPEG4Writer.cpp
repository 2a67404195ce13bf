// MP4 writer core: life cycle, file layout, limits and notifications.
#define LOG_TAG "MPEG4Writer"

#include "mpeg4_writer/MPEG4Writer.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <initializer_list>

#include <media/IMediaRecorderClient.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::MetaData;
using android::OK;

namespace {
// Below this size limit no moov reservation is made (5 MiB).
const int64_t kMinStreamableFileSizeInBytes = 5 * 1024 * 1024;
const int64_t kMax32BitFileSize = 0xFFFFFFFFLL;
const int64_t kMinMoovBoxSize = 3 * 1024;
const int64_t kMaxMoovBoxSize = 405000;

bool isOneOf(const char* mime, std::initializer_list<const char*> types) {
    for (const char* type : types) {
        if (!strcasecmp(mime, type)) return true;
    }
    return false;
}

// What the track's sample entry would lack in its encoder's format (null
// when nothing): a track that cannot be described is not taken.
const char* missingForSampleEntry(const sp<MetaData>& meta, const char* mime, bool isAudio) {
    int32_t value = 0;
    int32_t timeScale = 90000;
    if (isAudio) {
        if (!isOneOf(mime, {android::MEDIA_MIMETYPE_AUDIO_AAC, android::MEDIA_MIMETYPE_AUDIO_AMR_NB,
                            android::MEDIA_MIMETYPE_AUDIO_AMR_WB})) {
            return "a known audio type";
        }
        if (!meta->findInt32(android::kKeyChannelCount, &value)) return "a channel count";
        if (!meta->findInt32(android::kKeySampleRate, &timeScale)) return "a sample rate";
    } else {
        if (!isOneOf(mime, {android::MEDIA_MIMETYPE_VIDEO_AVC, android::MEDIA_MIMETYPE_VIDEO_MPEG4,
                            android::MEDIA_MIMETYPE_VIDEO_H263})) {
            return "a known video type";
        }
        if (!meta->findInt32(android::kKeyWidth, &value)) return "a width";
        if (!meta->findInt32(android::kKeyHeight, &value)) return "a height";
    }
    meta->findInt32(android::kKeyTimeScale, &timeScale);
    return timeScale > 0 ? nullptr : "a positive time scale";
}
}  // namespace

MPEG4Writer::MPEG4Writer(const char* filename) {
    init();
    mPath = filename;
    // The journal's lock comes first: a file that another recording or a
    // recovery holds is not truncated under it.
    if (!takeJournal()) return;
    int fd = FileByteSink::openFile(filename);
    if (fd < 0) {
        ALOGE("Cannot open %s: %s", filename, strerror(errno));  // the reason a start fails
        mJournal.remove();
        return;
    }
    mFile = std::make_unique<FileByteSink>(fd);
    mBoxWriter.setSink(mFile.get());
    mInitStatus = OK;
    mOwnsFile = true;
}

MPEG4Writer::MPEG4Writer(int fd) {
    init();
    int ownFd = dup(fd);
    if (ownFd >= 0) {
        mFile = std::make_unique<FileByteSink>(ownFd);
        mBoxWriter.setSink(mFile.get());
        mInitStatus = OK;
    }
}

MPEG4Writer::MPEG4Writer(std::unique_ptr<IByteSink> sink) {
    init();
    mFile = std::move(sink);
    if (mFile) {
        mBoxWriter.setSink(mFile.get());
        mInitStatus = OK;
    }
}

MPEG4Writer::MPEG4Writer(std::unique_ptr<IByteSink> sink, const char* path)
    : MPEG4Writer(std::move(sink)) {
    if (path == nullptr) return;
    mPath = path;
    if (!takeJournal()) mInitStatus = android::NO_INIT;
}

bool MPEG4Writer::takeJournal() {
    switch (mJournal.open(mPath.c_str())) {
        case RecoveryJournal::OpenResult::kBusy:
            ALOGE("%s is being recorded or recovered by someone else", mPath.c_str());
            return false;
        case RecoveryJournal::OpenResult::kNone:
            // Without a file the journal lives in memory: a full disk still
            // ends with a moov.
            mJournal.openInMemory();
            return true;
        case RecoveryJournal::OpenResult::kOpened:
            break;
    }
    return true;
}

void MPEG4Writer::init() {
    mInitStatus = android::NO_INIT;
    mRealTimeRecording = true;
    mNalLengthFour = true;
    m32BitFileOffset = true;
    mFileSizeLimitRequested = false;
    mPaused = false;
    mStarted = false;
    mWriterThreadRunning = false;
    mMdatStart = 0;
    mFreeBoxStart = 0;
    mStreamable = false;
    mEstimatedMoovBoxSize = 0;
    mInterleaveDuration = 1000000;
    mTimeScale = -1;
    mLatitude = 0;
    mLongitude = 0;
    mHasGeoData = false;
    mStartTimeOffsetMs = -1;
    android::Mutex::Autolock l(mLock);
    mEarliestStartTimeUs = -1;
    mDone = false;
    mDriftTimeUs = 0;
}

MPEG4Writer::~MPEG4Writer() {
    reset();
    mTracks.clear();
}

status_t MPEG4Writer::dump(int fd, const std::vector<android::String8>& args) {
    const size_t SIZE = 256;
    char buffer[SIZE];
    android::String8 result;
    snprintf(buffer, SIZE, "   MPEG4Writer %p\n", this);
    result.append(buffer);
    snprintf(buffer, SIZE, "     mStarted: %s\n", mStarted ? "true" : "false");
    result.append(buffer);
    ::write(fd, result.string(), result.size());
    for (const std::unique_ptr<Track>& track : mTracks) track->dump(fd, args);
    return OK;
}

status_t MPEG4Writer::addSource(const sp<android::MediaSource>& source) {
    android::Mutex::Autolock l(mLock);
    if (mStarted) {
        ALOGE("Attempt to add source AFTER recording is started");
        return android::UNKNOWN_ERROR;
    }
    if (mTracks.size() >= 2) {
        ALOGE("Too many tracks (%d) to add", (int)mTracks.size());
        return android::ERROR_UNSUPPORTED;
    }
    CHECK(source.get() != NULL);

    const char* mime = nullptr;
    sp<MetaData> meta = source->getFormat();
    if (meta == nullptr || !meta->findCString(android::kKeyMIMEType, &mime)) mime = "";
    bool isAudio = !strncasecmp(mime, "audio/", 6);
    bool isVideo = !strncasecmp(mime, "video/", 6);
    if (!isAudio && !isVideo) {
        ALOGE("Track (%s) other than video or audio is not supported", mime);
        return android::ERROR_UNSUPPORTED;
    }
    for (const std::unique_ptr<Track>& track : mTracks) {
        if (track->isAudio() == isAudio) {
            ALOGE("%s track already exists", isAudio ? "Audio" : "Video");
            return android::ERROR_UNSUPPORTED;
        }
    }
    const char* missing = missingForSampleEntry(meta, mime, isAudio);
    if (missing != nullptr) {
        ALOGE("The %s track's format lacks %s: not added", mime, missing);
        return android::ERROR_MALFORMED;
    }
    mTracks.push_back(std::make_unique<Track>(this, source, mTracks.size() + 1));
    return OK;
}

status_t MPEG4Writer::startTracks(MetaData* params) {
    if (mTracks.empty()) {
        ALOGE("No source added");
        return android::INVALID_OPERATION;
    }
    for (auto it = mTracks.begin(); it != mTracks.end(); ++it) {
        status_t err = (*it)->start(params);
        if (err != OK) {
            // A started track's thread may wait in its source for data that
            // will never come: the source ends first, then the thread.
            for (auto it2 = mTracks.begin(); it2 != it; ++it2) (*it2)->abandon();
            return err;
        }
    }
    return OK;
}

void MPEG4Writer::writeFtyp(MetaData* param) {
    mBoxWriter.beginBox("ftyp");
    int32_t fileType;
    if (param && param->findInt32(android::kKeyFileType, &fileType) && fileType != 2) {
        mBoxWriter.writeFourcc("3gp4");
    } else {
        mBoxWriter.writeFourcc("isom");
    }
    mBoxWriter.writeInt32(0);
    mBoxWriter.writeFourcc("isom");
    mBoxWriter.writeFourcc("3gp4");
    mBoxWriter.endBox();
}

int64_t MPEG4Writer::estimateMoovBoxSize(int32_t bitRate) {
    int64_t size = kMinMoovBoxSize;
    if (mMaxFileSizeLimitBytes != 0 && mFileSizeLimitRequested) {
        size = mMaxFileSizeLimitBytes * 6 / 1000;
    }
    if (mMaxFileDurationLimitUs != 0 && bitRate > 0) {
        int64_t size2 = (mMaxFileDurationLimitUs * bitRate * 6) / 1000 / 8000000;
        if (mMaxFileSizeLimitBytes != 0 && mFileSizeLimitRequested) {
            if (size > size2) size = size2;
        } else {
            size = size2;
        }
    }
    if (size < kMinMoovBoxSize) size = kMinMoovBoxSize;
    if (size > kMaxMoovBoxSize) size = kMaxMoovBoxSize;

    ALOGI("limits: %lld/%lld bytes/us, bit rate: %d bps and the estimated moov size %lld bytes",
          (long long)mMaxFileSizeLimitBytes, (long long)mMaxFileDurationLimitUs, bitRate,
          (long long)size);
    // 64-bit chunk offsets take twice the room.
    return size * (m32BitFileOffset ? 1 : 2);
}

void MPEG4Writer::readStartParams(MetaData* param) {
    if (mMaxFileSizeLimitBytes != 0) mFileSizeLimitRequested = true;

    int32_t use64BitOffset;
    if (param && param->findInt32(android::kKey64BitFileOffset, &use64BitOffset) &&
        use64BitOffset) {
        m32BitFileOffset = false;
    }
    if (m32BitFileOffset) {
        // Chunk offsets and the mdat size must fit in 32 bits.
        if (mMaxFileSizeLimitBytes == 0) {
            mMaxFileSizeLimitBytes = kMax32BitFileSize;
        }
        if (mMaxFileSizeLimitBytes > kMax32BitFileSize) {
            ALOGW("32-bit file size limit (%lld bytes) too big. It is changed to %lld bytes",
                  (long long)mMaxFileSizeLimitBytes, (long long)kMax32BitFileSize);
            mMaxFileSizeLimitBytes = kMax32BitFileSize;
        }
    }

    int32_t use2ByteNalLength;
    if (param && param->findInt32(android::kKey2ByteNalLength, &use2ByteNalLength) &&
        use2ByteNalLength) {
        mNalLengthFour = false;
    }
    int32_t isRealTimeRecording;
    if (param && param->findInt32(android::kKeyRealTimeRecording, &isRealTimeRecording)) {
        mRealTimeRecording = isRealTimeRecording != 0;
    }
}

// ftyp, the moov reservation (a free box) when the file is streamable, and
// the header of mdat, whose size is filled in at stop.
void MPEG4Writer::beginFile(MetaData* param) {
    if (!param || !param->findInt32(android::kKeyTimeScale, &mTimeScale)) {
        mTimeScale = 1000;
    }
    CHECK_GT(mTimeScale, 0);
    mStreamable = mMaxFileSizeLimitBytes >= kMinStreamableFileSizeInBytes;

    writeFtyp(param);
    mFreeBoxStart = fileOffset();
    reserveMoovSpace(param);

    mFile->seek(mMdatStart);
    if (m32BitFileOffset) {
        mFile->write("????mdat", 8);
    } else {
        mFile->write("\x00\x00\x00\x01mdat????????", 16);
    }
    openJournal();
}

void MPEG4Writer::reserveMoovSpace(MetaData* param) {
    if (mEstimatedMoovBoxSize == 0) {
        int32_t bitRate = -1;
        if (param) param->findInt32(android::kKeyBitRate, &bitRate);
        mEstimatedMoovBoxSize = estimateMoovBoxSize(bitRate);
    }
    CHECK_GE(mEstimatedMoovBoxSize, 8);
    if (mStreamable) {
        // Only the header of the reserved free box is written now.
        mFile->seek(mFreeBoxStart);
        mBoxWriter.writeInt32((int32_t)mEstimatedMoovBoxSize);
        mFile->write("free", 4);
        mMdatStart = mFreeBoxStart + mEstimatedMoovBoxSize;
    } else {
        mMdatStart = fileOffset();
    }
}

status_t MPEG4Writer::start(MetaData* param) {
    if (mInitStatus != OK) return android::UNKNOWN_ERROR;
    readStartParams(param);
    if (mStarted) {
        // Resume. The earliest start time of the recording stays: the tracks
        // report a start time only with their first sample, so resetting it
        // here would lose it for good.
        if (mPaused) {
            mPaused = false;
            return startTracks(param);
        }
        return OK;
    }
    {
        android::Mutex::Autolock l(mLock);
        mEarliestStartTimeUs = -1;
    }
    beginFile(param);

    status_t err = startWriterThread();
    if (err != OK) return err;
    err = startTracks(param);
    if (err != OK) return err;
    mStarted = true;
    return OK;
}

status_t MPEG4Writer::pause() {
    if (mInitStatus != OK) return OK;
    mPaused = true;
    status_t err = OK;
    for (const std::unique_ptr<Track>& track : mTracks) {
        status_t status = track->pause();
        if (status != OK) err = status;
    }
    return err;
}

status_t MPEG4Writer::stop() { return reset(); }

void MPEG4Writer::release() {
    mFile->close();
    mInitStatus = android::NO_INIT;
    mStarted = false;
}

void MPEG4Writer::patchMdatSize() {
    const int64_t end = fileOffset();
    int64_t size = end - mMdatStart;
    if (m32BitFileOffset) {
        mFile->seek(mMdatStart);
        mBoxWriter.writeInt32((int32_t)size);
    } else {
        mFile->seek(mMdatStart + 8);
        mBoxWriter.writeInt64(size);
    }
    mFile->seek(end);
}

status_t MPEG4Writer::stopTracks() {
    status_t err = OK;
    int64_t maxDurationUs = 0;
    int64_t minDurationUs = 0x7FFFFFFFFFFFFFFFLL;
    for (const std::unique_ptr<Track>& track : mTracks) {
        status_t status = track->stop();
        if (err == OK && status != OK) err = status;
        int64_t durationUs = track->getDurationUs();
        if (durationUs > maxDurationUs) maxDurationUs = durationUs;
        if (durationUs < minDurationUs) minDurationUs = durationUs;
    }
    if (mTracks.size() > 1) {
        ALOGD("Duration from tracks range is [%lld, %lld] us", (long long)minDurationUs,
              (long long)maxDurationUs);
    }
    return err;
}

void MPEG4Writer::buildMoov(uint64_t now, MemoryByteSink* moov) {
    mBoxWriter.setSink(moov);
    writeMoovBox(now);
    mBoxWriter.setSink(mFile.get());
}

void MPEG4Writer::placeMoov(const std::vector<uint8_t>& moov) {
    const int64_t size = (int64_t)moov.size();
    if (mStreamable && size + 8 <= mEstimatedMoovBoxSize) {
        // The whole moov fits: it goes into the reservation, followed by a
        // free box that fills the rest.
        mFile->seek(mFreeBoxStart);
        mFile->write(moov.data(), moov.size());
        mBoxWriter.writeInt32((int32_t)(mEstimatedMoovBoxSize - size));
        mFile->write("free", 4);
        return;
    }
    ALOGI("The mp4 file will not be streamable.");
    mFile->write(moov.data(), moov.size());
}

status_t MPEG4Writer::reset() {
    if (mInitStatus != OK) return OK;
    if (!mWriterThreadRunning || !mStarted) {
        if (mWriterThreadRunning) stopWriterThread();
        status_t ioErr = ioStatus();
        release();
        mJournal.remove();
        return ioErr;
    }

    status_t err = stopTracks();
    stopWriterThread();

    // A failed disk is the cause of whatever the tracks report after it: the
    // file is mended from the journal with what reached the disk.
    status_t ioErr = ioStatus();
    if (ioErr != OK) return finishFromJournal(ioErr);
    // A track that failed keeps what it wrote before the failure: the file
    // is finished with the playable tracks, and the failure is returned.
    if (playableTrackCount() == 0) {
        ALOGE("No moov written: no samples");
        return discardUnplayable(err != OK ? err : android::ERROR_MALFORMED);
    }

    patchMdatSize();
    MemoryByteSink moov;
    buildMoov(mpeg4Time(), &moov);
    placeMoov(moov.bytes());

    ioErr = ioStatus();
    // A complete file needs no journal; an incomplete one is mended from it.
    if (ioErr != OK) return finishFromJournal(ioErr);
    release();
    mJournal.remove();
    if (err == OK && playableTrackCount() < mTracks.size()) err = android::ERROR_MALFORMED;
    return err;
}

// Nothing in the file can be played: a file of our own goes, with its
// journal, rather than stay behind unplayable (and every later recovery
// refuse it). A file handed in is the caller's.
status_t MPEG4Writer::discardUnplayable(status_t err) {
    if (!mOwnsFile) return finishFromJournal(err);
    release();
    if (unlink(mPath.c_str()) != 0) ALOGW("Cannot remove %s: %s", mPath.c_str(), strerror(errno));
    mJournal.remove();
    return err;
}

size_t MPEG4Writer::playableTrackCount() const {
    size_t count = 0;
    for (const std::unique_ptr<Track>& track : mTracks) {
        if (track->isPlayable()) ++count;
    }
    return count;
}

bool MPEG4Writer::reachedEOS() {
    for (const std::unique_ptr<Track>& track : mTracks) {
        if (!track->reachedEOS()) return false;
    }
    return true;
}

status_t MPEG4Writer::setGeoData(int latitudex10000, int longitudex10000) {
    if (latitudex10000 < -900000 || latitudex10000 > 900000 || longitudex10000 < -1800000 ||
        longitudex10000 > 1800000) {
        return android::BAD_VALUE;
    }
    mLatitude = latitudex10000;
    mLongitude = longitudex10000;
    mHasGeoData = true;
    return OK;
}

int32_t MPEG4Writer::numTracks() {
    android::Mutex::Autolock l(mLock);
    return (int32_t)mTracks.size();
}

int64_t MPEG4Writer::getStartTimestampUs() {
    android::Mutex::Autolock l(mLock);
    return mEarliestStartTimeUs;
}

void MPEG4Writer::setStartTimestampUs(int64_t timeUs) {
    ALOGI("setStartTimestampUs: %lld", (long long)timeUs);
    CHECK_GE(timeUs, 0ll);
    android::Mutex::Autolock l(mLock);
    if (mEarliestStartTimeUs < 0 || mEarliestStartTimeUs > timeUs) {
        mEarliestStartTimeUs = timeUs;
        ALOGI("Earliest track starting time: %lld", (long long)mEarliestStartTimeUs);
    }
}

int64_t MPEG4Writer::getDriftTimeUs() {
    android::Mutex::Autolock l(mLock);
    return mDriftTimeUs;
}

void MPEG4Writer::setDriftTimeUs(int64_t driftTimeUs) {
    android::Mutex::Autolock l(mLock);
    mDriftTimeUs = driftTimeUs;
}

bool MPEG4Writer::exceedsFileSizeLimit() {
    if (mMaxFileSizeLimitBytes == 0) return false;
    int64_t nTotalBytesEstimate = mEstimatedMoovBoxSize;
    for (const std::unique_ptr<Track>& track : mTracks) {
        nTotalBytesEstimate += track->getEstimatedTrackSizeBytes();
    }
    if (!mStreamable) {
        // Add 1024 bytes as error tolerance.
        return nTotalBytesEstimate + 1024 >= mMaxFileSizeLimitBytes;
    }
    // The moov of a streamable file is estimated; keep 5% in hand.
    return nTotalBytesEstimate >= (95 * mMaxFileSizeLimitBytes) / 100;
}

bool MPEG4Writer::exceedsFileDurationLimit() {
    if (mMaxFileDurationLimitUs == 0) return false;
    for (const std::unique_ptr<Track>& track : mTracks) {
        if (track->getDurationUs() >= mMaxFileDurationLimitUs) return true;
    }
    return false;
}

void MPEG4Writer::trackProgressStatus(size_t trackId, int64_t timeUs, status_t err) {
    android::Mutex::Autolock lock(mLock);
    int32_t trackNum = (int32_t)(trackId << 28);
    if (err != OK && err != android::ERROR_END_OF_STREAM) {
        notify(android::MEDIA_RECORDER_TRACK_EVENT_ERROR,
               trackNum | android::MEDIA_RECORDER_TRACK_ERROR_GENERAL, err);
        return;
    }
    if (timeUs == -1) {
        notify(android::MEDIA_RECORDER_TRACK_EVENT_INFO,
               trackNum | android::MEDIA_RECORDER_TRACK_INFO_COMPLETION_STATUS, err);
    } else {
        notify(android::MEDIA_RECORDER_TRACK_EVENT_INFO,
               trackNum | android::MEDIA_RECORDER_TRACK_INFO_PROGRESS_IN_TIME,
               (int)(timeUs / 1000));
    }
}

void MPEG4Writer::notifyLimit(int what) { notify(android::MEDIA_RECORDER_EVENT_INFO, what, 0); }

}  // namespace qor
