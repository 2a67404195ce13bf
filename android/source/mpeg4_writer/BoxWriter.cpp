// Box primitives; multi-byte values are written big-endian.
#define LOG_TAG "MPEG4Writer"

#include "mpeg4_writer/BoxWriter.h"

#include <string.h>

#include <media/stagefright/foundation/ADebug.h>

namespace qor {

void BoxWriter::setSink(IByteSink* sink) {
    CHECK(mBoxes.empty());
    mSink = sink;
}

void BoxWriter::write(const void* data, size_t size) { mSink->write(data, size); }

void BoxWriter::writeInt8(int8_t x) { write(&x, 1); }

void BoxWriter::writeInt16(int16_t x) {
    uint8_t be[2] = {(uint8_t)((uint16_t)x >> 8), (uint8_t)x};
    write(be, 2);
}

void BoxWriter::writeInt32(int32_t x) {
    uint32_t v = (uint32_t)x;
    uint8_t be[4] = {(uint8_t)(v >> 24), (uint8_t)(v >> 16), (uint8_t)(v >> 8), (uint8_t)v};
    write(be, 4);
}

void BoxWriter::writeInt64(int64_t x) {
    uint8_t be[8];
    for (int i = 0; i < 8; ++i) be[i] = (uint8_t)((uint64_t)x >> (56 - 8 * i));
    write(be, 8);
}

void BoxWriter::writeFourcc(const char* s) {
    CHECK_EQ(strlen(s), 4u);
    write(s, 4);
}

void BoxWriter::writeCString(const char* s) { write(s, strlen(s) + 1); }

void BoxWriter::beginBox(const char* fourcc) {
    CHECK_EQ(strlen(fourcc), 4u);
    mBoxes.push_back(mSink->position());
    writeInt32(0);
    writeFourcc(fourcc);
}

void BoxWriter::endBox() {
    CHECK(!mBoxes.empty());
    int64_t start = mBoxes.back();
    mBoxes.pop_back();
    int64_t end = mSink->position();
    mSink->seek(start);
    writeInt32((int32_t)(end - start));
    mSink->seek(end);
}

void BoxWriter::writeCompositionMatrix(int degrees) {
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

bool BoxWriter::needsVersion1(uint64_t now, uint64_t duration) {
    return now > UINT32_MAX || duration > UINT32_MAX;
}

void BoxWriter::writeVersionAndTimes(bool version1, uint32_t flags, uint64_t now) {
    writeInt32((int32_t)((version1 ? 1u << 24 : 0u) | (flags & 0xFFFFFF)));
    writeTimeField(version1, now);  // creation time
    writeTimeField(version1, now);  // modification time
}

void BoxWriter::writeTimeField(bool version1, uint64_t value) {
    if (version1) {
        writeInt64((int64_t)value);
    } else {
        writeInt32((int32_t)(uint32_t)value);
    }
}

}  // namespace qor
