// The recorder's state machine and encoder set-up, with a fake writer and
// fake encoders, on simulated devices.
#include "android_source/AndroidCodec.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <host/log_record.h>
#include <host/platform_level.h>
#include <media/stagefright/MediaDefs.h>

#include <gtest/gtest.h>

#include "FakeMedia.h"
#include "android_source/ColorFormats.h"
#include "common/ColorFormat.h"

namespace {

using android::MetaData;
using android::sp;
using qor::AndroidCodec;

// What the encoder factories were asked, and what they answer.
struct FactoryLog {
    struct Call {
        bool own;
        std::string mime;
        std::string name;  // "<none>" for no name
        uint32_t flags;
    };
    std::vector<Call> calls;
    int failVideoAttempts = 0;  // video attempts answered with null
    bool failAudio = false;
    sp<qortest::CheckingEncoder> lastVideo, lastAudio;
};
FactoryLog gFactory;
sp<qortest::FakeWriter> gWriter;

sp<android::MediaSource> makeEncoder(bool own, const sp<MetaData>& meta,
                                     const sp<android::MediaSource>& source, const char* name,
                                     uint32_t flags) {
    const char* mime = "";
    meta->findCString(android::kKeyMIMEType, &mime);
    gFactory.calls.push_back({own, mime, name ? name : "<none>", flags});
    const bool video = strncmp(mime, "video/", 6) == 0;
    if (video && gFactory.failVideoAttempts > 0) {
        --gFactory.failVideoAttempts;
        return nullptr;
    }
    if (!video && gFactory.failAudio) return nullptr;
    sp<qortest::CheckingEncoder> encoder = new qortest::CheckingEncoder(source, meta, 0);
    (video ? gFactory.lastVideo : gFactory.lastAudio) = encoder;
    return encoder;
}

sp<android::MediaSource> ownFactory(const sp<android::IOMX>&, const sp<MetaData>& meta, bool,
                                    const sp<android::MediaSource>& source, const char* name,
                                    uint32_t flags, const sp<ANativeWindow>&) {
    return makeEncoder(true, meta, source, name, flags);
}

sp<android::MediaSource> platformFactory(const sp<android::IOMX>&, const sp<MetaData>& meta,
                                         bool, const sp<android::MediaSource>& source,
                                         const char* name, uint32_t flags,
                                         const sp<ANativeWindow>&) {
    return makeEncoder(false, meta, source, name, flags);
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::logClear();
        gFactory = FactoryLog();
        gWriter = new qortest::FakeWriter;
        useProfile("");
    }
    void TearDown() override {
        mRecorder.reset();
        gWriter.clear();
        gFactory = FactoryLog();
        unsetenv("DEVICE_PROFILE");
    }

    // Empty text: the default device.
    void useProfile(const std::string& text) {
        if (text.empty()) {
            unsetenv("DEVICE_PROFILE");
        } else {
            static int serial = 0;
            std::string path = ::testing::TempDir() + "recorder_profile_" +
                               std::to_string(getpid()) + "_" + std::to_string(++serial);
            std::ofstream(path) << text;
            setenv("DEVICE_PROFILE", path.c_str(), 1);
        }
        qor::RecorderFactories factories;
        factories.createWriter = [](const char*) -> sp<android::MediaWriter> { return gWriter; };
        factories.ownEncoderFactory = &ownFactory;
        factories.platformEncoderFactory = &platformFactory;
        mRecorder.reset(new AndroidCodec(factories));
    }

    void startRecording() {
        ASSERT_EQ(0, mRecorder->setVideoMeta(320, 240, 1000000, 30, 1));
        ASSERT_EQ(0, mRecorder->setAudioMeta(44100, 2, 64000));
        ASSERT_EQ(0, mRecorder->start("/tmp/unused.mp4"));
    }

    static int lines(const std::string& text) { return host::logCount(text, "qor_codec"); }

    std::unique_ptr<AndroidCodec> mRecorder;
    uint8_t mFrame[64] = {};
    uint8_t mAudio[176] = {};  // 1 ms of 44.1 kHz stereo sound
};

const char kModel[] = "LumoKast Host";

TEST_F(RecorderTest, DefaultDeviceIsInitializedAndAvailable) {
    EXPECT_EQ(0, mRecorder->available());
    EXPECT_EQ(AndroidCodec::INITIALIZED, mRecorder->status());
    EXPECT_EQ(1, lines("[LumoKast Host] status current state is INITIALIZED."));
    EXPECT_EQ(-1, mRecorder->getColorFormat());
}

TEST_F(RecorderTest, DeviceWithoutAnAacEncoderRefusesEverything) {
    useProfile("ro.product.model=NoAudio\n"
               "codec.0.name=OMX.google.h264.encoder\ncodec.0.type=video/avc\ncodec.0.colorformats=19\n");
    EXPECT_EQ(1, lines("[NoAudio] audio/mp4a-latm encode size is zero!"));
    EXPECT_EQ(-1, mRecorder->available());
    EXPECT_EQ(AndroidCodec::UNINITIALIZED, mRecorder->status());
    EXPECT_EQ(-1, mRecorder->setVideoMeta(320, 240, 1, 1, 1));
    EXPECT_EQ(1, lines("[NoAudio] setVideoMeta must be called before start() state 'UNINITIALIZED'."));
    EXPECT_EQ(-1, mRecorder->setAudioMeta(44100, 2, 1));
    EXPECT_EQ(-1, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(1, lines("[NoAudio] start is called in invalid state 'UNINITIALIZED'."));
    EXPECT_EQ(-1, mRecorder->stop());
    EXPECT_EQ(-1, mRecorder->setPause());
}

TEST_F(RecorderTest, StartWithoutEncodersIsRefusedWithBothLines) {
    EXPECT_EQ(-1, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(1, lines("start video_omx_source andr audio_omx_source is null!"));
    EXPECT_EQ(1, lines("please set the video or audio parameter fist!"));
    EXPECT_EQ(AndroidCodec::INITIALIZED, mRecorder->status());
}

TEST_F(RecorderTest, FullLifecycleWalksTheTransitionTable) {
    startRecording();
    EXPECT_EQ(AndroidCodec::STARTED, mRecorder->status());
    EXPECT_EQ((int)qor::kColorFormatYUV420Planar, mRecorder->getColorFormat());
    // Audio first, then video; the writer is started without parameters.
    ASSERT_EQ(2u, gWriter->sources().size());
    // The writer reads each encoder through a watch of its failures.
    EXPECT_EQ(gFactory.lastAudio->getFormat().get(), gWriter->sources()[0]->getFormat().get());
    EXPECT_EQ(gFactory.lastVideo->getFormat().get(), gWriter->sources()[1]->getFormat().get());
    EXPECT_FALSE(gWriter->lastStartHadParams());
    int32_t stride = 0, sliceHeight = 0;
    EXPECT_TRUE(gFactory.lastVideo->getFormat()->findInt32(android::kKeyStride, &stride));
    EXPECT_TRUE(gFactory.lastVideo->getFormat()->findInt32(android::kKeySliceHeight, &sliceHeight));
    EXPECT_EQ(320, stride);
    EXPECT_EQ(240, sliceHeight);

    EXPECT_EQ(-1, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(1, lines("start is called in invalid state 'STARTED'."));
    EXPECT_EQ(-1, mRecorder->setVideoMeta(320, 240, 1, 1, 1));
    EXPECT_EQ(1, lines("setVideoMeta must be called before start() state 'STARTED'."));
    EXPECT_EQ(-1, mRecorder->setAudioMeta(44100, 2, 1));
    EXPECT_EQ(1, lines("setAudioMeta must be called before start state 'STARTED'."));

    EXPECT_EQ(0, mRecorder->setPause());
    EXPECT_EQ(1, lines("set pause success."));
    EXPECT_EQ(AndroidCodec::PAUSE, mRecorder->status());
    EXPECT_EQ(-1, mRecorder->setPause());
    EXPECT_EQ(1, lines("setPause is called in invalid state 'PAUSE'."));
    EXPECT_EQ(-1, mRecorder->pushVideoBuffer(mFrame, 64, 64, 10));
    EXPECT_EQ(1, lines("[video] state 'PAUSE' size 64 timestamp 10"));

    // Start while paused resumes: the writer, never paused, is left alone.
    EXPECT_EQ(0, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(1, lines("resume success."));
    EXPECT_EQ(1, gWriter->startCalls());
    EXPECT_EQ(AndroidCodec::STARTED, mRecorder->status());
    EXPECT_EQ(-1, mRecorder->resume());
    EXPECT_EQ(1, lines("resume is called in invalid state 'STARTED'."));
    EXPECT_EQ(0, mRecorder->setPause());
    EXPECT_EQ(0, mRecorder->resume());
    EXPECT_EQ(AndroidCodec::STARTED, mRecorder->status());

    EXPECT_EQ(0, mRecorder->stop());
    EXPECT_EQ(1, lines("stop success."));
    EXPECT_EQ(AndroidCodec::STOPPED, mRecorder->status());
    EXPECT_EQ(-1, mRecorder->stop());
    EXPECT_EQ(1, lines("stop is called in invalid state 'STOPPED'."));
    EXPECT_EQ(-1, mRecorder->resume());
    EXPECT_EQ(1, lines("resume is called in invalid state 'STOPPED'."));

    // The encoders are gone with the recording.
    EXPECT_EQ(-1, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(1, lines("please set the video or audio parameter fist!"));
    gWriter = new qortest::FakeWriter;
    startRecording();
    EXPECT_EQ(AndroidCodec::STARTED, mRecorder->status());
    EXPECT_EQ(0, mRecorder->stop());
}

TEST_F(RecorderTest, PushesNeedStartedStateSizeAndPositiveTime) {
    EXPECT_EQ(-1, mRecorder->pushAudioBuffer(mFrame, 0, 64, 10));
    EXPECT_EQ(1, lines("[audio] state 'INITIALIZED' size 64 timestamp 10"));
    startRecording();
    EXPECT_EQ(-1, mRecorder->pushVideoBuffer(mFrame, 64, 64, 0));
    EXPECT_EQ(1, lines("[video] state 'STARTED' size 64 timestamp 0"));
    EXPECT_EQ(-1, mRecorder->pushVideoBuffer(mFrame, 64, 64, -5));
    EXPECT_EQ(1, lines("[video] state 'STARTED' size 64 timestamp -5"));
    EXPECT_EQ(-1, mRecorder->pushAudioBuffer(mFrame, 0, 0, 7));
    EXPECT_EQ(1, lines("[audio] state 'STARTED' size 0 timestamp 7"));
    EXPECT_EQ(0, mRecorder->pushVideoBuffer(mFrame, 64, 64, 1000));
    EXPECT_EQ(0, mRecorder->pushAudioBuffer(mFrame, 0, 64, 1000));
    EXPECT_EQ(0, mRecorder->pushVideoBuffer(mFrame, 64, 64, 2000));
    EXPECT_EQ(0, mRecorder->stop());
    // Every accepted buffer reached the encoder, the last one too.
    ASSERT_EQ(2u, gFactory.lastVideo->records().size());
    EXPECT_EQ(1000, gFactory.lastVideo->records()[0].timeUs);
    EXPECT_EQ(2000, gFactory.lastVideo->records()[1].timeUs);
    EXPECT_EQ(1u, gFactory.lastAudio->records().size());
}

TEST_F(RecorderTest, WriterFailuresLeaveOrEndTheRecordingAsTheyShould) {
    gWriter->mStartResult = android::UNKNOWN_ERROR;
    ASSERT_EQ(0, mRecorder->setVideoMeta(320, 240, 1000000, 30, 1));
    EXPECT_EQ(-1, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(1, lines("start is fail, state 'INITIALIZED'."));
    EXPECT_EQ(AndroidCodec::INITIALIZED, mRecorder->status());
    EXPECT_EQ(-1, mRecorder->stop());

    gWriter->mStartResult = android::OK;
    gWriter = new qortest::FakeWriter;
    gWriter->mStopResult = android::ERROR_MALFORMED;
    ASSERT_EQ(0, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(android::ERROR_MALFORMED, mRecorder->stop());
    EXPECT_EQ(1, lines("stop fail."));
    EXPECT_EQ(AndroidCodec::STOPPED, mRecorder->status());
}

TEST_F(RecorderTest, ParameterChecksAndEncoderAttempts) {
    EXPECT_EQ(-1, mRecorder->setVideoMeta(0, 240, 1, 1, 1));
    EXPECT_EQ(1, lines("setVideoMeta input invalid param width 0 height 240 bitrate 1 framerate 1 iInterval 1"));
    EXPECT_EQ(-1, mRecorder->setAudioMeta(44100, -1, 1));
    EXPECT_EQ(1, lines("setAudioMeta input invalid param samplerate 44100 channels -1 bitrate 1"));
    EXPECT_TRUE(gFactory.calls.empty());

    // Zero rates are the encoder's business.
    EXPECT_EQ(0, mRecorder->setAudioMeta(0, 0, 0));
    ASSERT_EQ(1u, gFactory.calls.size());
    EXPECT_FALSE(gFactory.calls[0].own);
    EXPECT_EQ("<none>", gFactory.calls[0].name);

    gFactory.calls.clear();
    gFactory.failVideoAttempts = 1;
    EXPECT_EQ(0, mRecorder->setVideoMeta(320, 240, 0, 0, 0));
    ASSERT_EQ(2u, gFactory.calls.size());
    EXPECT_EQ("OMX.google.h264.encoder", gFactory.calls[0].name);
    EXPECT_EQ(0u, gFactory.calls[0].flags);
    EXPECT_EQ("<none>", gFactory.calls[1].name);
    EXPECT_EQ(1u, gFactory.calls[1].flags);
    EXPECT_EQ(1, lines("using OMX node OMX.google.h264.encoder - color 19 COLOR_FormatYUV420Planar"));

    gFactory.failVideoAttempts = 2;
    EXPECT_EQ(-1, mRecorder->setVideoMeta(320, 240, 0, 0, 0));
    EXPECT_EQ(1, lines("create video OMX fail!"));
    gFactory.failAudio = true;
    EXPECT_EQ(-1, mRecorder->setAudioMeta(44100, 2, 1));
    EXPECT_EQ(1, lines("create audio OMX fail!"));
}

// Two colour names exist only from level 21 on; level 18 prints "??".
TEST_F(RecorderTest, ColourNamesFollowThePlatformLevel) {
    useProfile("ro.board.platform=msm8960\ncodec.0.name=OMX.qcom.video.encoder.avc\n"
               "codec.0.type=video/avc\ncodec.0.colorformats=0x7FA30C04\n"
               "codec.9.name=OMX.google.aac.encoder\ncodec.9.type=audio/mp4a-latm\n");
    ASSERT_EQ(0, mRecorder->setVideoMeta(320, 240, 1000000, 30, 1));
#if PLATFORM_LEVEL >= 21
    EXPECT_EQ(1, lines("using OMX node OMX.qcom.video.encoder.avc - color 2141391876 "
                       "QCOM_COLOR_FormatYUV420PackedSemiPlanar32m"));
    EXPECT_STREQ("COLOR_FormatYUV420Flexible",
                 qor::colorFormatName(qor::kColorFormatYUV420Flexible));
#else
    EXPECT_EQ(1, lines("using OMX node OMX.qcom.video.encoder.avc - color 2141391876 ??"));
    EXPECT_STREQ("??", qor::colorFormatName(qor::kColorFormatYUV420Flexible));
#endif
    EXPECT_STREQ("COLOR_FormatYUV420SemiPlanar",
                 qor::colorFormatName(qor::kColorFormatYUV420SemiPlanar));
    EXPECT_STREQ("??", qor::colorFormatName(44));
}

struct ChoiceCase {
    const char* name;
    const char* profile;
    const char* component;
    int colorFormat;
    bool ownFactory;
};

class EncoderChoiceTest : public RecorderTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(EncoderChoiceTest, PicksComponentColourAndFactory) {
    const ChoiceCase& c = GetParam();
    useProfile(c.profile);
    if (c.component == nullptr) {
        EXPECT_EQ(-1, mRecorder->setVideoMeta(320, 240, 1000000, 30, 1));
        EXPECT_EQ(1, host::logCount("get avc metadata fail."));
        return;
    }
    ASSERT_EQ(0, mRecorder->setVideoMeta(320, 240, 1000000, 30, 1));
    EXPECT_STREQ(c.component, mRecorder->encoderName());
    ASSERT_FALSE(gFactory.calls.empty());
    EXPECT_EQ(c.ownFactory, gFactory.calls[0].own);
    EXPECT_EQ(c.component, gFactory.calls[0].name);
    ASSERT_EQ(0, mRecorder->start("/tmp/x.mp4"));
    EXPECT_EQ(c.colorFormat, mRecorder->getColorFormat());
    EXPECT_EQ(0, mRecorder->stop());
}

#define AAC "codec.9.name=OMX.google.aac.encoder\ncodec.9.type=audio/mp4a-latm\n"
#define GOOGLE_AVC(n) "codec." #n ".name=OMX.google.h264.encoder\ncodec." #n ".type=video/avc\ncodec." #n ".colorformats=19\n"

INSTANTIATE_TEST_SUITE_P(
        Devices, EncoderChoiceTest,
        ::testing::Values(
                ChoiceCase{"FixedModelNoQuery",
                           "ro.product.model=h60-l01 pro\n" GOOGLE_AVC(0) AAC,
                           "OMX.IMG.TOPAZ.VIDEO.Encoder", qor::kColorFormatYUV420SemiPlanar, false},
                ChoiceCase{"ExcludedExynosFallsToGoogle",
                           "codec.0.name=OMX.Exynos.avc.enc\ncodec.0.type=video/avc\n"
                           "codec.0.colorformats=21,0x7FC00002\n" GOOGLE_AVC(1) AAC,
                           "OMX.google.h264.encoder", qor::kColorFormatYUV420Planar, false},
                ChoiceCase{"BestRankedFormatOfTheFirstComponent",
                           "codec.0.name=OMX.vendor.avc\ncodec.0.type=video/avc\n"
                           "codec.0.colorformats=21,0x7FA30C04\n" GOOGLE_AVC(1) AAC,
                           "OMX.vendor.avc", qor::kColorFormatQcomYUV420PackedSemiPlanar32m, false},
                ChoiceCase{"QualcommBoardUsesItsOwnDriver",
                           "ro.board.platform=msm8960\ncodec.0.name=OMX.qcom.video.encoder.avc\n"
                           "codec.0.type=video/avc\ncodec.0.colorformats=0x7FA30C04,21\n"
                           GOOGLE_AVC(1) AAC,
                           "OMX.qcom.video.encoder.avc",
                           qor::kColorFormatQcomYUV420PackedSemiPlanar32m, true},
                ChoiceCase{"Msm7627aSkipsTheQualcommEncoder",
                           "ro.board.platform=MSM7627A\ncodec.0.name=OMX.qcom.video.encoder.avc\n"
                           "codec.0.type=video/avc\ncodec.0.colorformats=0x7FA30C04\n"
                           GOOGLE_AVC(1) AAC,
                           "OMX.google.h264.encoder", qor::kColorFormatYUV420Planar, true},
                ChoiceCase{"Hw8x25SkipsTheQualcommEncoder",
                           "ro.hw_plat=8X25Q\nro.board.platform=apq8064\n"
                           "codec.0.name=OMX.qcom.video.encoder.avc\n"
                           "codec.0.type=video/avc\ncodec.0.colorformats=0x7FA30C04\n"
                           GOOGLE_AVC(1) AAC,
                           "OMX.google.h264.encoder", qor::kColorFormatYUV420Planar, true},
                ChoiceCase{"NoPreferredFormatNoEncoder",
                           "codec.0.name=OMX.odd.avc\ncodec.0.type=video/avc\n"
                           "codec.0.colorformats=6,7\n" AAC,
                           nullptr, 0, false}),
        [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

// Pushes are made the way the facade makes them: stamped with the wall clock.
int64_t wallUs() { return qor::RecordingClock::wallClockUs(); }

// The encoders ended during the pause (they failed): resume cannot go on,
// says so, and stops the recording in order.
TEST_F(RecorderTest, ResumeAfterTheEncodersEndedStopsTheRecording) {
    startRecording();
    EXPECT_EQ(0, mRecorder->pushVideoBuffer(mFrame, 64, 64, wallUs()));
    EXPECT_EQ(0, mRecorder->setPause());
    gWriter->mTracksEnded = true;
    EXPECT_EQ(-1, mRecorder->resume());
    EXPECT_EQ(1, lines("resume fail, the recording ended while paused."));
    EXPECT_EQ(AndroidCodec::STOPPED, mRecorder->status());
}

// One push as the game saw it.
struct PushRecord {
    int64_t beginUs, endUs;
    bool accepted;
};

// The game's picture thread pushes as fast as it can and its sound thread
// 1 ms of sound every millisecond, while its main thread pauses and resumes.
// A push made wholly inside a pause is refused, one made wholly outside is
// accepted, and the encoders get every stream's buffers in time order on a
// time line without the pauses.
TEST_F(RecorderTest, PauseAndResumeRacingPushes) {
    if (PLATFORM_LEVEL != 23) GTEST_SKIP();
    const int kCycles = 40;
    startRecording();
    std::atomic<bool> done{false};
    std::vector<PushRecord> pushes[2];
    const int64_t firstUs = wallUs();
    auto pusher = [&](bool video) {
        // Sound never catches up after a stall: its pushes are at least 1 ms
        // apart, so what was accepted never runs ahead of the wall clock.
        for (int64_t dueUs = firstUs; !done;) {
            const int64_t nowUs = wallUs();
            if (!video && nowUs < dueUs) usleep((useconds_t)(dueUs - nowUs));
            const int64_t begin = wallUs();
            const int r = video ? mRecorder->pushVideoBuffer(mFrame, 64, 64, begin)
                                : mRecorder->pushAudioBuffer(mAudio, 0, sizeof(mAudio), begin);
            pushes[video].push_back({begin, wallUs(), r == 0});
            dueUs = std::max(dueUs, begin) + 1000;
        }
    };
    std::thread video(pusher, true), audio(pusher, false);
    // A pause surely from its return to resume's call, maybe from its call
    // to resume's return.
    struct Pause {
        int64_t callUs, surelyUs, surelyEndUs, endUs;
    };
    std::vector<Pause> pauses;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        usleep(1000);
        Pause pause;
        pause.callUs = wallUs();
        ASSERT_EQ(0, mRecorder->setPause());
        pause.surelyUs = wallUs();
        usleep(2000);
        EXPECT_EQ(-1, mRecorder->setPause());
        pause.surelyEndUs = wallUs();
        ASSERT_EQ(0, mRecorder->resume());
        pause.endUs = wallUs();
        pauses.push_back(pause);
    }
    usleep(1000);
    done = true;
    video.join();
    audio.join();
    const int64_t lastUs = wallUs();
    EXPECT_EQ(0, mRecorder->stop());

    for (int v = 0; v < 2; ++v) {
        for (const PushRecord& p : pushes[v]) {
            bool inside = false, outside = true;
            for (const Pause& pause : pauses) {
                if (p.beginUs >= pause.surelyUs && p.endUs <= pause.surelyEndUs) inside = true;
                if (p.endUs >= pause.callUs && p.beginUs <= pause.endUs) outside = false;
            }
            if (inside) {
                EXPECT_FALSE(p.accepted) << "a push inside a pause was accepted";
            }
            if (outside) {
                EXPECT_TRUE(p.accepted) << "a push between pauses was refused";
            }
        }
    }
    int64_t pausedUs = 0;
    for (const Pause& pause : pauses) pausedUs += pause.surelyEndUs - pause.surelyUs;
    // The sound pushed before a pause lasts at most 1 ms beyond it.
    const int64_t kOverhangUs = 1000;
    for (const auto& encoder : {gFactory.lastVideo, gFactory.lastAudio}) {
        const std::vector<qortest::ReadRecord> records = encoder->records();
        ASSERT_GT(records.size(), 2u);
        for (size_t i = 1; i < records.size(); ++i) {
            ASSERT_LE(records[i - 1].timeUs, records[i].timeUs) << "record " << i;
        }
        const int64_t spanUs = records.back().timeUs - records.front().timeUs;
        EXPECT_LE(spanUs, lastUs - firstUs - pausedUs + kCycles * kOverhangUs);
    }
}

TEST_F(RecorderTest, StopRacingPushesNeitherCrashesNorHangs) {
    // Each stop polls the writer every 100 ms; one level's run is enough.
    if (PLATFORM_LEVEL != 23) GTEST_SKIP();
    for (int cycle = 0; cycle < 100; ++cycle) {
        gWriter = new qortest::FakeWriter;
        ASSERT_EQ(0, mRecorder->setVideoMeta(64, 64, 100000, 30, 1));
        ASSERT_EQ(0, mRecorder->setAudioMeta(8000, 1, 16000));
        ASSERT_EQ(0, mRecorder->start("/tmp/x.mp4"));
        std::atomic<bool> done{false};
        auto pusher = [&](bool video) {
            int64_t t = 1;
            while (!done) {
                if (video) {
                    mRecorder->pushVideoBuffer(mFrame, 64, 64, t++);
                } else {
                    mRecorder->pushAudioBuffer(mFrame, 0, 64, t++);
                }
            }
        };
        std::thread video(pusher, true), audio(pusher, false);
        if (cycle % 2) std::this_thread::yield();
        EXPECT_EQ(0, mRecorder->stop());
        done = true;
        video.join();
        audio.join();
    }
}

}  // namespace
