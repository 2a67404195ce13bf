// Reaches the writer's internals: its chunk queues without running its
// threads, and the moov it would write.
#ifndef QOR_TESTS_WRITER_TEST_PEER_H_
#define QOR_TESTS_WRITER_TEST_PEER_H_

#include <string.h>

#include <iterator>
#include <list>
#include <vector>

#include <media/stagefright/MediaBuffer.h>

#include "WriterTestSupport.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

class MPEG4WriterTestPeer {
public:
    explicit MPEG4WriterTestPeer(MPEG4Writer* writer) : mWriter(writer) {}

    // Sets up the chunk queues the writer thread would serve.
    void openQueues() {
        android::Mutex::Autolock l(mWriter->mLock);
        for (const std::unique_ptr<MPEG4Writer::Track>& track : mWriter->mTracks) {
            MPEG4Writer::ChunkInfo info;
            info.mTrack = track.get();
            mWriter->mChunkQueues.push_back(std::move(info));
        }
    }
    // Queues a chunk of samples as the track thread hands them over: an AVC
    // sample (here one NAL unit) behind its 4-byte length.
    void queue(size_t trackIndex, int64_t timeUs, const std::vector<wtest::Bytes>& samples) {
        std::list<MediaBufferRef> buffers;
        for (const wtest::Bytes& nal : samples) {
            wtest::Bytes s = nal;
            if (track(trackIndex)->isAvc()) {
                const uint32_t n = (uint32_t)nal.size();
                s.insert(s.begin(), {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8),
                                     (uint8_t)n});
            }
            android::MediaBuffer* b = new android::MediaBuffer(s.size());
            memcpy(b->data(), s.data(), s.size());
            buffers.emplace_back(b);
        }
        mWriter->bufferChunk(MPEG4Writer::Chunk(track(trackIndex), timeUs, std::move(buffers)));
    }
    // Pops the next chunk the writer thread would write: (track, time).
    bool next(size_t* trackIndex, int64_t* timeUs) {
        MPEG4Writer::Chunk chunk;
        android::Mutex::Autolock l(mWriter->mLock);
        if (!mWriter->findChunkToWrite(&chunk)) return false;
        *trackIndex = indexOf(chunk.mTrack);
        *timeUs = chunk.mTimeStampUs;
        mWriter->writeChunkToFile(&chunk);
        return true;
    }
    void writeAllChunks() {
        android::Mutex::Autolock l(mWriter->mLock);
        mWriter->writeAllChunks();
    }
    // The moov of the stopped recording, as stop builds it at time `now`.
    wtest::Bytes moov(uint64_t now) {
        MemoryByteSink sink;
        mWriter->buildMoov(now, &sink);
        return sink.bytes();
    }

private:
    MPEG4Writer::Track* track(size_t index) {
        auto it = mWriter->mTracks.begin();
        std::advance(it, index);
        return it->get();
    }
    size_t indexOf(MPEG4Writer::Track* t) {
        size_t i = 0;
        for (const std::unique_ptr<MPEG4Writer::Track>& x : mWriter->mTracks) {
            if (x.get() == t) return i;
            ++i;
        }
        return SIZE_MAX;
    }
    MPEG4Writer* mWriter;
};

}  // namespace qor

#endif  // QOR_TESTS_WRITER_TEST_PEER_H_
