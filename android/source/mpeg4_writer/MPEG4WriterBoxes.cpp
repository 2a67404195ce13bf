// Sample writes and the movie-level boxes (moov, mvhd, udta with the
// location).
#define LOG_TAG "MPEG4Writer"

#include <stdint.h>
#include <stdio.h>
#include <sys/uio.h>
#include <time.h>

#include <algorithm>

#include <media/stagefright/MediaBuffer.h>
#include <media/stagefright/foundation/ADebug.h>
#include <utils/Log.h>

#include "mpeg4_writer/MPEG4Writer.h"
#include "mpeg4_writer/MPEG4WriterTrack.h"

namespace qor {

int64_t MPEG4Writer::addSample_l(android::MediaBuffer* buffer) {
    int64_t offset = fileOffset();
    mFile->write((const uint8_t*)buffer->data() + buffer->range_offset(), buffer->range_length());
    return offset;
}

void MPEG4Writer::writeMoovBox(uint64_t now) {
    uint64_t duration = 0;
    for (const std::unique_ptr<Track>& track : mTracks) {
        if (track->isPlayable()) duration = std::max(duration, track->durations().trackTicks);
    }
    mBoxWriter.beginBox("moov");
    writeMvhdBox(duration, now);
    if (mHasGeoData) writeUdtaBox();
    for (const std::unique_ptr<Track>& track : mTracks) {
        if (track->isPlayable()) track->writeTrackHeader(m32BitFileOffset, now);
    }
    mBoxWriter.endBox();
}

void MPEG4Writer::writeMvhdBox(uint64_t duration, uint64_t now) {
    bool version1 = needsVersion1(now, duration);
    mBoxWriter.beginBox("mvhd");
    mBoxWriter.writeVersionAndTimes(version1, 0, now);
    mBoxWriter.writeInt32(mTimeScale);  // mvhd timescale
    mBoxWriter.writeTimeField(version1, duration);
    mBoxWriter.writeInt32(0x10000);  // rate: 1.0
    mBoxWriter.writeInt16(0x100);    // volume
    mBoxWriter.writeInt16(0);        // reserved
    mBoxWriter.writeInt32(0);        // reserved
    mBoxWriter.writeInt32(0);        // reserved
    mBoxWriter.writeCompositionMatrix(0);
    for (int i = 0; i < 6; ++i) mBoxWriter.writeInt32(0);  // predefined
    mBoxWriter.writeInt32((int32_t)mTracks.size() + 1);    // nextTrackID
    mBoxWriter.endBox();
}

uint64_t MPEG4Writer::mpeg4Time() {
    const int64_t kSecondsFrom1904To1970 = 2082844800LL;
    return (uint64_t)((int64_t)time(NULL) + kSecondsFrom1904To1970);
}

void MPEG4Writer::writeUdtaBox() {
    mBoxWriter.beginBox("udta");
    writeGeoDataBox();
    mBoxWriter.endBox();
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
    mBoxWriter.write(str, wholeDigits + 6);
}

void MPEG4Writer::writeGeoDataBox() {
    mBoxWriter.beginBox("\xA9xyz");
    // Length 18 (0x0012) of "+DD.DDDD+DDD.DDDD/" and language code 0x15C7.
    mBoxWriter.writeInt32(0x001215c7);
    writeCoordinate(mLatitude, 2);
    writeCoordinate(mLongitude, 3);
    mBoxWriter.writeInt8(0x2F);
    mBoxWriter.endBox();
}

}  // namespace qor
