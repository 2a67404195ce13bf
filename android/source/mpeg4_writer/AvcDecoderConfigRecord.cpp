// AVC decoder configuration record from the encoder's codec configuration.
#define LOG_TAG "MPEG4Writer"

#include "mpeg4_writer/AvcDecoderConfigRecord.h"

#include <string.h>

#include <list>

#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

namespace qor {

using android::ERROR_MALFORMED;
using android::OK;
using android::status_t;

namespace {

const uint8_t kNalUnitTypeSeqParamSet = 0x07;
const uint8_t kNalUnitTypePicParamSet = 0x08;
const size_t kMaxParamSetLength = 0xFFFF;  // the record stores 2-byte lengths
// A record holds at least the header, one SPS and one PPS.
const size_t kMinRecordSize = 11;

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

struct ParamSet {
    uint16_t length;
    const uint8_t* data;  // points into the parsed buffer
};

// Collects the SPS and PPS of a start-code delimited buffer.
class ParamSetParser {
public:
    status_t parse(const uint8_t* data, size_t size);
    void appendRecord(std::vector<uint8_t>* record) const;

private:
    const uint8_t* parseParamSet(const uint8_t* data, size_t length, int type);
    bool checkSequenceSet(const uint8_t* data, size_t length);
    status_t checkCounts() const;
    static void appendSets(const std::list<ParamSet>& sets, std::vector<uint8_t>* record);

    std::list<ParamSet> mSpsList;
    std::list<ParamSet> mPpsList;
    uint8_t mProfileIdc = 0;
    uint8_t mProfileCompatible = 0;
    uint8_t mLevelIdc = 0;
};

bool ParamSetParser::checkSequenceSet(const uint8_t* data, size_t length) {
    if (length < 4) {
        ALOGE("Seq parameter set malformed");
        return false;
    }
    if (mSpsList.empty()) {
        mProfileIdc = data[1];
        mProfileCompatible = data[2];
        mLevelIdc = data[3];
        ALOGI("paramSetLen %u mProfileIdc %u mProfileCompatible %u mLevelIdc %u", (unsigned)length,
              mProfileIdc, mProfileCompatible, mLevelIdc);
    } else if (mProfileIdc != data[1] || mProfileCompatible != data[2] || mLevelIdc != data[3]) {
        ALOGE("Inconsistent profile/level found in seq parameter sets");
        return false;
    }
    return true;
}

// The set starting at `data` (after its start code); returns where the next
// one starts, or null when the set is malformed.
const uint8_t* ParamSetParser::parseParamSet(const uint8_t* data, size_t length, int type) {
    CHECK(type == kNalUnitTypeSeqParamSet || type == kNalUnitTypePicParamSet);
    const uint8_t* nextStartCode = findNextStartCode(data, length);
    size_t paramSetLen = nextStartCode - data;
    if (paramSetLen == 0) {
        ALOGE("Param set is malformed, since its length is 0");
        return NULL;
    }
    if (paramSetLen > kMaxParamSetLength) {
        ALOGE("Param set is too long: %zu bytes", paramSetLen);
        return NULL;
    }
    ParamSet paramSet{(uint16_t)paramSetLen, data};
    if (type == kNalUnitTypeSeqParamSet) {
        if (!checkSequenceSet(data, paramSetLen)) return NULL;
        mSpsList.push_back(paramSet);
    } else {
        mPpsList.push_back(paramSet);
    }
    return nextStartCode;
}

status_t ParamSetParser::parse(const uint8_t* data, size_t size) {
    // Data starts with a start code; SPS and PPS are separated by start codes.
    bool gotSps = false;
    bool gotPps = false;
    const uint8_t* tmp = data;
    size_t bytesLeft = size;
    while (bytesLeft > 4 && isStartCode(tmp)) {
        int type = tmp[4] & 0x1F;
        const uint8_t* nextStartCode;
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
            ALOGW(
                "Only SPS and PPS Nal units are expected, comming type is %d(See ISO/IEC "
                "14496-15,AVC elementary streams and sample definitions)",
                type);
            nextStartCode = findNextStartCode(tmp + 4, bytesLeft - 4);
            bytesLeft -= nextStartCode - tmp;
            tmp = nextStartCode;
            continue;
        }
        nextStartCode = parseParamSet(tmp + 4, bytesLeft - 4, type);
        if (nextStartCode == NULL) return ERROR_MALFORMED;
        bytesLeft -= nextStartCode - tmp;
        tmp = nextStartCode;
        gotSps = true;
    }
    return checkCounts();
}

status_t ParamSetParser::checkCounts() const {
    size_t nSeqParamSets = mSpsList.size();
    if (nSeqParamSets == 0) {
        ALOGE("Cound not find sequence parameter set");
        return ERROR_MALFORMED;
    }
    if (nSeqParamSets > 0x1F) {
        ALOGE("Too many seq parameter sets (%zu) found", nSeqParamSets);
        return ERROR_MALFORMED;
    }
    size_t nPicParamSets = mPpsList.size();
    if (nPicParamSets == 0) {
        ALOGE("Cound not find picture parameter set");
        return ERROR_MALFORMED;
    }
    if (nPicParamSets > 0xFF) {
        ALOGE("Too many pic parameter sets (%zu) found", nPicParamSets);
        return ERROR_MALFORMED;
    }
    return OK;
}

void ParamSetParser::appendSets(const std::list<ParamSet>& sets, std::vector<uint8_t>* record) {
    for (const ParamSet& set : sets) {
        record->push_back((uint8_t)(set.length >> 8));
        record->push_back((uint8_t)(set.length & 0xFF));
        record->insert(record->end(), set.data, set.data + set.length);
    }
}

void ParamSetParser::appendRecord(std::vector<uint8_t>* record) const {
    record->push_back(1);  // version
    record->push_back(mProfileIdc);
    record->push_back(mProfileCompatible);
    record->push_back(mLevelIdc);
    record->push_back(0xFF);  // six 1 bits, then the NAL length size minus one
    record->push_back((uint8_t)(0xE0 | mSpsList.size()));  // three 1 bits, SPS count
    appendSets(mSpsList, record);
    record->push_back((uint8_t)mPpsList.size());
    appendSets(mPpsList, record);
}

}  // namespace

status_t buildAvcDecoderConfigRecord(const uint8_t* data, size_t size,
                                     std::vector<uint8_t>* record) {
    if (size < 4) {
        ALOGE("Codec specific data length too short: %zu", size);
        return ERROR_MALFORMED;
    }
    if (!isStartCode(data)) {
        // Data is in the form of an AVC decoder configuration record already.
        if (size < kMinRecordSize) {
            ALOGE("Codec specific data length too short: %zu", size);
            return ERROR_MALFORMED;
        }
        record->assign(data, data + size);
        return OK;
    }
    ParamSetParser parser;
    if (parser.parse(data, size) != OK) return ERROR_MALFORMED;
    record->clear();
    parser.appendRecord(record);
    return OK;
}

}  // namespace qor
