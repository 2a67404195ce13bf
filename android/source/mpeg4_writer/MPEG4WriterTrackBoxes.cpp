// The trak box of a track: headers, sample entries and sample tables.
#define LOG_TAG "MPEG4Writer"

#include <arpa/inet.h>
#include <string.h>
#include <strings.h>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::MetaData;

void MPEG4Writer::Track::writeTrackHeader(bool use32BitOffset) {
    uint64_t now = MPEG4Writer::mpeg4Time();
    mOwner->beginBox("trak");
    writeTkhdBox(now);
    writeMdiaBox(now, use32BitOffset);
    mOwner->endBox();  // trak
}

void MPEG4Writer::Track::writeMdiaBox(uint64_t now, bool use32BitOffset) {
    mOwner->beginBox("mdia");
    writeMdhdBox(now);
    writeHdlrBox();
    writeMinfBox(use32BitOffset);
    mOwner->endBox();
}

void MPEG4Writer::Track::writeMinfBox(bool use32BitOffset) {
    mOwner->beginBox("minf");
    if (mIsAudio) {
        writeSmhdBox();
    } else {
        writeVmhdBox();
    }
    writeDinfBox();
    writeStblBox(use32BitOffset);
    mOwner->endBox();
}

void MPEG4Writer::Track::writeStblBox(bool use32BitOffset) {
    mOwner->beginBox("stbl");
    writeStsdBox();
    writeSttsBox();
    writeCttsBox();
    if (!mIsAudio) writeStssBox();
    writeStszBox();
    writeStscBox();
    writeStcoBox(use32BitOffset);
    mOwner->endBox();  // stbl
}

void MPEG4Writer::Track::writeStsdBox() {
    mOwner->beginBox("stsd");
    mOwner->writeInt32(0);  // version=0, flags=0
    mOwner->writeInt32(1);  // entry count
    if (mIsAudio) {
        writeAudioFourCCBox();
    } else {
        writeVideoFourCCBox();
    }
    mOwner->endBox();  // stsd
}

void MPEG4Writer::Track::writeVideoFourCCBox() {
    const char* mime;
    bool success = mMeta->findCString(android::kKeyMIMEType, &mime);
    CHECK(success);
    if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_MPEG4, mime)) {
        mOwner->beginBox("mp4v");
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_H263, mime)) {
        mOwner->beginBox("s263");
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_AVC, mime)) {
        mOwner->beginBox("avc1");
    } else {
        ALOGE("Unknown mime type '%s'.", mime);
        CHECK(!"should not be here, unknown mime type.");
    }

    mOwner->writeInt32(0);  // reserved
    mOwner->writeInt16(0);  // reserved
    mOwner->writeInt16(1);  // data ref index
    mOwner->writeInt16(0);  // predefined
    mOwner->writeInt16(0);  // reserved
    mOwner->writeInt32(0);  // predefined
    mOwner->writeInt32(0);  // predefined
    mOwner->writeInt32(0);  // predefined

    int32_t width, height;
    success = mMeta->findInt32(android::kKeyWidth, &width);
    success = success && mMeta->findInt32(android::kKeyHeight, &height);
    CHECK(success);

    mOwner->writeInt16(width);
    mOwner->writeInt16(height);
    mOwner->writeInt32(0x480000);  // horiz resolution
    mOwner->writeInt32(0x480000);  // vert resolution
    mOwner->writeInt32(0);         // reserved
    mOwner->writeInt16(1);         // frame count
    mOwner->writeInt8(0);          // compressor string length
    mOwner->write("                               ", 31);
    mOwner->writeInt16(0x18);  // depth
    mOwner->writeInt16(-1);    // predefined

    // The one-byte descriptor lengths limit only the esds-based entry; the
    // avcC box has a 32-bit size.
    if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_MPEG4, mime)) {
        writeMp4vEsdsBox();
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_H263, mime)) {
        writeD263Box();
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_AVC, mime)) {
        writeAvccBox();
    }

    writePaspBox();
    mOwner->endBox();  // mp4v, s263 or avc1
}

void MPEG4Writer::Track::writeAudioFourCCBox() {
    const char* mime;
    bool success = mMeta->findCString(android::kKeyMIMEType, &mime);
    CHECK(success);
    const char* fourcc = NULL;
    if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AMR_NB, mime)) {
        fourcc = "samr";
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AMR_WB, mime)) {
        fourcc = "sawb";
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AAC, mime)) {
        fourcc = "mp4a";
    } else {
        ALOGE("Unknown mime type '%s'.", mime);
        CHECK(!"should not be here, unknown mime type.");
    }

    mOwner->beginBox(fourcc);  // audio format
    mOwner->writeInt32(0);     // reserved
    mOwner->writeInt16(0);     // reserved
    mOwner->writeInt16(0x1);   // data ref index
    mOwner->writeInt32(0);     // reserved
    mOwner->writeInt32(0);     // reserved
    int32_t nChannels;
    CHECK_EQ(true, mMeta->findInt32(android::kKeyChannelCount, &nChannels));
    mOwner->writeInt16(nChannels);  // channel count
    mOwner->writeInt16(16);         // sample size
    mOwner->writeInt16(0);          // predefined
    mOwner->writeInt16(0);          // reserved

    int32_t samplerate;
    success = mMeta->findInt32(android::kKeySampleRate, &samplerate);
    CHECK(success);
    mOwner->writeInt32(samplerate << 16);
    if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AAC, mime)) {
        writeMp4aEsdsBox();
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AMR_NB, mime) ||
               !strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AMR_WB, mime)) {
        writeDamrBox();
    }
    mOwner->endBox();
}

void MPEG4Writer::Track::writeMp4aEsdsBox() {
    mOwner->beginBox("esds");
    CHECK(mCodecSpecificData);
    CHECK_GT(mCodecSpecificDataSize, 0u);

    // The descriptor lengths are single bytes.
    CHECK_LT(mCodecSpecificDataSize + 23, 128u);

    mOwner->writeInt32(0);  // version=0, flags=0
    mOwner->writeInt8(0x03);  // ES_DescrTag
    mOwner->writeInt8(23 + mCodecSpecificDataSize);
    mOwner->writeInt16(0x0000);  // ES_ID
    mOwner->writeInt8(0x00);

    mOwner->writeInt8(0x04);  // DecoderConfigDescrTag
    mOwner->writeInt8(15 + mCodecSpecificDataSize);
    mOwner->writeInt8(0x40);  // object type: MPEG-4 audio
    mOwner->writeInt8(0x15);  // streamType AudioStream

    mOwner->writeInt16(0x03);  // buffer size (24 bits): 0x000300
    mOwner->writeInt8(0x00);
    mOwner->writeInt32(96000);  // max bit rate
    mOwner->writeInt32(96000);  // avg bit rate

    writeEsdsTail();
    mOwner->endBox();  // esds
}

// The decoder-specific info (the codec data) and the SL config that end
// every esds.
void MPEG4Writer::Track::writeEsdsTail() {
    mOwner->writeInt8(0x05);  // DecoderSpecificInfoTag
    mOwner->writeInt8(mCodecSpecificDataSize);
    mOwner->write(mCodecSpecificData, mCodecSpecificDataSize);

    static const uint8_t kData2[] = {
        0x06,  // SLConfigDescriptorTag
        0x01,
        0x02,
    };
    mOwner->write(kData2, sizeof(kData2));
}

void MPEG4Writer::Track::writeMp4vEsdsBox() {
    CHECK(mCodecSpecificData);
    CHECK_GT(mCodecSpecificDataSize, 0u);
    CHECK_LT(23 + mCodecSpecificDataSize, 128u);
    mOwner->beginBox("esds");

    mOwner->writeInt32(0);  // version=0, flags=0

    mOwner->writeInt8(0x03);  // ES_DescrTag
    mOwner->writeInt8(23 + mCodecSpecificDataSize);
    mOwner->writeInt16(0x0000);  // ES_ID
    mOwner->writeInt8(0x1f);

    mOwner->writeInt8(0x04);  // DecoderConfigDescrTag
    mOwner->writeInt8(15 + mCodecSpecificDataSize);
    mOwner->writeInt8(0x20);  // object type: MPEG-4 visual
    mOwner->writeInt8(0x11);  // streamType VisualStream

    static const uint8_t kData[] = {
        0x01, 0x77, 0x00,  // buffer size 96000
        0x00, 0x03, 0xe8, 0x00,  // max bit rate 256000
        0x00, 0x03, 0xe8, 0x00,  // avg bit rate 256000
    };
    mOwner->write(kData, sizeof(kData));

    writeEsdsTail();

    mOwner->endBox();  // esds
}

void MPEG4Writer::Track::writeTkhdBox(uint64_t now) {
    uint64_t duration = MPEG4Writer::scaledDuration(getDurationUs(), mOwner->mTimeScale);
    bool version1 = MPEG4Writer::needsVersion1(now, duration);
    mOwner->beginBox("tkhd");
    mOwner->writeVersionAndTimes(version1, 0x07, now);  // enabled, in movie, in preview
    mOwner->writeInt32(mTrackId);  // track id, from 1
    mOwner->writeInt32(0);         // reserved
    mOwner->writeTimeField(version1, duration);
    mOwner->writeInt32(0);  // reserved
    mOwner->writeInt32(0);  // reserved
    mOwner->writeInt16(0);  // layer
    mOwner->writeInt16(0);  // alternate group
    mOwner->writeInt16(mIsAudio ? 0x100 : 0);  // volume
    mOwner->writeInt16(0);  // reserved

    mOwner->writeCompositionMatrix(mRotationDegrees);

    if (mIsAudio) {
        mOwner->writeInt32(0);
        mOwner->writeInt32(0);
    } else {
        int32_t width, height;
        bool success = mMeta->findInt32(android::kKeyWidth, &width);
        success = success && mMeta->findInt32(android::kKeyHeight, &height);
        CHECK(success);

        mOwner->writeInt32(width << 16);  // 32-bit fixed-point value
        mOwner->writeInt32(height << 16);  // 32-bit fixed-point value
    }
    mOwner->endBox();  // tkhd
}

void MPEG4Writer::Track::writeVmhdBox() {
    mOwner->beginBox("vmhd");
    mOwner->writeInt32(0x01);  // version=0, flags=1
    mOwner->writeInt16(0);     // graphics mode
    mOwner->writeInt16(0);     // opcolor
    mOwner->writeInt16(0);
    mOwner->writeInt16(0);
    mOwner->endBox();
}

void MPEG4Writer::Track::writeSmhdBox() {
    mOwner->beginBox("smhd");
    mOwner->writeInt32(0);  // version=0, flags=0
    mOwner->writeInt16(0);  // balance
    mOwner->writeInt16(0);  // reserved
    mOwner->endBox();
}

void MPEG4Writer::Track::writeHdlrBox() {
    mOwner->beginBox("hdlr");
    mOwner->writeInt32(0);  // version=0, flags=0
    mOwner->writeInt32(0);  // pre-defined
    mOwner->writeFourcc(mIsAudio ? "soun" : "vide");  // handler type
    mOwner->writeInt32(0);  // reserved
    mOwner->writeInt32(0);  // reserved
    mOwner->writeInt32(0);  // reserved
    mOwner->writeCString(mIsAudio ? "SoundHandle" : "VideoHandle");  // name
    mOwner->endBox();
}

void MPEG4Writer::Track::writeMdhdBox(uint64_t now) {
    uint64_t duration = MPEG4Writer::scaledDuration(getDurationUs(), mTimeScale);
    bool version1 = MPEG4Writer::needsVersion1(now, duration);
    mOwner->beginBox("mdhd");
    mOwner->writeVersionAndTimes(version1, 0, now);
    mOwner->writeInt32(mTimeScale);  // media timescale
    mOwner->writeTimeField(version1, duration);
    mOwner->writeInt16(0);  // language code
    mOwner->writeInt16(0);  // predefined
    mOwner->endBox();
}

void MPEG4Writer::Track::writeDamrBox() {
    mOwner->beginBox("damr");
    mOwner->writeCString("   ");  // vendor: 4 bytes
    mOwner->writeInt8(0);         // decoder version
    mOwner->writeInt16(0x83FF);   // mode set: all enabled
    mOwner->writeInt8(0);         // mode change period
    mOwner->writeInt8(1);         // frames per sample
    mOwner->endBox();
}

void MPEG4Writer::Track::writeUrlBox() {
    mOwner->beginBox("url ");
    mOwner->writeInt32(1);  // version=0, flags=1 (self-contained)
    mOwner->endBox();  // url
}

void MPEG4Writer::Track::writeDrefBox() {
    mOwner->beginBox("dref");
    mOwner->writeInt32(0);  // version=0, flags=0
    mOwner->writeInt32(1);  // entry count
    writeUrlBox();
    mOwner->endBox();  // dref
}

void MPEG4Writer::Track::writeDinfBox() {
    mOwner->beginBox("dinf");
    writeDrefBox();
    mOwner->endBox();  // dinf
}

void MPEG4Writer::Track::writeAvccBox() {
    CHECK(mCodecSpecificData);
    CHECK_GE(mCodecSpecificDataSize, 5u);

    // The record's length-size field must match the sample prefixes.
    uint8_t* ptr = (uint8_t*)mCodecSpecificData;
    ptr[4] = (ptr[4] & 0xfc) | (mOwner->useNalLengthFour() ? 3 : 1);
    mOwner->beginBox("avcC");
    mOwner->write(mCodecSpecificData, mCodecSpecificDataSize);
    mOwner->endBox();  // avcC
}

void MPEG4Writer::Track::writeD263Box() {
    mOwner->beginBox("d263");
    mOwner->writeInt32(0);  // vendor
    mOwner->writeInt8(0);   // decoder version
    mOwner->writeInt8(10);  // level: 10
    mOwner->writeInt8(0);   // profile: 0
    mOwner->endBox();  // d263
}

// Square pixels.
void MPEG4Writer::Track::writePaspBox() {
    mOwner->beginBox("pasp");
    mOwner->writeInt32(1 << 16);  // hspacing
    mOwner->writeInt32(1 << 16);  // vspacing
    mOwner->endBox();  // pasp
}

void MPEG4Writer::Track::writeSttsBox() {
    mOwner->beginBox("stts");
    mOwner->writeInt32(0);  // version=0, flags=0
    // The first sample of a later-starting track lasts longer, which keeps
    // the tracks aligned to the earliest start.
    uint32_t duration;
    CHECK(mSttsTableEntries->get(duration, 1));
    duration = htonl(duration);  // back to host byte order
    mSttsTableEntries->set(htonl(duration + getStartTimeOffsetScaledTime()), 1);
    mSttsTableEntries->write(mOwner);
    mOwner->endBox();  // stts
}

void MPEG4Writer::Track::writeCttsBox() {
    if (mIsAudio) return;
    // Equal offsets everywhere: presentation order is decoding order.
    if (mMinCttsOffsetTicks == mMaxCttsOffsetTicks) return;
    if (mCttsTableEntries->count() == 0) return;

    mOwner->beginBox("ctts");
    mOwner->writeInt32(0);  // version=0, flags=0
    // Every offset carries the same bias; take the smallest one off all of
    // them, and shift the first sample like its stts entry.
    uint32_t value;
    CHECK(mCttsTableEntries->get(value, 1));
    uint32_t startOffsetTicks = (uint32_t)getStartTimeOffsetScaledTime();
    const uint32_t nValues = mCttsTableEntries->count() * 2;
    for (uint32_t pos = 1; pos < nValues; pos += 2) {
        mCttsTableEntries->get(value, pos);
        uint32_t offset = ntohl(value) - (uint32_t)mMinCttsOffsetTicks;
        if (pos == 1) offset += startOffsetTicks;
        mCttsTableEntries->set(htonl(offset), pos);
    }
    mCttsTableEntries->write(mOwner);
    mOwner->endBox();  // ctts
}

void MPEG4Writer::Track::writeStssBox() {
    mOwner->beginBox("stss");
    mOwner->writeInt32(0);  // version=0, flags=0
    mStssTableEntries->write(mOwner);
    mOwner->endBox();  // stss
}

void MPEG4Writer::Track::writeStszBox() {
    mOwner->beginBox("stsz");
    mOwner->writeInt32(0);  // version=0, flags=0
    mOwner->writeInt32(0);
    mStszTableEntries->write(mOwner);
    mOwner->endBox();  // stsz
}

void MPEG4Writer::Track::writeStscBox() {
    mOwner->beginBox("stsc");
    mOwner->writeInt32(0);  // version=0, flags=0
    mStscTableEntries->write(mOwner);
    mOwner->endBox();  // stsc
}

void MPEG4Writer::Track::writeStcoBox(bool use32BitOffset) {
    mOwner->beginBox(use32BitOffset ? "stco" : "co64");
    mOwner->writeInt32(0);  // version=0, flags=0
    if (use32BitOffset) {
        mStcoTableEntries->write(mOwner);
    } else {
        mCo64TableEntries->write(mOwner);
    }
    mOwner->endBox();  // stco or co64
}

}  // namespace qor
