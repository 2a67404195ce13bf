// Byte sinks and box primitives: positions, overwrites, nested box sizes
// and failures kept as the sink's status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <media/stagefright/MediaErrors.h>

#include "mpeg4_writer/BoxWriter.h"
#include "mpeg4_writer/ByteSink.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string tempFile(const char* name) {
    const char* dir = getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/qor_sink_" + std::to_string(getpid()) + "_" + name;
}

Bytes readAll(const std::string& path) {
    Bytes out;
    int fd = open(path.c_str(), O_RDONLY);
    uint8_t buf[4096];
    ssize_t n;
    while (fd >= 0 && (n = read(fd, buf, sizeof(buf))) > 0) out.insert(out.end(), buf, buf + n);
    if (fd >= 0) close(fd);
    return out;
}

// The same writes through both sinks give the same bytes.
void writeSample(qor::IByteSink* sink) {
    qor::BoxWriter out(sink);
    out.beginBox("moov");
    out.beginBox("mvhd");
    out.writeInt8(-1);
    out.writeInt16(0x1234);
    out.writeInt64(0x0102030405060708LL);
    out.endBox();
    out.writeCString("ab");
    out.endBox();
    sink->seek(0);
    sink->write("MOOV", 0);  // an empty write moves nothing
    EXPECT_EQ(0, sink->position());
    sink->seek(8 + 8 + 11 + 3);
}

const Bytes kExpected = {0, 0, 0, 30, 'm', 'o', 'o', 'v', 0, 0, 0, 19, 'm', 'v', 'h', 'd',
                         0xFF, 0x12, 0x34, 1, 2, 3, 4, 5, 6, 7, 8, 'a', 'b', 0};

TEST(ByteSink, MemoryAndFileSinksHoldTheSameBoxes) {
    qor::MemoryByteSink memory;
    writeSample(&memory);
    EXPECT_EQ(kExpected, memory.bytes());
    EXPECT_EQ(30, memory.position());

    std::string path = tempFile("boxes.bin");
    int fd = qor::FileByteSink::openFile(path.c_str());
    ASSERT_GE(fd, 0);
    {
        qor::FileByteSink file(fd);
        writeSample(&file);
        EXPECT_EQ(30, file.position());
        EXPECT_EQ(android::OK, file.status());
    }
    EXPECT_EQ(kExpected, readAll(path));
    unlink(path.c_str());
}

TEST(ByteSink, MemorySinkOverwritesAndFillsGapsWithZeros) {
    qor::MemoryByteSink sink;
    sink.write("abcdef", 6);
    sink.seek(2);
    sink.write("XY", 2);
    EXPECT_EQ(4, sink.position());
    sink.seek(8);
    sink.write("Z", 1);
    EXPECT_EQ((Bytes{'a', 'b', 'X', 'Y', 'e', 'f', 0, 0, 'Z'}), sink.bytes());
}

TEST(ByteSink, GatheredWriteKeepsThePiecesInOrder) {
    std::string path = tempFile("gather.bin");
    int fd = qor::FileByteSink::openFile(path.c_str());
    ASSERT_GE(fd, 0);
    std::vector<Bytes> pieces;
    std::vector<struct iovec> iov;
    Bytes expected;
    // More pieces than one writev takes.
    for (int i = 0; i < 3000; ++i) pieces.push_back(Bytes(1 + i % 5, (uint8_t)i));
    for (Bytes& p : pieces) {
        iov.push_back({p.data(), p.size()});
        expected.insert(expected.end(), p.begin(), p.end());
    }
    {
        qor::FileByteSink file(fd);
        file.writev(iov.data(), iov.size());
        EXPECT_EQ((int64_t)expected.size(), file.position());
    }
    EXPECT_EQ(expected, readAll(path));
    unlink(path.c_str());

    qor::MemoryByteSink memory;
    iov.clear();
    for (Bytes& p : pieces) iov.push_back({p.data(), p.size()});
    memory.writev(iov.data(), iov.size());
    EXPECT_EQ(expected, memory.bytes());
}

// A full device: the first failure is kept, the position still moves so
// that the layout stays computable.
TEST(ByteSink, FailedWritesAreKeptAsTheStatus) {
    int fd = open("/dev/full", O_WRONLY);
    if (fd < 0) GTEST_SKIP() << "no /dev/full";
    qor::FileByteSink file(fd);
    file.write("abcd", 4);
    EXPECT_EQ(android::ERROR_IO, file.status());
    EXPECT_EQ(4, file.position());
    uint8_t data[3] = {1, 2, 3};
    struct iovec iov[2] = {{data, 2}, {data + 2, 1}};
    file.writev(iov, 2);
    EXPECT_EQ(android::ERROR_IO, file.status());
    EXPECT_EQ(7, file.position());
}

struct VersionCase {
    uint64_t now, duration;
    bool version1;
};

TEST(BoxWriter, HeaderTimesTakeSixtyFourBitsOnlyWhenNeeded) {
    const VersionCase cases[] = {
        {0xFFFFFFFFull, 0xFFFFFFFFull, false},
        {0x100000000ull, 1, true},
        {1, 0x100000000ull, true},
    };
    for (const VersionCase& c : cases) {
        EXPECT_EQ(c.version1, qor::BoxWriter::needsVersion1(c.now, c.duration));
        qor::MemoryByteSink sink;
        qor::BoxWriter out(&sink);
        out.writeVersionAndTimes(c.version1, 7, c.now);
        EXPECT_EQ(c.version1 ? 20u : 12u, sink.bytes().size());
        EXPECT_EQ(c.version1 ? 1 : 0, sink.bytes()[0]);
        EXPECT_EQ(7, sink.bytes()[3]);
    }
}

}  // namespace
