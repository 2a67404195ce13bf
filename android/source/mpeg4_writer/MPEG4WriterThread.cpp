// Writer thread: interleaves the chunks of several tracks into mdat.
#define LOG_TAG "MPEG4Writer"

#include <pthread.h>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4Writer.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

status_t MPEG4Writer::startWriterThread() {
    mDone = false;
    mDriftTimeUs = 0;
    for (Track* track : mTracks) {
        ChunkInfo info;
        info.mTrack = track;
        mChunkQueues.push_back(info);
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
    pthread_create(&mWriterThread, &attr, ThreadWrapper, this);
    pthread_attr_destroy(&attr);
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

void MPEG4Writer::bufferChunk(const Chunk& chunk) {
    android::Mutex::Autolock autolock(mLock);
    CHECK_EQ(mDone, false);
    for (ChunkInfo& info : mChunkQueues) {
        if (chunk.mTrack == info.mTrack) {
            info.mChunks.push_back(chunk);
            mChunkReady.signal();
            return;
        }
    }
    CHECK(!"Received a chunk for a unknown track");
}

void MPEG4Writer::writeChunkToFile(Chunk* chunk) {
    Track* track = chunk->mTrack;
    bool isFirstSample = true;
    while (!chunk->mSamples.empty()) {
        android::MediaBuffer* sample = chunk->mSamples.front();
        int64_t offset = track->isAvc() ? addLengthPrefixedSample_l(sample) : addSample_l(sample);
        if (isFirstSample) {
            track->addChunkOffset(offset);
            isFirstSample = false;
        }
        sample->release();
        chunk->mSamples.pop_front();
    }
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

    *chunk = earliest->mChunks.front();
    earliest->mChunks.pop_front();
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
    pthread_setname_np(pthread_self(), "MPEG4Writer");

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
