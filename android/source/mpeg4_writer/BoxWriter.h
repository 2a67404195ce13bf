/*
 * Box primitives over a byte sink: big-endian values, and boxes whose size
 * is filled in when they end.
 */
#ifndef QOR_BOX_WRITER_H_
#define QOR_BOX_WRITER_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "mpeg4_writer/ByteSink.h"

namespace qor {

class BoxWriter {
public:
    explicit BoxWriter(IByteSink* sink = nullptr) : mSink(sink) {}

    // Boxes must not be open across a change of sink.
    void setSink(IByteSink* sink);
    IByteSink* sink() const { return mSink; }
    bool hasOpenBoxes() const { return !mBoxes.empty(); }

    void writeInt8(int8_t x);
    void writeInt16(int16_t x);
    void writeInt32(int32_t x);
    void writeInt64(int64_t x);
    void writeFourcc(const char* s);
    void writeCString(const char* s);
    void write(const void* data, size_t size);
    void beginBox(const char* fourcc);
    void endBox();
    void writeCompositionMatrix(int degrees);

    // Header boxes (mvhd, tkhd, mdhd) take the 64-bit layout, version 1,
    // only when a time or duration does not fit 32 bits, so that every
    // file that fits keeps the common layout.
    static bool needsVersion1(uint64_t now, uint64_t duration);
    void writeVersionAndTimes(bool version1, uint32_t flags, uint64_t now);
    void writeTimeField(bool version1, uint64_t value);

private:
    IByteSink* mSink;
    std::vector<int64_t> mBoxes;  // start of every open box
};

}  // namespace qor

#endif  // QOR_BOX_WRITER_H_
