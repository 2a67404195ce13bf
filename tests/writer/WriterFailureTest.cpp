// Failures and limits: malformed tracks, source errors, failing writes, the
// size and duration limits with their listener events, and the writer's
// refusals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include <host/log_record.h>
#include <media/IMediaRecorderClient.h>

#include "RecordHelper.h"

namespace wtest {
namespace {

struct Event {
    int msg, ext1, ext2;
    bool operator==(const Event& o) const {
        return msg == o.msg && ext1 == o.ext1 && ext2 == o.ext2;
    }
};

class Listener : public android::IMediaRecorderClient {
public:
    void notify(int msg, int ext1, int ext2) override {
        std::lock_guard<std::mutex> l(mMutex);
        mEvents.push_back({msg, ext1, ext2});
    }
    std::vector<Event> events() {
        std::lock_guard<std::mutex> l(mMutex);
        return mEvents;
    }
    int count(const Event& e) {
        int n = 0;
        for (const Event& x : events()) n += x == e;
        return n;
    }

private:
    std::mutex mMutex;
    std::vector<Event> mEvents;
};

bool hasMoov(const std::string& path) {
    Bytes file = readFile(path);
    return std::string(file.begin(), file.end()).find("moov") != std::string::npos;
}

struct MalformedCase {
    const char* name;
    std::function<std::vector<Unit>()> video;
    std::function<std::vector<Unit>()> audio;
    const char* error;
};

class WriterMalformed : public ::testing::TestWithParam<MalformedCase> {};

// A malformed track is left out of the file; a healthy one beside it is
// kept (the file plays with that track alone); stop reports the loss.
TEST_P(WriterMalformed, StopReturnsTheErrorAndKeepsOnlyTheHealthyTrack) {
    host::logClear();
    sp<Listener> listener = new Listener;
    std::string path = tempPath(std::string("malformed_") + GetParam().name + ".mp4");
    Recording r = record(path, GetParam().audio(), GetParam().video(),
                         [&](qor::MPEG4Writer* w) { w->setListener(listener); });
    EXPECT_EQ(android::ERROR_MALFORMED, r.stopResult);
    EXPECT_EQ(1, host::logCount(GetParam().error, "MPEG4Writer"));
    const bool twoTracks = !GetParam().audio().empty() && !GetParam().video().empty();
    EXPECT_EQ(twoTracks, hasMoov(path));
    if (twoTracks) {
        std::vector<std::map<std::string, std::string>> streams = probeStreams(path);
        ASSERT_EQ(1u, streams.size());
        EXPECT_EQ("aac", streams[0]["codec_name"]);
        EXPECT_EQ("10", streams[0]["nb_read_packets"]);
        EXPECT_EQ("", decodeErrors(path));
    }
    // The failing track reports a track error with its id in the top bits.
    int trackId = GetParam().audio().empty() || GetParam().video().empty() ? 1 : 2;
    EXPECT_EQ(1, listener->count({100, (trackId << 28) + 100, android::ERROR_MALFORMED}));
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, WriterMalformed,
    ::testing::Values(
        MalformedCase{"no_samples", [] { return videoUnits(0); },
                      [] { return std::vector<Unit>(); }, "The number of recorded samples is 0"},
        MalformedCase{"no_sync_frame",
                      [] {
                          auto v = videoUnits(10, 100000, 33333, 1);
                          for (Unit& u : v) u.sync = false;
                          return v;
                      },
                      [] { return audioUnits(10); }, "There are no sync frames for video track"},
        MalformedCase{"missing_codec_data",
                      [] { return std::vector<Unit>(); },
                      [] {
                          auto a = audioUnits(10);
                          a.erase(a.begin());
                          return a;
                      },
                      "Missing codec specific data"}),
    [](const ::testing::TestParamInfo<MalformedCase>& info) { return info.param.name; });

// A source failing mid-recording is the result of stop, and the file keeps
// every sample read before the failure, of that track and of the other.
TEST(WriterFailure, SourceReadErrorIsTheResultAndTheSamplesBeforeItStay) {
    for (bool withAudio : {false, true}) {
        SCOPED_TRACE(withAudio ? "with audio" : "video alone");
        std::string path = tempPath(withAudio ? "readerr_av.mp4" : "readerr.mp4");
        sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
        sp<ReplaySource> a = new ReplaySource(audioFormat(), audioUnits(40));
        sp<ReplaySource> v = new ReplaySource(videoFormat(), videoUnits(20));
        v->mReadError = android::ERROR_IO;
        if (withAudio) {
            ASSERT_EQ(0, writer->addSource(a));
        }
        ASSERT_EQ(0, writer->addSource(v));
        ASSERT_EQ(0, writer->start(nullptr));
        ASSERT_TRUE(waitForEOS(writer.get()));
        EXPECT_EQ(android::ERROR_IO, writer->stop());
        std::map<std::string, std::string> packets;
        for (auto& s : probeStreams(path)) packets[s["codec_name"]] = s["nb_read_packets"];
        EXPECT_EQ("20", packets["h264"]);
        if (withAudio) {
            EXPECT_EQ("40", packets["aac"]);
        }
        EXPECT_EQ("", decodeErrors(path));
    }
}

// A recording that ends with nothing playable leaves nothing behind: no
// unplayable file, and no journal that every later recovery would refuse.
TEST(WriterFailure, NothingPlayableLeavesNoFileAndNoJournal) {
    const std::string path = tempPath("nothing.mp4");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    sp<ReplaySource> v = new ReplaySource(videoFormat(), {});
    v->mReadError = android::ERROR_IO;
    ASSERT_EQ(0, writer->addSource(v));
    ASSERT_EQ(0, writer->start(nullptr));
    ASSERT_TRUE(waitForEOS(writer.get()));
    EXPECT_NE(android::OK, writer->stop());
    EXPECT_NE(0, access(path.c_str(), F_OK));
    EXPECT_NE(0, access((path + ".journal").c_str(), F_OK));
}

// A source whose start fails once `other` waits for its first read.
class FailingStart : public ReplaySource {
public:
    FailingStart(const sp<android::MetaData>& format, const sp<ReplaySource>& other)
        : ReplaySource(format, {}), mOther(other) {}
    status_t start(android::MetaData*) override {
        mOther->waitForRequest(0);
        return android::UNKNOWN_ERROR;
    }

private:
    sp<ReplaySource> mOther;
};

// The video track fails to start while the audio track's thread already
// waits in its source for data that never comes: start gives up at once,
// ends the audio source and joins its thread.
TEST(WriterFailure, StartFailureAfterAnotherTrackWaitsInItsSource) {
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(tempPath("starthang.mp4").c_str());
    sp<ReplaySource> a = new ReplaySource(audioFormat(), audioUnits(5));
    a->setGate(0);
    sp<ReplaySource> v = new FailingStart(videoFormat(), a);
    ASSERT_EQ(0, writer->addSource(a));
    ASSERT_EQ(0, writer->addSource(v));
    std::atomic<bool> returned{false};
    std::thread starter([&] {
        EXPECT_EQ(android::UNKNOWN_ERROR, writer->start(nullptr));
        returned = true;
    });
    for (int i = 0; i < 500 && !returned; ++i) usleep(10000);
    if (!returned) {
        starter.detach();
        FAIL() << "start hangs";
    }
    starter.join();
    EXPECT_TRUE(a->stopped());
    EXPECT_TRUE(writer->reachedEOS());
    EXPECT_EQ(0, writer->stop());
}

TEST(WriterFailure, SourceStartFailureStopsTheTracksStartedBefore) {
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(tempPath("startfail.mp4").c_str());
    sp<ReplaySource> a = new ReplaySource(audioFormat(), audioUnits(5));
    sp<ReplaySource> v = new ReplaySource(videoFormat(), videoUnits(5));
    v->mStartResult = android::ERROR_UNSUPPORTED;
    ASSERT_EQ(0, writer->addSource(a));
    ASSERT_EQ(0, writer->addSource(v));
    EXPECT_EQ(android::ERROR_UNSUPPORTED, writer->start(nullptr));
    EXPECT_TRUE(a->stopped());
    EXPECT_TRUE(writer->reachedEOS());
    EXPECT_EQ(0, writer->stop());
}

// A descriptor whose writes fail (a full disk): no crash, and stop reports it.
TEST(WriterFailure, WritesToAFullDeviceFailTheRecording) {
    host::logClear();
    int fd = open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(fd);
    close(fd);
    ASSERT_EQ(0, writer->initCheck());
    sp<Listener> listener = new Listener;
    writer->setListener(listener);
    sp<ReplaySource> a = new ReplaySource(audioFormat(), audioUnits(40));
    sp<ReplaySource> v = new ReplaySource(videoFormat(), videoUnits(30));
    ASSERT_EQ(0, writer->addSource(a));
    ASSERT_EQ(0, writer->addSource(v));
    ASSERT_EQ(0, writer->start(nullptr));
    ASSERT_TRUE(waitForEOS(writer.get()));
    EXPECT_EQ(android::ERROR_IO, writer->stop());
    EXPECT_EQ(1, host::logCount("write failed at offset 0", "MPEG4Writer"));
    EXPECT_GE(listener->count({100, (1 << 28) + 100, android::ERROR_IO}) +
                  listener->count({100, (2 << 28) + 100, android::ERROR_IO}),
              1);
    EXPECT_EQ(0, writer->stop());
}

// The file system refuses to grow the file in the middle of the recording:
// the recording fails, and the file plays up to where the disk ran out.
TEST(WriterFailure, WriteFailureInTheMiddleOfARecording) {
    std::string path = tempPath("efbig.mp4");
    struct rlimit old;
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    signal(SIGXFSZ, SIG_IGN);
    for (bool oneTrack : {true, false}) {
        streams();  // made before the limit applies to ffmpeg too
        sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
        if (!oneTrack) {
            ASSERT_EQ(0, writer->addSource(new ReplaySource(audioFormat(), audioUnits(200))));
        }
        ASSERT_EQ(0, writer->addSource(new ReplaySource(videoFormat(), videoUnits(200))));
        struct rlimit lim = old;
        lim.rlim_cur = 30 * 1024;
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &lim));
        ASSERT_EQ(0, writer->start(nullptr));
        EXPECT_TRUE(waitForEOS(writer.get()));
        status_t err = writer->stop();
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &old));
        EXPECT_EQ(android::ERROR_IO, err) << (oneTrack ? "one track" : "two tracks");
        // What reached the disk is kept, with a moov, in the space allowed.
        EXPECT_TRUE(hasMoov(path));
        EXPECT_LE(readFile(path).size(), 30u * 1024);
        EXPECT_EQ("", decodeErrors(path));
    }
    signal(SIGXFSZ, SIG_DFL);
}

TEST(WriterLimits, DurationLimitStopsTheTracksAndTellsTheListener) {
    std::string path = tempPath("duration_limit.mp4");
    sp<Listener> listener = new Listener;
    // One track: the limit counts any track's duration, so an unpaced
    // second source could be cut before its first sample.
    Recording r = record(path, {}, videoUnits(90), [&](qor::MPEG4Writer* w) {
        w->setListener(listener);
        w->setMaxFileDuration(1000000);
    });
    ASSERT_EQ(0, r.stopResult);
    EXPECT_EQ(1, listener->count({2, 800, 0}));
    EXPECT_EQ(1, listener->count({101, (1 << 28) + 1000, 0}));
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    ASSERT_EQ(1u, f.tracks.size());
    // The limit is checked before a sample's own time counts: frame 31
    // (1.033 s) reaches it, frame 32 is the first one left out.
    EXPECT_EQ(32u, f.tracks[0].sizes.size());
    EXPECT_EQ("", decodeErrors(path));
}

TEST(WriterLimits, FileSizeLimitStopsTheTracksAndTellsTheListener) {
    std::string path = tempPath("size_limit.mp4");
    sp<Listener> listener = new Listener;
    const int64_t kLimit = 60 * 1024;
    Recording r = record(path, audioUnits(130), videoUnits(90), [&](qor::MPEG4Writer* w) {
        w->setListener(listener);
        w->setMaxFileSize(kLimit);
    });
    ASSERT_EQ(0, r.stopResult);
    EXPECT_GE(listener->count({2, 801, 0}), 1);
    Mp4File f = parseMp4(path);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ("ftyp mdat moov", f.topOrder());
    EXPECT_LE((int64_t)f.bytes.size(), kLimit);
    EXPECT_GT((int64_t)f.bytes.size(), kLimit / 2);
    EXPECT_EQ("", decodeErrors(path));
}

TEST(WriterLimits, ProgressEventsAtTheRequestedInterval) {
    sp<Listener> listener = new Listener;
    sp<android::MetaData> meta = new android::MetaData;
    meta->setInt64(android::kKeyTrackTimeStatus, 500000);
    meta->setInt32(android::kKeyRealTimeRecording, 0);
    Recording r = record(tempPath("progress.mp4"), {}, videoUnits(90),
                         [&](qor::MPEG4Writer* w) { w->setListener(listener); }, meta.get());
    ASSERT_EQ(0, r.stopResult);
    int progress = 0;
    for (const Event& e : listener->events()) {
        if (e.msg == 101 && e.ext1 == (1 << 28) + 1001) {
            ++progress;
            EXPECT_GE(e.ext2, 500);
        }
    }
    EXPECT_GE(progress, 4);
}

TEST(WriterApi, RefusalsAndRepeatedStops) {
    host::logClear();
    sp<qor::MPEG4Writer> bad = new qor::MPEG4Writer("/nonexistent/dir/x.mp4");
    EXPECT_EQ(-19, bad->initCheck());
    EXPECT_EQ(1, host::logCount("Cannot open /nonexistent/dir/x.mp4: No such file or directory"));
    EXPECT_EQ((status_t)0x80000000, bad->start(nullptr));
    EXPECT_EQ(0, bad->pause());
    EXPECT_EQ(0, bad->stop());

    sp<qor::MPEG4Writer> empty = new qor::MPEG4Writer(tempPath("empty.mp4").c_str());
    EXPECT_EQ(android::INVALID_OPERATION, empty->start(nullptr));
    EXPECT_EQ(1, host::logCount("No source added", "MPEG4Writer"));
    EXPECT_TRUE(empty->reachedEOS());
    EXPECT_EQ(0, empty->stop());

    sp<qor::MPEG4Writer> w = new qor::MPEG4Writer(tempPath("api.mp4").c_str());
    sp<android::MetaData> text = new android::MetaData;
    text->setCString(android::kKeyMIMEType, "text/3gpp-tt");
    EXPECT_EQ(android::ERROR_UNSUPPORTED, w->addSource(new ReplaySource(text, {})));
    EXPECT_EQ(1, host::logCount("Track (text/3gpp-tt) other than video or audio is not supported"));
    ASSERT_EQ(0, w->addSource(new ReplaySource(audioFormat(), audioUnits(20))));
    EXPECT_EQ(android::ERROR_UNSUPPORTED,
              w->addSource(new ReplaySource(audioFormat(), audioUnits(20))));
    EXPECT_EQ(1, host::logCount("Audio track already exists"));
    ASSERT_EQ(0, w->addSource(new ReplaySource(videoFormat(), videoUnits(20))));
    EXPECT_EQ(android::ERROR_UNSUPPORTED,
              w->addSource(new ReplaySource(videoFormat(), videoUnits(20))));
    EXPECT_EQ(1, host::logCount("Too many tracks (2) to add"));
    ASSERT_EQ(0, w->start(nullptr));
    EXPECT_EQ(android::UNKNOWN_ERROR,
              w->addSource(new ReplaySource(videoFormat(), videoUnits(20))));
    EXPECT_EQ(1, host::logCount("Attempt to add source AFTER recording is started"));
    ASSERT_TRUE(waitForEOS(w.get()));

    char dumpPath[] = "/tmp/qor_writer_dump_XXXXXX";
    int fd = mkstemp(dumpPath);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(0, w->dump(fd, {}));
    close(fd);
    Bytes dump = readFile(dumpPath);
    unlink(dumpPath);
    std::string text2(dump.begin(), dump.end());
    EXPECT_NE(std::string::npos, text2.find("     mStarted: true\n"));
    EXPECT_NE(std::string::npos, text2.find("     Audio track\n       reached EOS: true\n"
                                            "       frames encoded : 20\n"));
    EXPECT_NE(std::string::npos, text2.find("     Video track\n"));

    EXPECT_EQ(0, w->stop());
    EXPECT_EQ(0, w->stop());
}

}  // namespace
}  // namespace wtest
