// Box primitives, checked file access, sample writes and the movie-level
// boxes (moov, mvhd, udta with the location).
#define LOG_TAG "MPEG4Writer"

#include <arpa/inet.h>
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <limits.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/MediaErrors.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4Writer.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

void MPEG4Writer::noteIoError(const char* what, int err) {
    status_t expected = android::OK;
    if (mIoStatus.compare_exchange_strong(expected, android::ERROR_IO)) {
        ALOGE("%s failed at offset %lld: %s", what, (long long)mWriteOffset, strerror(err));
    }
}

void MPEG4Writer::writeToFile(const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(mFd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            noteIoError("write", n < 0 ? errno : ENOSPC);
            return;
        }
        p += n;
        size -= (size_t)n;
    }
}

void MPEG4Writer::writevToFile(struct iovec* iov, size_t count) {
    while (count > 0) {
        int n = count > (size_t)IOV_MAX ? IOV_MAX : (int)count;
        ssize_t written = ::writev(mFd, iov, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            noteIoError("write", written < 0 ? errno : ENOSPC);
            return;
        }
        // Skip what went out; a short write resumes inside a piece.
        size_t left = (size_t)written;
        while (count > 0 && left >= iov->iov_len) {
            left -= iov->iov_len;
            ++iov;
            --count;
        }
        if (count > 0 && left > 0) {
            iov->iov_base = (uint8_t*)iov->iov_base + left;
            iov->iov_len -= left;
        }
    }
}

void MPEG4Writer::seekFile(int64_t offset) {
    if (lseek64(mFd, offset, SEEK_SET) < 0) noteIoError("seek", errno);
}

void MPEG4Writer::write(const void* data, size_t size) {
    if (!mMoovInMemory) {
        writeToFile(data, size);
        mWriteOffset += size;
        return;
    }
    if (mMoovBoxBufferOffset + (int64_t)size + 8 <= mEstimatedMoovBoxSize) {
        memcpy(mMoovBoxBuffer + mMoovBoxBufferOffset, data, size);
        mMoovBoxBufferOffset += size;
        return;
    }
    // The moov outgrew its reservation: it goes to the end of the file.
    for (int64_t& boxStart : mBoxes) boxStart += mWriteOffset;
    seekFile(mWriteOffset);
    writeToFile(mMoovBoxBuffer, mMoovBoxBufferOffset);
    writeToFile(data, size);
    mMoovInMemory = false;
    mWriteOffset += mMoovBoxBufferOffset + size;
}

void MPEG4Writer::writeInt8(int8_t x) { write(&x, 1); }

void MPEG4Writer::writeInt16(int16_t x) {
    uint16_t be = htons((uint16_t)x);
    write(&be, 2);
}

void MPEG4Writer::writeInt32(int32_t x) {
    uint32_t be = htonl((uint32_t)x);
    write(&be, 4);
}

void MPEG4Writer::writeInt64(int64_t x) {
    uint8_t be[8];
    for (int i = 0; i < 8; ++i) be[i] = (uint8_t)((uint64_t)x >> (56 - 8 * i));
    write(be, 8);
}

void MPEG4Writer::writeFourcc(const char* s) {
    CHECK_EQ(strlen(s), 4u);
    write(s, 4);
}

void MPEG4Writer::writeCString(const char* s) { write(s, strlen(s) + 1); }

void MPEG4Writer::beginBox(const char* fourcc) {
    CHECK_EQ(strlen(fourcc), 4u);
    mBoxes.push_back(mMoovInMemory ? mMoovBoxBufferOffset : mWriteOffset);
    writeInt32(0);
    writeFourcc(fourcc);
}

void MPEG4Writer::endBox() {
    CHECK(!mBoxes.empty());
    int64_t offset = mBoxes.back();
    mBoxes.pop_back();
    if (mMoovInMemory) {
        uint32_t be = htonl((uint32_t)(mMoovBoxBufferOffset - offset));
        memcpy(mMoovBoxBuffer + offset, &be, 4);
    } else {
        seekFile(offset);
        writeInt32((int32_t)(mWriteOffset - offset));
        mWriteOffset -= 4;
        seekFile(mWriteOffset);
    }
}

int64_t MPEG4Writer::addSample_l(android::MediaBuffer* buffer) {
    int64_t old_offset = mWriteOffset;
    writeToFile((const uint8_t*)buffer->data() + buffer->range_offset(), buffer->range_length());
    mWriteOffset += buffer->range_length();
    return old_offset;
}

size_t MPEG4Writer::makeNalLengthPrefix(size_t length, uint8_t* prefix) {
    if (mNalLengthFour) {
        prefix[0] = (uint8_t)(length >> 24);
        prefix[1] = (uint8_t)(length >> 16);
        prefix[2] = (uint8_t)(length >> 8);
        prefix[3] = (uint8_t)length;
        return 4;
    }
    CHECK_LT(length, 65536u);
    prefix[0] = (uint8_t)(length >> 8);
    prefix[1] = (uint8_t)length;
    return 2;
}

int64_t MPEG4Writer::addLengthPrefixedSample_l(android::MediaBuffer* buffer) {
    int64_t old_offset = mWriteOffset;
    size_t length = buffer->range_length();
    uint8_t prefix[4];
    struct iovec iov[2];
    iov[0].iov_base = prefix;
    iov[0].iov_len = makeNalLengthPrefix(length, prefix);
    iov[1].iov_base = (uint8_t*)buffer->data() + buffer->range_offset();
    iov[1].iov_len = length;
    // Prefix and sample in one system call, straight from the buffer.
    writevToFile(iov, 2);
    mWriteOffset += iov[0].iov_len + length;
    return old_offset;
}

void MPEG4Writer::writeCompositionMatrix(int degrees) {
    uint32_t a = 0x00010000;
    uint32_t b = 0;
    uint32_t c = 0;
    uint32_t d = 0x00010000;
    switch (degrees) {
        case 0:
            break;
        case 90:
            a = 0;
            b = 0x00010000;
            c = 0xFFFF0000;
            d = 0;
            break;
        case 180:
            a = 0xFFFF0000;
            d = 0xFFFF0000;
            break;
        case 270:
            a = 0;
            b = 0xFFFF0000;
            c = 0x00010000;
            d = 0;
            break;
        default:
            CHECK(!"Should never reach this unknown rotation");
            break;
    }
    writeInt32(a);           // a
    writeInt32(b);           // b
    writeInt32(0);           // u
    writeInt32(c);           // c
    writeInt32(d);           // d
    writeInt32(0);           // v
    writeInt32(0);           // x
    writeInt32(0);           // y
    writeInt32(0x40000000);  // w
}

void MPEG4Writer::writeMoovBox(int64_t durationUs) {
    beginBox("moov");
    writeMvhdBox(durationUs);
    if (mHasGeoData) writeUdtaBox();
    for (Track* track : mTracks) track->writeTrackHeader(m32BitFileOffset);
    endBox();
}

void MPEG4Writer::writeMvhdBox(int64_t durationUs) {
    uint64_t now = mpeg4Time();
    uint64_t duration = scaledDuration(durationUs, mTimeScale);
    bool version1 = needsVersion1(now, duration);
    beginBox("mvhd");
    writeVersionAndTimes(version1, 0, now);
    writeInt32(mTimeScale);  // mvhd timescale
    writeTimeField(version1, duration);
    writeInt32(0x10000);  // rate: 1.0
    writeInt16(0x100);    // volume
    writeInt16(0);        // reserved
    writeInt32(0);        // reserved
    writeInt32(0);        // reserved
    writeCompositionMatrix(0);
    for (int i = 0; i < 6; ++i) writeInt32(0);  // predefined
    writeInt32((int32_t)mTracks.size() + 1);    // nextTrackID
    endBox();
}

bool MPEG4Writer::needsVersion1(uint64_t now, uint64_t duration) {
    return now > UINT32_MAX || duration > UINT32_MAX;
}

void MPEG4Writer::writeVersionAndTimes(bool version1, uint32_t flags, uint64_t now) {
    writeInt32((int32_t)((version1 ? 1u << 24 : 0u) | (flags & 0xFFFFFF)));
    writeTimeField(version1, now);  // creation time
    writeTimeField(version1, now);  // modification time
}

void MPEG4Writer::writeTimeField(bool version1, uint64_t value) {
    if (version1) {
        writeInt64((int64_t)value);
    } else {
        writeInt32((int32_t)(uint32_t)value);
    }
}

uint64_t MPEG4Writer::mpeg4Time() {
    const int64_t kSecondsFrom1904To1970 = 2082844800LL;
    return (uint64_t)((int64_t)time(NULL) + kSecondsFrom1904To1970);
}

uint64_t MPEG4Writer::scaledDuration(int64_t durationUs, int32_t timeScale) {
    if (durationUs <= 0) return 0;
    return ((uint64_t)durationUs * (uint64_t)timeScale + 500000u) / 1000000u;
}

void MPEG4Writer::writeUdtaBox() {
    beginBox("udta");
    writeGeoDataBox();
    endBox();
}

// Writes a coordinate as "+DD.DDDD" (wholeDigits 2, latitude) or
// "+DDD.DDDD" (3, longitude), without a terminating NUL.
void MPEG4Writer::writeCoordinate(int degreex10000, int wholeDigits) {
    char sign = degreex10000 < 0 ? '-' : '+';
    int wholePart = degreex10000 / 10000;
    char str[32];
    int n;
    if (wholePart == 0) {
        n = snprintf(str, sizeof(str), "%c%.*d.", sign, wholeDigits, wholePart);
    } else {
        n = snprintf(str, sizeof(str), "%+.*d.", wholeDigits, wholePart);
    }
    int fractionalPart = degreex10000 - (wholePart * 10000);
    if (fractionalPart < 0) fractionalPart = -fractionalPart;
    snprintf(str + n, sizeof(str) - n, "%.4d", fractionalPart);
    write(str, wholeDigits + 6);
}

void MPEG4Writer::writeGeoDataBox() {
    beginBox("\xA9xyz");
    // Length 18 (0x0012) of "+DD.DDDD+DDD.DDDD/" and language code 0x15C7.
    writeInt32(0x001215c7);
    writeCoordinate(mLatitude, 2);
    writeCoordinate(mLongitude, 3);
    writeInt8(0x2F);
    endBox();
}

}  // namespace qor
