// The platform's encoder factory, its AACEncoder, ESDS and SkipCutBuffer.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>

#include <gtest/gtest.h>

#include <media/stagefright/AACEncoder.h>
#include <media/stagefright/ESDS.h>
#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/OMXClient.h>
#include <media/stagefright/OMXCodec.h>
#include <media/stagefright/SkipCutBuffer.h>

#include "OmxTestClient.h"

namespace qor_test {
namespace {

using namespace android;

// Hands out its items as MediaBuffers stamped (i + 1) * step, then fails
// with end of stream; counts the buffers given back.
class ItemSource : public MediaSource, public MediaBufferObserver {
public:
    ItemSource(std::vector<std::vector<uint8_t>> items, int64_t stepUs)
        : mItems(std::move(items)), mStepUs(stepUs) {}
    status_t start(MetaData*) override {
        mStarted = true;
        return OK;
    }
    status_t stop() override {
        mStarted = false;
        return OK;
    }
    sp<MetaData> getFormat() override { return new MetaData; }
    status_t read(MediaBuffer** out, const ReadOptions*) override {
        if (!mStarted || mNext >= mItems.size()) return ERROR_END_OF_STREAM;
        const std::vector<uint8_t>& item = mItems[mNext];
        MediaBuffer* b = new MediaBuffer(item.size());
        memcpy(b->data(), item.data(), item.size());
        b->meta_data()->setInt64(kKeyTime, (int64_t)(mNext + 1) * mStepUs);
        b->setObserver(this);
        b->add_ref();
        ++mNext;
        *out = b;
        return OK;
    }
    void signalBufferReturned(MediaBuffer* b) override {
        b->setObserver(nullptr);
        b->release();
        ++mReturned;
    }
    size_t handedOut() const { return mNext; }
    int returned() const { return mReturned; }

private:
    std::vector<std::vector<uint8_t>> mItems;
    int64_t mStepUs;
    bool mStarted = false;
    size_t mNext = 0;
    std::atomic<int> mReturned{0};
};

class ProfileScope {
public:
    explicit ProfileScope(const char* file) {
        mOld = getenv("DEVICE_PROFILE");
        setenv("DEVICE_PROFILE", (std::string(QOR_SOURCE_DIR) + "/platform/devices/" + file).c_str(),
               1);
    }
    ~ProfileScope() { setenv("DEVICE_PROFILE", mOld.c_str(), 1); }

private:
    std::string mOld;
};

sp<IOMX> service() {
    OMXClient client;
    client.connect();
    return client.interface();
}

sp<MetaData> videoMeta(int32_t w, int32_t h, int32_t color) {
    sp<MetaData> meta = new MetaData;
    meta->setCString(kKeyMIMEType, MEDIA_MIMETYPE_VIDEO_AVC);
    if (color != 0) meta->setInt32(kKeyColorFormat, color);
    meta->setInt32(kKeyWidth, w);
    meta->setInt32(kKeyHeight, h);
    meta->setInt32(kKeyFrameRate, 30);
    meta->setInt32(kKeyBitRate, 1000000);
    meta->setInt32(kKeyStride, w);
    meta->setInt32(kKeySliceHeight, h);
    meta->setInt32(kKeyIFramesInterval, 1);
    return meta;
}

sp<MetaData> audioMeta(int32_t rate, int32_t channels) {
    sp<MetaData> meta = new MetaData;
    meta->setCString(kKeyMIMEType, MEDIA_MIMETYPE_AUDIO_AAC);
    meta->setInt32(kKeySampleRate, rate);
    meta->setInt32(kKeyChannelCount, channels);
    meta->setInt32(kKeyMaxInputSize, 8192);
    meta->setInt32(kKeyBitRate, 96000);
    return meta;
}

// Reads until the encoder ends; returns the final status.
status_t drain(const sp<MediaSource>& enc, std::vector<MediaBuffer*>* out) {
    while (true) {
        MediaBuffer* b = nullptr;
        status_t err = enc->read(&b);
        if (err != OK) return err;
        out->push_back(b);
    }
}

const char* componentOf(const sp<MediaSource>& enc) {
    const char* name = "";
    enc->getFormat()->findCString(kKeyDecoderComponent, &name);
    return name;
}

struct VideoFactoryCase {
    const char* mComponent;
    int32_t mColor;
};

class PlatformVideoTest : public testing::TestWithParam<VideoFactoryCase> {};

TEST_P(PlatformVideoTest, EncodesTheSourceAndReleasesItsBuffers) {
    const int32_t w = 176, h = 144, n = 20;
    std::vector<Yuv> ref;
    std::vector<std::vector<uint8_t>> items;
    for (int i = 0; i < n; ++i) {
        ref.push_back(makeFrame(w, h, i));
        items.push_back(layout(ref.back(), GetParam().mColor, w, h, w * h * 3 / 2));
    }
    sp<ItemSource> source = new ItemSource(items, 33333);
    sp<MediaSource> enc = OMXCodec::Create(service(), videoMeta(w, h, GetParam().mColor), true,
                                           source, GetParam().mComponent, 0);
    ASSERT_TRUE(enc != nullptr);
    sp<MetaData> format = enc->getFormat();
    const char* mime;
    int32_t v;
    ASSERT_TRUE(format->findCString(kKeyMIMEType, &mime));
    EXPECT_STREQ(MEDIA_MIMETYPE_VIDEO_AVC, mime);
    EXPECT_TRUE(format->findInt32(kKeyWidth, &v) && v == w);
    EXPECT_TRUE(format->findInt32(kKeyHeight, &v) && v == h);
    EXPECT_TRUE(format->findInt32(kKeyBitRate, &v) && v == 1000000);

    ASSERT_EQ(OK, enc->start());
    std::vector<MediaBuffer*> out;
    EXPECT_EQ(ERROR_END_OF_STREAM, drain(enc, &out));
    ASSERT_EQ((size_t)n + 1, out.size());
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < out.size(); ++i) {
        sp<MetaData> meta = out[i]->meta_data();
        int32_t conf = 0, sync = 0;
        int64_t time = -1, decT = -1;
        meta->findInt32(kKeyIsCodecConfig, &conf);
        meta->findInt32(kKeyIsSyncFrame, &sync);
        EXPECT_TRUE(meta->findInt64(kKeyTime, &time));
        EXPECT_TRUE(meta->findInt64(kKeyDecodingTime, &decT));
        EXPECT_EQ(i == 0, conf != 0);
        if (i > 0) {
            EXPECT_EQ((int64_t)i * 33333, time);
            EXPECT_EQ(time, decT);
            EXPECT_EQ(i == 1, sync != 0);  // one IDR per second of 30 frames
        }
        const uint8_t* d = (const uint8_t*)out[i]->data() + out[i]->range_offset();
        stream.insert(stream.end(), d, d + out[i]->range_length());
        out[i]->release();
    }
    EXPECT_EQ(OK, enc->stop());
    EXPECT_EQ(n, source->returned());

    std::string in = writeTemp(".h264", stream), yuvPath = in + ".yuv";
    ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -f h264 -i " + in +
                    " -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + yuvPath));
    std::vector<uint8_t> yuv = readFile(yuvPath);
    remove(in.c_str());
    remove(yuvPath.c_str());
    ASSERT_EQ((size_t)w * h * 3 / 2 * n, yuv.size());
    for (int i = 0; i < n; ++i) EXPECT_GE(psnr(ref[i], &yuv[(size_t)i * w * h * 3 / 2]), 30.0);
}

INSTANTIATE_TEST_SUITE_P(Components, PlatformVideoTest,
                         testing::Values(VideoFactoryCase{"OMX.google.h264.encoder", 19},
                                         VideoFactoryCase{"OMX.Exynos.avc.enc", 21},
                                         VideoFactoryCase{"OMX.TI.DUCATI1.VIDEO.H264E",
                                                          0x7F000100}),
                         [](const testing::TestParamInfo<VideoFactoryCase>& info) {
                             std::string name = info.param.mComponent;
                             for (char& ch : name) {
                                 if (!isalnum((unsigned char)ch)) ch = '_';
                             }
                             return name;
                         });

std::vector<std::vector<uint8_t>> toneBlocks(int rate, int channels, int blocks) {
    std::vector<std::vector<uint8_t>> items;
    size_t samples = 8192 / (2 * channels);
    for (int b = 0; b < blocks; ++b) {
        std::vector<uint8_t> item(8192);
        int16_t* s = (int16_t*)item.data();
        for (size_t i = 0; i < samples; ++i) {
            for (int c = 0; c < channels; ++c) {
                s[i * channels + c] = (int16_t)(8000 * sin(2 * M_PI * 500 * (b * samples + i) / rate));
            }
        }
        items.push_back(item);
    }
    return items;
}

TEST(PlatformAudioTest, EncodesPcmToAacFrames) {
    sp<ItemSource> source = new ItemSource(toneBlocks(44100, 2, 20), 46439);
    sp<MediaSource> enc = OMXCodec::Create(service(), audioMeta(44100, 2), true, source);
    ASSERT_TRUE(enc != nullptr);
    EXPECT_STREQ("OMX.google.aac.encoder", componentOf(enc));
    int32_t v;
    EXPECT_TRUE(enc->getFormat()->findInt32(kKeySampleRate, &v) && v == 44100);
    EXPECT_TRUE(enc->getFormat()->findInt32(kKeyChannelCount, &v) && v == 2);
    ASSERT_EQ(OK, enc->start());
    std::vector<MediaBuffer*> out;
    EXPECT_EQ(ERROR_END_OF_STREAM, drain(enc, &out));
    // 20 blocks of 2048 samples: 40 frames, and the encoder's priming frame.
    ASSERT_GE(out.size(), 41u);
    int64_t last = -1;
    for (size_t i = 0; i < out.size(); ++i) {
        int32_t conf = 0;
        int64_t time;
        out[i]->meta_data()->findInt32(kKeyIsCodecConfig, &conf);
        EXPECT_EQ(i == 0, conf != 0);
        ASSERT_TRUE(out[i]->meta_data()->findInt64(kKeyTime, &time));
        int64_t decT;
        EXPECT_FALSE(out[i]->meta_data()->findInt64(kKeyDecodingTime, &decT));  // video only
        if (i > 0) {
            EXPECT_GT(time, last);
            last = time;
        }
        out[i]->release();
    }
    EXPECT_EQ(OK, enc->stop());
    EXPECT_EQ(20, source->returned());
}

TEST(PlatformAudioTest, AACEncoderIsTheSameEncoder) {
    sp<ItemSource> source = new ItemSource(toneBlocks(48000, 1, 6), 85333);
    sp<MediaSource> enc = new AACEncoder(source, audioMeta(48000, 1));
    ASSERT_EQ(OK, enc->start());
    std::vector<MediaBuffer*> out;
    EXPECT_EQ(ERROR_END_OF_STREAM, drain(enc, &out));
    EXPECT_GE(out.size(), 1u + 24u);
    for (MediaBuffer* b : out) b->release();
    EXPECT_EQ(OK, enc->stop());
}

TEST(PlatformFactoryTest, ChoosesByNameListOrderAndFlags) {
    ProfileScope scope("qcom_msm8960.prop");
    sp<ItemSource> source = new ItemSource({}, 1);
    // Without a colour format the component's first one is used.
    sp<MediaSource> enc = OMXCodec::Create(service(), videoMeta(176, 144, 0), true, source);
    ASSERT_TRUE(enc != nullptr);
    EXPECT_STREQ("OMX.qcom.video.encoder.avc", componentOf(enc));
    enc = OMXCodec::Create(service(), videoMeta(176, 144, 0), true, source, nullptr,
                           OMXCodec::kPreferSoftwareCodecs);
    ASSERT_TRUE(enc != nullptr);
    EXPECT_STREQ("OMX.google.h264.encoder", componentOf(enc));
    // A colour format the first one lacks moves on to the next.
    enc = OMXCodec::Create(service(), videoMeta(176, 144, 19), true, source);
    ASSERT_TRUE(enc != nullptr);
    EXPECT_STREQ("OMX.google.h264.encoder", componentOf(enc));
    EXPECT_TRUE(OMXCodec::Create(service(), videoMeta(176, 144, 19), true, source,
                                 "OMX.qcom.video.encoder.avc") == nullptr);
    EXPECT_TRUE(OMXCodec::Create(service(), videoMeta(176, 144, 0), false, source) == nullptr);
}

TEST(PlatformFactoryTest, NothingWithoutAnAacEncoder) {
    ProfileScope scope("no_aac.prop");
    sp<ItemSource> source = new ItemSource({}, 1);
    EXPECT_TRUE(OMXCodec::Create(service(), audioMeta(44100, 2), true, source) == nullptr);
    EXPECT_TRUE(OMXCodec::Create(service(), audioMeta(0, 0), true, source) == nullptr);
}

TEST(PlatformFactoryTest, AComponentErrorEndsReadingWithAnError) {
    std::vector<std::vector<uint8_t>> items(12, std::vector<uint8_t>(176 * 144 * 3 / 2, 128));
    sp<ItemSource> source = new ItemSource(items, 33333);
    sp<MediaSource> enc = OMXCodec::Create(service(), videoMeta(176, 144, 19), true, source,
                                           "OMX.Faulty.erroring.avc");
    ASSERT_TRUE(enc != nullptr);
    ASSERT_EQ(OK, enc->start());
    std::vector<MediaBuffer*> out;
    EXPECT_EQ(UNKNOWN_ERROR, drain(enc, &out));
    EXPECT_LE(out.size(), 6u);
    for (MediaBuffer* b : out) b->release();
    EXPECT_EQ(OK, enc->stop());
    EXPECT_EQ((int)source->handedOut(), source->returned());
}

TEST(EsdsTest, ParsesTheDecoderConfiguration) {
    const uint8_t esds[] = {0x03, 0x19, 0x00, 0x00, 0x00,                    // ES
                            0x04, 0x11, 0x40, 0x15, 0x00, 0x03, 0x00,        // decoder config
                            0x00, 0x00, 0x01, 0x77, 0x00, 0x00, 0x01, 0x76,  // bit rates
                            0x05, 0x02, 0x12, 0x10,                          // specific info
                            0x06, 0x01, 0x02};
    ESDS parsed(esds, sizeof(esds));
    ASSERT_EQ(OK, parsed.InitCheck());
    uint8_t type;
    ASSERT_EQ(OK, parsed.getObjectTypeIndication(&type));
    EXPECT_EQ(0x40, type);
    const void* csd;
    size_t size;
    ASSERT_EQ(OK, parsed.getCodecSpecificInfo(&csd, &size));
    ASSERT_EQ(2u, size);
    EXPECT_EQ(0, memcmp(csd, "\x12\x10", 2));
    uint32_t maxRate, avgRate;
    ASSERT_EQ(OK, parsed.getBitRate(&maxRate, &avgRate));
    EXPECT_EQ(0x177u, maxRate);
    EXPECT_EQ(0x176u, avgRate);
    // Truncated or mistagged input is malformed.
    EXPECT_NE(OK, ESDS(esds, 10).InitCheck());
    const uint8_t wrong[] = {0x04, 0x01, 0x00};
    EXPECT_NE(OK, ESDS(wrong, sizeof(wrong)).InitCheck());
}

TEST(SkipCutBufferTest, DropsTheHeadAndHoldsBackTheTail) {
    sp<SkipCutBuffer> scb = new SkipCutBuffer(3, 2);
    std::vector<uint8_t> seen;
    for (int round = 0; round < 3; ++round) {
        MediaBuffer* b = new MediaBuffer(4);
        for (int i = 0; i < 4; ++i) ((uint8_t*)b->data())[i] = round * 4 + i;
        scb->submit(b);
        const uint8_t* d = (const uint8_t*)b->data() + b->range_offset();
        seen.insert(seen.end(), d, d + b->range_length());
        b->release();
    }
    // 0..11: skip 0,1,2; hold back 10,11.
    EXPECT_EQ((std::vector<uint8_t>{3, 4, 5, 6, 7, 8, 9}), seen);
    EXPECT_EQ(2u, scb->size());
    scb->clear();
    EXPECT_EQ(0u, scb->size());
}

}  // namespace
}  // namespace qor_test
