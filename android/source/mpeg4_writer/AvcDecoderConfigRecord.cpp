// AVC decoder configuration record (avcC body) from the encoder's codec
// configuration buffer: start-code delimited SPS and PPS are parsed and
// rebuilt; a buffer that already is a record is taken as it is.
#define LOG_TAG "MPEG4Writer"

#include <string.h>

#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

using android::ERROR_MALFORMED;
using android::OK;

namespace {

const uint8_t kNalUnitTypeSeqParamSet = 0x07;
const uint8_t kNalUnitTypePicParamSet = 0x08;
const size_t kMaxParamSetLength = 0xFFFF;  // the record stores 2-byte lengths

bool isStartCode(const uint8_t* data) { return !memcmp(data, "\x00\x00\x00\x01", 4); }

// First 4-byte start code at a position p with p + 4 < length, else the end.
const uint8_t* findNextStartCode(const uint8_t* data, size_t length) {
    const uint8_t* nextStartCode = data;
    size_t bytesLeft = length;
    while (bytesLeft > 4 && !isStartCode(nextStartCode)) {
        --bytesLeft;
        ++nextStartCode;
    }
    if (bytesLeft <= 4) return data + length;  // the last set runs to the end
    return nextStartCode;
}

}  // namespace

const uint8_t* MPEG4Writer::Track::parseParamSet(const uint8_t* data, size_t length, int type,
                                                 size_t* paramSetLen) {
    CHECK(type == kNalUnitTypeSeqParamSet || type == kNalUnitTypePicParamSet);

    const uint8_t* nextStartCode = findNextStartCode(data, length);
    *paramSetLen = nextStartCode - data;
    if (*paramSetLen == 0) {
        ALOGE("Param set is malformed, since its length is 0");
        return NULL;
    }
    if (*paramSetLen > kMaxParamSetLength) {
        ALOGE("Param set is too long: %zu bytes", *paramSetLen);
        return NULL;
    }

    AVCParamSet paramSet((uint16_t)*paramSetLen, data);
    if (type == kNalUnitTypeSeqParamSet) {
        if (*paramSetLen < 4) {
            ALOGE("Seq parameter set malformed");
            return NULL;
        }
        if (mSpsList.empty()) {
            mProfileIdc = data[1];
            mProfileCompatible = data[2];
            mLevelIdc = data[3];
            ALOGI("paramSetLen %u mProfileIdc %u mProfileCompatible %u mLevelIdc %u",
                  (unsigned)*paramSetLen, mProfileIdc, mProfileCompatible, mLevelIdc);
        } else {
            if (mProfileIdc != data[1] || mProfileCompatible != data[2] || mLevelIdc != data[3]) {
                ALOGE("Inconsistent profile/level found in seq parameter sets");
                return NULL;
            }
        }
        mSpsList.push_back(paramSet);
    } else {
        mPpsList.push_back(paramSet);
    }
    return nextStartCode;
}

status_t MPEG4Writer::Track::copyAVCCodecSpecificData(const uint8_t* data, size_t size) {
    // A record holds at least the header, one SPS and one PPS.
    if (size < 11) {
        ALOGE("Codec specific data length too short: %zu", size);
        return ERROR_MALFORMED;
    }
    mCodecSpecificDataSize = size;
    mCodecSpecificData = new uint8_t[size];
    memcpy(mCodecSpecificData, data, size);
    return OK;
}

status_t MPEG4Writer::Track::parseAVCCodecSpecificData(const uint8_t* data, size_t size) {
    // Data starts with a start code; SPS and PPS are separated by start codes.
    bool gotSps = false;
    bool gotPps = false;
    const uint8_t* tmp = data;
    const uint8_t* nextStartCode = data;
    size_t bytesLeft = size;
    size_t paramSetLen = 0;
    mCodecSpecificDataSize = 0;
    while (bytesLeft > 4 && isStartCode(tmp)) {
        int type = tmp[4] & 0x1F;
        if (type == kNalUnitTypeSeqParamSet) {
            if (gotPps) {
                ALOGE("SPS must come before PPS, comming type is 0x7(NalUnitTypeSeqParamSet)");
                return ERROR_MALFORMED;
            }
            ALOGD("gotSps ? <%s>", "yes");
        } else if (type == kNalUnitTypePicParamSet) {
            if (!gotSps) {
                ALOGE("SPS must come before PPS, comming type is 0x8(NalUnitTypePicParamSet)");
                return ERROR_MALFORMED;
            }
            gotPps = true;
            ALOGD("gotPps ? <%s>", "yes");
        } else {
            ALOGW("Only SPS and PPS Nal units are expected, comming type is %d(See ISO/IEC "
                  "14496-15,AVC elementary streams and sample definitions)",
                  type);
            nextStartCode = findNextStartCode(tmp + 4, bytesLeft - 4);
            bytesLeft -= nextStartCode - tmp;
            tmp = nextStartCode;
            continue;
        }

        nextStartCode = parseParamSet(tmp + 4, bytesLeft - 4, type, &paramSetLen);
        if (nextStartCode == NULL) return ERROR_MALFORMED;
        mCodecSpecificDataSize += (2 + paramSetLen);
        bytesLeft -= nextStartCode - tmp;
        tmp = nextStartCode;
        gotSps = true;
    }

    {
        // Check on the number of seq parameter sets
        size_t nSeqParamSets = mSpsList.size();
        if (nSeqParamSets == 0) {
            ALOGE("Cound not find sequence parameter set");
            return ERROR_MALFORMED;
        }
        if (nSeqParamSets > 0x1F) {
            ALOGE("Too many seq parameter sets (%zu) found", nSeqParamSets);
            return ERROR_MALFORMED;
        }
    }
    {
        // Check on the number of pic parameter sets
        size_t nPicParamSets = mPpsList.size();
        if (nPicParamSets == 0) {
            ALOGE("Cound not find picture parameter set");
            return ERROR_MALFORMED;
        }
        if (nPicParamSets > 0xFF) {
            ALOGE("Too many pic parameter sets (%zu) found", nPicParamSets);
            return ERROR_MALFORMED;
        }
    }
    return OK;
}

status_t MPEG4Writer::Track::makeAVCCodecSpecificData(const uint8_t* data, size_t size) {
    if (mCodecSpecificData != NULL) {
        ALOGE("Already have codec specific data");
        return ERROR_MALFORMED;
    }
    if (size < 4) {
        ALOGE("Codec specific data length too short: %zu", size);
        return ERROR_MALFORMED;
    }

    // Data is in the form of an AVC decoder configuration record already.
    if (!isStartCode(data)) return copyAVCCodecSpecificData(data, size);

    if (parseAVCCodecSpecificData(data, size) != OK) {
        mSpsList.clear();
        mPpsList.clear();
        return ERROR_MALFORMED;
    }

    // ISO/IEC 14496-15: AVC decoder configuration record
    mCodecSpecificDataSize += 7;
    uint8_t* header = new uint8_t[mCodecSpecificDataSize];
    mCodecSpecificData = header;
    header[0] = 1;                   // version
    header[1] = mProfileIdc;         // profile indication
    header[2] = mProfileCompatible;  // profile compatibility
    header[3] = mLevelIdc;

    // Six 1 bits, then the NAL length size minus one.
    header[4] = mOwner->useNalLengthFour() ? 0xFF : 0xFD;

    // Three 1 bits, then the SPS count.
    header[5] = 0xE0 | (uint8_t)mSpsList.size();
    header += 6;
    for (const AVCParamSet& set : mSpsList) {
        header[0] = set.mLength >> 8;
        header[1] = set.mLength & 0xFF;
        memcpy(&header[2], set.mData, set.mLength);
        header += (2 + set.mLength);
    }

    // PPS count.
    header[0] = (uint8_t)mPpsList.size();
    header += 1;
    for (const AVCParamSet& set : mPpsList) {
        header[0] = set.mLength >> 8;
        header[1] = set.mLength & 0xFF;
        memcpy(&header[2], set.mData, set.mLength);
        header += (2 + set.mLength);
    }

    // The sets point into the encoder's buffer, which goes back now.
    mSpsList.clear();
    mPpsList.clear();
    return OK;
}

}  // namespace qor
