// Runs a whole recording through the writer the way the recorder drives it.
#ifndef QOR_TESTS_WRITER_RECORD_HELPER_H_
#define QOR_TESTS_WRITER_RECORD_HELPER_H_

#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "WriterTestSupport.h"
#include "mpeg4_writer/MPEG4Writer.h"

namespace wtest {

struct Recording {
    sp<qor::MPEG4Writer> writer;
    sp<ReplaySource> audio, video;
    status_t startResult = -1;
    status_t stopResult = -1;
};

inline bool waitForEOS(qor::MPEG4Writer* writer, int timeoutMs = 30000) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (writer->reachedEOS()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Audio is added before video, as the recorder does. Either may be empty.
inline Recording record(const std::string& path, std::vector<Unit> audio, std::vector<Unit> video,
                        const std::function<void(qor::MPEG4Writer*)>& setup = nullptr,
                        android::MetaData* startMeta = nullptr,
                        const sp<android::MetaData>& audioFmt = audioFormat(),
                        const sp<android::MetaData>& videoFmt = videoFormat()) {
    Recording r;
    r.writer = new qor::MPEG4Writer(path.c_str());
    EXPECT_EQ(0, r.writer->initCheck());
    if (!audio.empty()) {
        r.audio = new ReplaySource(audioFmt, std::move(audio));
        EXPECT_EQ(0, r.writer->addSource(r.audio));
    }
    if (!video.empty()) {
        r.video = new ReplaySource(videoFmt, std::move(video));
        EXPECT_EQ(0, r.writer->addSource(r.video));
    }
    if (setup) setup(r.writer.get());
    r.startResult = r.writer->start(startMeta);
    if (r.startResult == 0) {
        EXPECT_TRUE(waitForEOS(r.writer.get()));
    }
    r.stopResult = r.writer->stop();
    return r;
}

// Every sample read back through stsz/stsc/stco equals what went in (AVC:
// 4-byte length prefix, start code removed).
inline void expectSamplesMatch(const Mp4File& f, const TrackTables& t,
                               const std::vector<Unit>& units, bool avc) {
    std::vector<Bytes> expected;
    for (const Unit& u : units) {
        if (u.config) continue;
        Bytes b = u.data;
        if (avc) {
            b.erase(b.begin(), b.begin() + 4);
            uint32_t n = (uint32_t)b.size();
            b.insert(b.begin(), {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8),
                                 (uint8_t)n});
        }
        expected.push_back(std::move(b));
    }
    ASSERT_EQ(expected.size(), t.sizes.size());
    std::vector<uint64_t> offs = t.sampleOffsets();
    ASSERT_EQ(expected.size(), offs.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(expected[i], f.sampleBytes(t, i)) << "sample " << i;
    }
}

}  // namespace wtest

#endif  // QOR_TESTS_WRITER_RECORD_HELPER_H_
