// The writer's recovery journal and what it does when the disk fails.
#define LOG_TAG "MPEG4Writer"

#include <fcntl.h>
#include <unistd.h>

#include <media/IMediaRecorderClient.h>
#include <media/stagefright/MediaErrors.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4Writer.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"
#include "mpeg4_writer/Mp4Recovery.h"

namespace qor {

int64_t MPEG4Writer::Chunk::bytes() const {
    int64_t total = 0;
    for (const MediaBufferRef& sample : mSamples) total += (int64_t)sample->range_length();
    return total;
}

// Once the file's head is out, its layout goes first into the journal
// (the file taken at construction, or memory).
void MPEG4Writer::openJournal() {
    if (mFile->status() != android::OK) {
        mJournal.remove();  // nothing reached the file to recover
        return;
    }
    if (!mJournal.isOpen()) mJournal.openInMemory();
    journal::FileInfo info;
    info.use32BitOffset = m32BitFileOffset;
    info.mdatStart = mMdatStart;
    info.freeBoxStart = mFreeBoxStart;
    info.reservedMoovBytes = mStreamable ? mEstimatedMoovBoxSize : 0;
    info.movieTimeScale = mTimeScale;
    mJournal.writeFile(info);
}

// Before samples go to the file: room for their journal record. False when
// the disk is full (or failed before).
bool MPEG4Writer::prepareJournal(size_t samples) {
    if (mDiskFailed.load()) return false;
    if (!mJournal.isOpen() || mJournal.reserveChunk(samples)) return true;
    noteDiskFailure();
    return false;
}

void MPEG4Writer::journalChunk(Track* track, int64_t offset, uint32_t crc,
                               const std::vector<journal::SampleInfo>& info) {
    if (!mJournal.isOpen() || info.empty()) return;
    if (!track->isJournaled()) {
        journal::TrackInfo trackInfo;
        // A track without its codec configuration cannot be shown.
        if (!track->journalInfo(&trackInfo)) return;
        mJournal.writeTrack(trackInfo);
        track->setJournaled();
    }
    mJournal.writeChunk((uint32_t)track->getTrackId(), offset, crc, info.data(), info.size());
}

void MPEG4Writer::noteDiskFailure() {
    if (mDiskFailed.exchange(true)) return;
    ALOGE("The disk failed: the recording keeps what reached it, the rest is dropped");
    notify(android::MEDIA_RECORDER_EVENT_ERROR, kErrorWriterDisk, android::ERROR_IO);
}

// After a disk failure the file gets a moov for what reached it whole,
// from the journal (its file, or memory); the error stays the recording's
// result. After another failure a journal file stays, so that the file can
// be recovered later.
status_t MPEG4Writer::finishFromJournal(status_t err) {
    const bool diskFailed = mDiskFailed.load() || (mFile && mFile->status() != android::OK);
    RecoveryResult result = RecoveryResult::kFailed;
    if (diskFailed && mJournal.isOpen()) {
        // A sink without a descriptor of its own writes the file at mPath.
        int fd = mFile ? mFile->fd() : -1;
        int own = -1;
        if (fd < 0 && !mPath.empty()) {
            fd = own = ::open(mPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_LARGEFILE);
        }
        if (fd >= 0) result = finishRecording(fd, mJournal);
        if (own >= 0) ::close(own);
        ALOGI("The failed recording %s", result == RecoveryResult::kRecovered
                                             ? "was finished with what reached the disk"
                                             : "could not be finished");
    }
    release();
    if (result == RecoveryResult::kRecovered || mJournal.inMemory()) {
        mJournal.remove();
    } else {
        mJournal.close();
    }
    return err;
}

}  // namespace qor
