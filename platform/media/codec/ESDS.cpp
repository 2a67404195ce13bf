#include <media/stagefright/ESDS.h>

#include <string.h>

#include <media/stagefright/MediaErrors.h>

namespace android {

namespace {
const uint8_t kTagES = 0x03;
const uint8_t kTagDecoderConfig = 0x04;
const uint8_t kTagDecoderSpecificInfo = 0x05;
}  // namespace

ESDS::ESDS(const void* data, size_t size)
    : mData(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size),
      mInitCheck(NO_INIT) {
    mInitCheck = data != nullptr ? parse() : BAD_VALUE;
}

// Descriptor lengths use 7 bits per byte, the top bit meaning "more".
status_t ESDS::readLength(size_t* offset, size_t end, size_t* length) const {
    *length = 0;
    for (int i = 0; i < 4; ++i) {
        if (*offset >= end) return ERROR_MALFORMED;
        uint8_t b = mData[(*offset)++];
        *length = (*length << 7) | (b & 0x7f);
        if (!(b & 0x80)) return *offset + *length <= end ? (status_t)OK : (status_t)ERROR_MALFORMED;
    }
    return ERROR_MALFORMED;
}

status_t ESDS::parse() {
    size_t off = 0, end = mData.size(), len;
    if (end < 2 || mData[off++] != kTagES) return ERROR_MALFORMED;
    if (readLength(&off, end, &len) != OK) return ERROR_MALFORMED;
    end = off + len;
    if (off + 3 > end) return ERROR_MALFORMED;
    off += 2;  // ES_ID
    uint8_t flags = mData[off++];
    if (flags & 0x80) off += 2;  // streamDependence
    if (flags & 0x40) {          // URL
        if (off >= end) return ERROR_MALFORMED;
        off += 1 + mData[off];
    }
    if (flags & 0x20) off += 2;  // OCR stream
    if (off + 2 > end || mData[off++] != kTagDecoderConfig) return ERROR_MALFORMED;
    if (readLength(&off, end, &len) != OK || len < 13) return ERROR_MALFORMED;
    size_t dcEnd = off + len;
    mObjectTypeIndication = mData[off];
    mStreamType = mData[off + 1] >> 2;
    auto be32 = [&](size_t o) {
        return (uint32_t)mData[o] << 24 | (uint32_t)mData[o + 1] << 16 |
               (uint32_t)mData[o + 2] << 8 | mData[o + 3];
    };
    mMaxBitrate = be32(off + 5);
    mAvgBitrate = be32(off + 9);
    off += 13;
    if (off < dcEnd && mData[off] == kTagDecoderSpecificInfo) {
        ++off;
        if (readLength(&off, dcEnd, &len) != OK) return ERROR_MALFORMED;
        mDecoderSpecificOffset = off;
        mDecoderSpecificLength = len;
    }
    return OK;
}

status_t ESDS::getObjectTypeIndication(uint8_t* objectTypeIndication) const {
    if (mInitCheck != OK) return mInitCheck;
    *objectTypeIndication = mObjectTypeIndication;
    return OK;
}

status_t ESDS::getStreamType(uint8_t* streamType) const {
    if (mInitCheck != OK) return mInitCheck;
    *streamType = mStreamType;
    return OK;
}

status_t ESDS::getCodecSpecificInfo(const void** data, size_t* size) const {
    if (mInitCheck != OK) return mInitCheck;
    if (mDecoderSpecificLength == 0) return ERROR_MALFORMED;
    *data = mData.data() + mDecoderSpecificOffset;
    *size = mDecoderSpecificLength;
    return OK;
}

status_t ESDS::getBitRate(uint32_t* brateMax, uint32_t* brateAvg) const {
    if (mInitCheck != OK) return mInitCheck;
    *brateMax = mMaxBitrate;
    *brateAvg = mAvgBitrate;
    return OK;
}

}  // namespace android
