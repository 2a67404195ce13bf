// Writer thread: interleaves the chunks of several tracks into mdat.
#define LOG_TAG "MPEG4Writer"

#include <pthread.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <vector>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4Writer.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

namespace {
const int kRealTimeThreadPriority = -16;
}  // namespace

status_t MPEG4Writer::startWriterThread() {
    {
        android::Mutex::Autolock autolock(mLock);
        mDone = false;
        mDriftTimeUs = 0;
        for (const std::unique_ptr<Track>& track : mTracks) {
            ChunkInfo info;
            info.mTrack = track.get();
            mChunkQueues.push_back(std::move(info));
        }
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    int rc = pthread_create(&mWriterThread, &attr, ThreadWrapper, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        ALOGE("Cannot start the writer thread: %s", strerror(rc));
        android::Mutex::Autolock autolock(mLock);
        mChunkQueues.clear();
        return android::UNKNOWN_ERROR;
    }
    mWriterThreadRunning = true;
    return android::OK;
}

void MPEG4Writer::stopWriterThread() {
    ALOGD("Stopping writer thread");
    if (!mWriterThreadRunning) return;
    {
        android::Mutex::Autolock autolock(mLock);
        mDone = true;
        mChunkReady.signal();
    }
    void* dummy;
    pthread_join(mWriterThread, &dummy);
    mWriterThreadRunning = false;
    ALOGD("Writer thread stopped");
}

void* MPEG4Writer::ThreadWrapper(void* me) {
    static_cast<MPEG4Writer*>(me)->threadFunc();
    return nullptr;
}

// Memory held by queued chunks is watched: past the cap the recorder is
// told to drop frames before encoding them, until half of it is left.
void MPEG4Writer::noteQueued_l(int64_t bytes) {
    mQueuedBytes += bytes;
    if (mQueuedBytes > mPeakQueuedBytes) mPeakQueuedBytes = mQueuedBytes;
    if (!mBacklogged && mQueuedBytes > mMaxQueuedBytes) {
        mBacklogged = true;
        ALOGW("%lld bytes wait for the disk", (long long)mQueuedBytes);
        notify(android::MEDIA_RECORDER_EVENT_INFO, kInfoWriterBacklog, 1);
    } else if (mBacklogged && mQueuedBytes <= mMaxQueuedBytes / 2) {
        mBacklogged = false;
        notify(android::MEDIA_RECORDER_EVENT_INFO, kInfoWriterBacklog, 0);
    }
}

int64_t MPEG4Writer::peakQueuedBytes() {
    android::Mutex::Autolock autolock(mLock);
    return mPeakQueuedBytes;
}

void MPEG4Writer::bufferChunk(Chunk&& chunk) {
    android::Mutex::Autolock autolock(mLock);
    CHECK_EQ(mDone, false);
    for (ChunkInfo& info : mChunkQueues) {
        if (chunk.mTrack == info.mTrack) {
            noteQueued_l(chunk.bytes());
            info.mChunks.push_back(std::move(chunk));
            mChunkReady.signal();
            return;
        }
    }
    CHECK(!"Received a chunk for a unknown track");
}

void MPEG4Writer::writeChunkToFile(Chunk* chunk) {
    // The samples go out straight from their buffers (AVC ones already carry
    // their NAL lengths), the whole chunk in one gathered write.
    // After a failure nothing more is written: a later chunk that happened
    // to fit would leave a hole in the file.
    Track* track = chunk->mTrack;
    if (chunk->mSamples.empty() || !prepareJournal(chunk->mInfo.size())) {
        chunk->mSamples.clear();
        return;
    }
    std::vector<struct iovec> iov;
    iov.reserve(chunk->mSamples.size());
    int64_t chunkOffset = fileOffset();
    // The chunk's CRC ties the journal to the bytes that reached the file.
    uint32_t crc = 0;
    for (const MediaBufferRef& sample : chunk->mSamples) {
        uint8_t* data = (uint8_t*)sample->data() + sample->range_offset();
        iov.push_back({data, sample->range_length()});
        crc = journal::crc32(data, sample->range_length(), crc);
    }
    mFile->writev(iov.data(), iov.size());
    track->addChunkOffset(chunkOffset);
    chunk->mSamples.clear();
    if (mFile->status() != android::OK) {
        noteDiskFailure();
        return;
    }
    journalChunk(track, chunkOffset, crc, chunk->mInfo);
}

bool MPEG4Writer::findChunkToWrite(Chunk* chunk) {
    if (mChunkQueues.empty()) return false;

    ChunkInfo* earliest = nullptr;
    int64_t minTimestampUs = 0x7FFFFFFFFFFFFFFFLL;
    for (ChunkInfo& info : mChunkQueues) {
        if (info.mChunks.empty()) continue;
        // A later queue wins only with a strictly earlier chunk, so on a tie
        // the track added first goes first.
        int64_t timeUs = info.mChunks.front().mTimeStampUs;
        if (earliest == nullptr || timeUs < minTimestampUs) {
            minTimestampUs = timeUs;
            earliest = &info;
        }
    }
    if (earliest == nullptr) return false;

    *chunk = std::move(earliest->mChunks.front());
    earliest->mChunks.pop_front();
    noteQueued_l(-chunk->bytes());
    CHECK_EQ(chunk->mTrack, earliest->mTrack);
    return true;
}

void MPEG4Writer::writeAllChunks() {
    int outstandingChunks = 0;
    Chunk chunk;
    while (findChunkToWrite(&chunk)) {
        writeChunkToFile(&chunk);
        ++outstandingChunks;
    }
    mChunkQueues.clear();
    ALOGD("%d chunks are written in the last batch", outstandingChunks);
}

void MPEG4Writer::threadFunc() {
    int rc = pthread_setname_np(pthread_self(), "MPEG4Writer");
    if (rc != 0) ALOGW("Cannot name the thread %s: %s", "MPEG4Writer", strerror(rc));
    if (mRealTimeRecording) {
        // As urgent as the track threads that feed it: a writer starved by
        // them lets every queued sample pile up in memory.
        setpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid), kRealTimeThreadPriority);
    }

    android::Mutex::Autolock autoLock(mLock);
    while (!mDone) {
        Chunk chunk;
        bool chunkFound = false;
        while (!mDone && !(chunkFound = findChunkToWrite(&chunk))) {
            mChunkReady.wait(mLock);
        }
        if (!chunkFound) break;

        // In real-time mode the tracks keep queueing while this chunk is
        // written; the file is written by this thread only.
        if (mRealTimeRecording) {
            mLock.unlock();
            writeChunkToFile(&chunk);
            mLock.lock();
        } else {
            writeChunkToFile(&chunk);
        }
    }
    writeAllChunks();
}

}  // namespace qor
