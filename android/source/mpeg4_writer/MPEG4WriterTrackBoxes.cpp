// The trak box of a track: headers, sample entries and sample tables.
#define LOG_TAG "MPEG4Writer"

#include <string.h>
#include <strings.h>

#include <media/stagefright/MediaDefs.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::MetaData;

// The sample entry goes through the writer's box writer, which nothing
// else uses while samples are written.
bool MPEG4Writer::Track::journalInfo(journal::TrackInfo* info) const {
    const size_t config = mCodecSpecificData.size();
    if (mIsAvc && config < 5) return false;
    if (mIsMpeg4OrAac && (config == 0 || config + 23 >= 128)) return false;
    if (!mIsAvc && !mIsMpeg4OrAac && config != 0) return false;
    info->trackId = mTrackId;
    info->isAudio = mIsAudio;
    info->timeScale = mTimeScale;
    if (!mIsAudio) {
        mMeta->findInt32(android::kKeyWidth, &info->width);
        mMeta->findInt32(android::kKeyHeight, &info->height);
    }
    info->startTimeUs = mStartTimestampUs;
    info->primingTicks = primingTicks();
    MemoryByteSink entry;
    IByteSink* file = out()->sink();
    out()->setSink(&entry);
    writeStsdBox();
    out()->setSink(file);
    info->sampleEntry = entry.bytes();
    return true;
}

void MPEG4Writer::Track::writeTrackHeader(bool use32BitOffset, uint64_t now) const {
    const TrackDurations d = durations();
    out()->beginBox("trak");
    writeTkhdBox(now, d.trackTicks);
    writeEdtsBox(d);
    writeMdiaBox(now, d.mediaTicks, use32BitOffset);
    out()->endBox();  // trak
}

TrackDurations MPEG4Writer::Track::durations() const {
    TrackTiming timing;
    timing.sampleTicks = mTable.durationTicks();
    timing.startOffsetTicks = (uint64_t)getStartTimeOffsetScaledTime();
    timing.primingTicks = primingTicks();
    timing.mediaTimeScale = mTimeScale;
    timing.movieTimeScale = mOwner->mTimeScale;
    return trackDurations(timing);
}

// An encoder's priming (kKeyEncoderDelay samples before the sound) is
// skipped by an edit: players start the track where the sound does.
uint64_t MPEG4Writer::Track::primingTicks() const {
    int32_t delay = 0, rate = 0;
    if (!mIsAudio || !mMeta->findInt32(android::kKeyEncoderDelay, &delay) || delay <= 0 ||
        !mMeta->findInt32(android::kKeySampleRate, &rate) || rate <= 0) {
        return 0;
    }
    return (uint64_t)delay * (uint64_t)mTimeScale / (uint64_t)rate;
}

// The same edit a moov mended from the journal gets.
void MPEG4Writer::Track::writeEdtsBox(const TrackDurations& d) const { writeEditList(out(), d); }

void MPEG4Writer::Track::writeMdiaBox(uint64_t now, uint64_t duration, bool use32BitOffset) const {
    out()->beginBox("mdia");
    writeMdhdBox(now, duration);
    writeHdlrBox();
    writeMinfBox(use32BitOffset);
    out()->endBox();
}

void MPEG4Writer::Track::writeMinfBox(bool use32BitOffset) const {
    out()->beginBox("minf");
    if (mIsAudio) {
        writeSmhdBox();
    } else {
        writeVmhdBox();
    }
    writeDinfBox();
    writeStblBox(use32BitOffset);
    out()->endBox();
}

void MPEG4Writer::Track::writeStblBox(bool use32BitOffset) const {
    out()->beginBox("stbl");
    const uint32_t startOffsetTicks = (uint32_t)getStartTimeOffsetScaledTime();
    writeStsdBox();
    mTable.writeSttsBox(out(), startOffsetTicks);
    mTable.writeCttsBox(out(), startOffsetTicks);  // video only
    if (!mIsAudio) mTable.writeStssBox(out());
    mTable.writeStszBox(out());
    mTable.writeStscBox(out());
    mTable.writeStcoBox(out(), use32BitOffset);
    out()->endBox();  // stbl
}

void MPEG4Writer::Track::writeStsdBox() const {
    out()->beginBox("stsd");
    out()->writeInt32(0);  // version=0, flags=0
    out()->writeInt32(1);  // entry count
    if (mIsAudio) {
        writeAudioFourCCBox();
    } else {
        writeVideoFourCCBox();
    }
    out()->endBox();  // stsd
}

void MPEG4Writer::Track::writeVideoFourCCBox() const {
    const char* mime;
    bool success = mMeta->findCString(android::kKeyMIMEType, &mime);
    CHECK(success);
    if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_MPEG4, mime)) {
        out()->beginBox("mp4v");
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_H263, mime)) {
        out()->beginBox("s263");
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_VIDEO_AVC, mime)) {
        out()->beginBox("avc1");
    } else {
        ALOGE("Unknown mime type '%s'.", mime);
        CHECK(!"should not be here, unknown mime type.");
    }

    out()->writeInt32(0);  // reserved
    out()->writeInt16(0);  // reserved
    out()->writeInt16(1);  // data ref index
    out()->writeInt16(0);  // predefined
    out()->writeInt16(0);  // reserved
    out()->writeInt32(0);  // predefined
    out()->writeInt32(0);  // predefined
    out()->writeInt32(0);  // predefined

    int32_t width, height;
    success = mMeta->findInt32(android::kKeyWidth, &width);
    success = success && mMeta->findInt32(android::kKeyHeight, &height);
    CHECK(success);

    out()->writeInt16(width);
    out()->writeInt16(height);
    out()->writeInt32(0x480000);  // horiz resolution
    out()->writeInt32(0x480000);  // vert resolution
    out()->writeInt32(0);         // reserved
    out()->writeInt16(1);         // frame count
    out()->writeInt8(0);          // compressor string length
    out()->write("                               ", 31);
    out()->writeInt16(0x18);  // depth
    out()->writeInt16(-1);    // predefined

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
    out()->endBox();  // mp4v, s263 or avc1
}

void MPEG4Writer::Track::writeAudioFourCCBox() const {
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

    out()->beginBox(fourcc);  // audio format
    out()->writeInt32(0);     // reserved
    out()->writeInt16(0);     // reserved
    out()->writeInt16(0x1);   // data ref index
    out()->writeInt32(0);     // reserved
    out()->writeInt32(0);     // reserved
    int32_t nChannels;
    CHECK_EQ(true, mMeta->findInt32(android::kKeyChannelCount, &nChannels));
    out()->writeInt16(nChannels);  // channel count
    out()->writeInt16(16);         // sample size
    out()->writeInt16(0);          // predefined
    out()->writeInt16(0);          // reserved

    int32_t samplerate;
    success = mMeta->findInt32(android::kKeySampleRate, &samplerate);
    CHECK(success);
    out()->writeInt32(samplerate << 16);
    if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AAC, mime)) {
        writeMp4aEsdsBox();
    } else if (!strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AMR_NB, mime) ||
               !strcasecmp(android::MEDIA_MIMETYPE_AUDIO_AMR_WB, mime)) {
        writeDamrBox();
    }
    out()->endBox();
}

void MPEG4Writer::Track::writeMp4aEsdsBox() const {
    out()->beginBox("esds");
    writeEsdsHead(0x00, 0x40, 0x15);  // MPEG-4 audio, AudioStream

    out()->writeInt16(0x03);  // buffer size (24 bits): 0x000300
    out()->writeInt8(0x00);
    out()->writeInt32(96000);  // max bit rate
    out()->writeInt32(96000);  // avg bit rate

    writeEsdsTail();
    out()->endBox();  // esds
}

// The start of every esds: the ES descriptor and the head of its decoder
// config descriptor. The descriptor lengths are single bytes.
void MPEG4Writer::Track::writeEsdsHead(uint8_t esFlags, uint8_t objectType,
                                       uint8_t streamType) const {
    // takeCodecConfig let only a configuration that fits through.
    CHECK(!mCodecSpecificData.empty());
    CHECK_LT(mCodecSpecificData.size() + kEsdsOverheadBytes, 128u);
    out()->writeInt32(0);    // version=0, flags=0
    out()->writeInt8(0x03);  // ES_DescrTag
    out()->writeInt8(kEsdsOverheadBytes + mCodecSpecificData.size());
    out()->writeInt16(0x0000);  // ES_ID
    out()->writeInt8(esFlags);

    out()->writeInt8(0x04);  // DecoderConfigDescrTag
    out()->writeInt8(15 + mCodecSpecificData.size());
    out()->writeInt8(objectType);
    out()->writeInt8(streamType);
}

// The decoder-specific info (the codec data) and the SL config that end
// every esds.
void MPEG4Writer::Track::writeEsdsTail() const {
    out()->writeInt8(0x05);  // DecoderSpecificInfoTag
    out()->writeInt8(mCodecSpecificData.size());
    out()->write(mCodecSpecificData.data(), mCodecSpecificData.size());

    static const uint8_t kData2[] = {
        0x06,  // SLConfigDescriptorTag
        0x01,
        0x02,
    };
    out()->write(kData2, sizeof(kData2));
}

void MPEG4Writer::Track::writeMp4vEsdsBox() const {
    out()->beginBox("esds");
    writeEsdsHead(0x1f, 0x20, 0x11);  // MPEG-4 visual, VisualStream

    static const uint8_t kData[] = {
        0x01, 0x77, 0x00,        // buffer size 96000
        0x00, 0x03, 0xe8, 0x00,  // max bit rate 256000
        0x00, 0x03, 0xe8, 0x00,  // avg bit rate 256000
    };
    out()->write(kData, sizeof(kData));

    writeEsdsTail();

    out()->endBox();  // esds
}

void MPEG4Writer::Track::writeTkhdBox(uint64_t now, uint64_t duration) const {
    bool version1 = BoxWriter::needsVersion1(now, duration);
    out()->beginBox("tkhd");
    out()->writeVersionAndTimes(version1, 0x07, now);  // enabled, in movie, in preview
    out()->writeInt32(mTrackId);                       // track id, from 1
    out()->writeInt32(0);                              // reserved
    out()->writeTimeField(version1, duration);
    out()->writeInt32(0);                     // reserved
    out()->writeInt32(0);                     // reserved
    out()->writeInt16(0);                     // layer
    out()->writeInt16(0);                     // alternate group
    out()->writeInt16(mIsAudio ? 0x100 : 0);  // volume
    out()->writeInt16(0);                     // reserved

    out()->writeCompositionMatrix(mRotationDegrees);

    if (mIsAudio) {
        out()->writeInt32(0);
        out()->writeInt32(0);
    } else {
        int32_t width, height;
        bool success = mMeta->findInt32(android::kKeyWidth, &width);
        success = success && mMeta->findInt32(android::kKeyHeight, &height);
        CHECK(success);

        out()->writeInt32(width << 16);   // 32-bit fixed-point value
        out()->writeInt32(height << 16);  // 32-bit fixed-point value
    }
    out()->endBox();  // tkhd
}

void MPEG4Writer::Track::writeVmhdBox() const {
    out()->beginBox("vmhd");
    out()->writeInt32(0x01);  // version=0, flags=1
    out()->writeInt16(0);     // graphics mode
    out()->writeInt16(0);     // opcolor
    out()->writeInt16(0);
    out()->writeInt16(0);
    out()->endBox();
}

void MPEG4Writer::Track::writeSmhdBox() const {
    out()->beginBox("smhd");
    out()->writeInt32(0);  // version=0, flags=0
    out()->writeInt16(0);  // balance
    out()->writeInt16(0);  // reserved
    out()->endBox();
}

void MPEG4Writer::Track::writeHdlrBox() const {
    out()->beginBox("hdlr");
    out()->writeInt32(0);                                           // version=0, flags=0
    out()->writeInt32(0);                                           // pre-defined
    out()->writeFourcc(mIsAudio ? "soun" : "vide");                 // handler type
    out()->writeInt32(0);                                           // reserved
    out()->writeInt32(0);                                           // reserved
    out()->writeInt32(0);                                           // reserved
    out()->writeCString(mIsAudio ? "SoundHandle" : "VideoHandle");  // name
    out()->endBox();
}

void MPEG4Writer::Track::writeMdhdBox(uint64_t now, uint64_t duration) const {
    bool version1 = BoxWriter::needsVersion1(now, duration);
    out()->beginBox("mdhd");
    out()->writeVersionAndTimes(version1, 0, now);
    out()->writeInt32(mTimeScale);  // media timescale
    out()->writeTimeField(version1, duration);
    out()->writeInt16(0);  // language code
    out()->writeInt16(0);  // predefined
    out()->endBox();
}

void MPEG4Writer::Track::writeDamrBox() const {
    out()->beginBox("damr");
    out()->writeCString("   ");  // vendor: 4 bytes
    out()->writeInt8(0);         // decoder version
    out()->writeInt16(0x83FF);   // mode set: all enabled
    out()->writeInt8(0);         // mode change period
    out()->writeInt8(1);         // frames per sample
    out()->endBox();
}

void MPEG4Writer::Track::writeUrlBox() const {
    out()->beginBox("url ");
    out()->writeInt32(1);  // version=0, flags=1 (self-contained)
    out()->endBox();       // url
}

void MPEG4Writer::Track::writeDrefBox() const {
    out()->beginBox("dref");
    out()->writeInt32(0);  // version=0, flags=0
    out()->writeInt32(1);  // entry count
    writeUrlBox();
    out()->endBox();  // dref
}

void MPEG4Writer::Track::writeDinfBox() const {
    out()->beginBox("dinf");
    writeDrefBox();
    out()->endBox();  // dinf
}

void MPEG4Writer::Track::writeAvccBox() const {
    CHECK_GE(mCodecSpecificData.size(), 5u);

    // The record's length-size field must match the sample prefixes.
    std::vector<uint8_t> record = mCodecSpecificData;
    record[4] = (record[4] & 0xfc) | (mOwner->useNalLengthFour() ? 3 : 1);
    out()->beginBox("avcC");
    out()->write(record.data(), record.size());
    out()->endBox();  // avcC
}

void MPEG4Writer::Track::writeD263Box() const {
    out()->beginBox("d263");
    out()->writeInt32(0);  // vendor
    out()->writeInt8(0);   // decoder version
    out()->writeInt8(10);  // level: 10
    out()->writeInt8(0);   // profile: 0
    out()->endBox();       // d263
}

// Square pixels.
void MPEG4Writer::Track::writePaspBox() const {
    out()->beginBox("pasp");
    out()->writeInt32(1 << 16);  // hspacing
    out()->writeInt32(1 << 16);  // vspacing
    out()->endBox();             // pasp
}

}  // namespace qor
