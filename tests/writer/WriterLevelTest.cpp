// The writer built for platform levels 18 and 21: the start-time offset is
// reached through the writer interface on 21 and directly on 18, and a
// two-track real-time recording hands the sources the offset start time.
#include <gtest/gtest.h>

#include <host/platform_level.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaErrors.h>

#include "mpeg4_writer/MPEG4Writer.h"

namespace {

using android::sp;
using android::status_t;

static_assert(PLATFORM_LEVEL == QOR_EXPECTED_LEVEL, "wrong platform level");

// Hands over its codec configuration and ends; the tracks end malformed.
struct StartRecorder : public android::MediaSource {
    explicit StartRecorder(bool audio) : mAudio(audio) {}
    status_t start(android::MetaData* params) override {
        params->findInt64(android::kKeyTime, &mStartTimeUs);
        return 0;
    }
    status_t stop() override { return 0; }
    sp<android::MetaData> getFormat() override {
        sp<android::MetaData> m = new android::MetaData;
        m->setCString(android::kKeyMIMEType, mAudio ? android::MEDIA_MIMETYPE_AUDIO_AAC
                                                    : android::MEDIA_MIMETYPE_VIDEO_AVC);
        m->setInt32(android::kKeySampleRate, 44100);
        m->setInt32(android::kKeyChannelCount, 1);
        m->setInt32(android::kKeyWidth, 64);
        m->setInt32(android::kKeyHeight, 64);
        return m;
    }
    status_t read(android::MediaBuffer**, const ReadOptions*) override {
        return android::ERROR_END_OF_STREAM;
    }
    bool mAudio;
    int64_t mStartTimeUs = -1;
};

TEST(WriterLevel, StartTimeOffsetReachesTheSources) {
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer("/dev/null");
    sp<StartRecorder> audio = new StartRecorder(true);
    sp<StartRecorder> video = new StartRecorder(false);
    ASSERT_EQ(0, writer->addSource(audio));
    ASSERT_EQ(0, writer->addSource(video));
#if PLATFORM_LEVEL >= 21
    sp<android::MediaWriter> base = writer;
    base->setStartTimeOffsetMs(250);
    EXPECT_EQ(250, base->getStartTimeOffsetMs());
#else
    writer->setStartTimeOffsetMs(250);
#endif
    ASSERT_EQ(0, writer->start(nullptr));
    while (!writer->reachedEOS()) usleep(1000);
    EXPECT_EQ(android::ERROR_MALFORMED, writer->stop());
    EXPECT_EQ(250000, audio->mStartTimeUs);
    EXPECT_EQ(250000, video->mStartTimeUs);
}

}  // namespace
