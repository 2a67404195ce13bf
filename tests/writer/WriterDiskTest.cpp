// Full disks, cut recordings and their recovery journal: a recording whose
// disk runs out keeps what fits with its moov; a copy of a recording taken
// while it runs (what a killed process leaves) is mended from the journal;
// damaged journals are refused or read as far as they are whole.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "RecordHelper.h"
#include "mpeg4_writer/Mp4Recovery.h"

namespace wtest {
namespace {

using qor::RecoveryResult;

std::string journalOf(const std::string& path) { return path + ".journal"; }
bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write((const char*)bytes.data(), (std::streamsize)bytes.size());
}

// Packets of the stream whose codec is `codec` (0 when absent).
int packets(const std::string& path, const std::string& codec) {
    for (auto& s : probeStreams(path)) {
        if (s["codec_name"] == codec) return atoi(s["nb_read_packets"].c_str());
    }
    return 0;
}

// A recording of 90 frames and 130 AAC frames (3 s), with a copy of the
// file and its journal taken while the video track waits before frame 60:
// what a process killed at that moment leaves behind.
struct CutRecording {
    std::string complete, cut;
    Bytes cutMedia, cutJournal;
};

const CutRecording& cutRecording() {
    static CutRecording r = [] {
        CutRecording c;
        c.complete = tempPath("disk_complete.mp4");
        c.cut = tempPath("disk_cut.mp4");
        sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(c.complete.c_str());
        writer->setInterleaveDuration(400000);
        sp<ReplaySource> audio = new ReplaySource(audioFormat(), audioUnits(130));
        sp<ReplaySource> video = new ReplaySource(videoFormat(), videoUnits(90));
        video->setGate(60);
        EXPECT_EQ(0, writer->addSource(audio));
        EXPECT_EQ(0, writer->addSource(video));
        EXPECT_EQ(0, writer->start(nullptr));
        video->waitForRequest(60);
        usleep(300000);  // the writer thread catches up
        // The journal first: what it names is in the file copied after it.
        c.cutJournal = readFile(journalOf(c.complete));
        c.cutMedia = readFile(c.complete);
        // A recording that still runs is left alone.
        EXPECT_EQ(RecoveryResult::kFailed, qor::recoverRecording(c.complete.c_str()));
        video->setGate(SIZE_MAX);
        EXPECT_TRUE(waitForEOS(writer.get()));
        EXPECT_EQ(0, writer->stop());
        return c;
    }();
    return r;
}

void restoreCut(const CutRecording& c, const Bytes& media, const Bytes& journal) {
    writeFile(c.cut, media);
    writeFile(journalOf(c.cut), journal);
}

TEST(WriterRecovery, CutRecordingsAreMendedAndCompleteOnesLeftAlone) {
    const CutRecording& c = cutRecording();
    ASSERT_FALSE(exists(journalOf(c.complete))) << "a clean stop leaves no journal";
    EXPECT_EQ("", decodeErrors(c.complete));
    EXPECT_EQ(90 + 130, packets(c.complete, "h264") + packets(c.complete, "aac"));
    ASSERT_GT(c.cutJournal.size(), 100u);

    // Killed mid-recording: both tracks up to the last chunk that reached
    // the disk.
    restoreCut(c, c.cutMedia, c.cutJournal);
    ASSERT_EQ(RecoveryResult::kRecovered, qor::recoverRecording(c.cut.c_str()));
    EXPECT_FALSE(exists(journalOf(c.cut)));
    EXPECT_EQ("", decodeErrors(c.cut));
    const int video = packets(c.cut, "h264"), audio = packets(c.cut, "aac");
    EXPECT_GE(video, 30);
    EXPECT_LE(video, 60);
    EXPECT_GE(audio, 40);
    // Mending twice changes nothing.
    const Bytes mended = readFile(c.cut);
    EXPECT_EQ(RecoveryResult::kNothingToDo, qor::recoverRecording(c.cut.c_str()));
    EXPECT_EQ(mended, readFile(c.cut));

    // The last chunk cut in the middle of its write: it is left out.
    qor::JournalContents j;
    ASSERT_TRUE(qor::parseJournal(c.cutJournal.data(), c.cutJournal.size(), &j));
    ASSERT_GE(j.chunks.size(), 2u);
    const auto& last = j.chunks.back();
    Bytes torn(c.cutMedia.begin(), c.cutMedia.begin() + last.offset + last.bytes / 2);
    restoreCut(c, torn, c.cutJournal);
    ASSERT_EQ(RecoveryResult::kRecovered, qor::recoverRecording(c.cut.c_str()));
    EXPECT_EQ("", decodeErrors(c.cut));
    EXPECT_EQ(video + audio - (int)last.samples.size(),
              packets(c.cut, "h264") + packets(c.cut, "aac"));

    // A complete file beside a stale journal: unchanged byte for byte.
    const Bytes complete = readFile(c.complete);
    writeFile(journalOf(c.complete), c.cutJournal);
    EXPECT_EQ(RecoveryResult::kNothingToDo, qor::recoverRecording(c.complete.c_str()));
    EXPECT_EQ(complete, readFile(c.complete));
    EXPECT_FALSE(exists(journalOf(c.complete)));
    // No journal at all: nothing to do either.
    EXPECT_EQ(RecoveryResult::kNothingToDo, qor::recoverRecording(c.complete.c_str()));
    EXPECT_EQ(complete, readFile(c.complete));
}

// The only track of a file writes and journals its samples itself.
TEST(WriterRecovery, ACutOneTrackRecordingIsMended) {
    const std::string path = tempPath("disk_one_track.mp4");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
    sp<ReplaySource> video = new ReplaySource(videoFormat(), videoUnits(90));
    video->setGate(50);
    ASSERT_EQ(0, writer->addSource(video));
    ASSERT_EQ(0, writer->start(nullptr));
    video->waitForRequest(50);
    const Bytes journal = readFile(journalOf(path));
    const Bytes media = readFile(path);
    video->setGate(SIZE_MAX);
    ASSERT_TRUE(waitForEOS(writer.get()));
    ASSERT_EQ(0, writer->stop());
    writeFile(path, media);
    writeFile(journalOf(path), journal);
    ASSERT_EQ(RecoveryResult::kRecovered, qor::recoverRecording(path.c_str()));
    EXPECT_EQ("", decodeErrors(path));
    // Journaled every 0.4 s of frames: at most 12 frames of the 49 written
    // are lost.
    const int frames = packets(path, "h264");
    EXPECT_GE(frames, 49 - 13);
    EXPECT_LE(frames, 49);
}

// Killed while stop writes the moov: every chunk is in the file and the
// journal; the moov is half there. The whole recording comes back.
TEST(WriterRecovery, KilledWhileTheMoovIsWrittenGivesTheWholeRecording) {
    for (bool reserved : {true, false}) {
        SCOPED_TRACE(reserved ? "moov in the reservation" : "moov at the end");
        const std::string path = tempPath("disk_in_stop.mp4");
        sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(path.c_str());
        writer->setInterleaveDuration(400000);
        if (!reserved) writer->setMaxFileSize(4 << 20);
        ASSERT_EQ(0, writer->addSource(new ReplaySource(audioFormat(), audioUnits(130))));
        ASSERT_EQ(0, writer->addSource(new ReplaySource(videoFormat(), videoUnits(90))));
        ASSERT_EQ(0, writer->start(nullptr));
        ASSERT_TRUE(waitForEOS(writer.get()));
        usleep(300000);  // the last chunks reach the file
        const Bytes journal = readFile(journalOf(path));
        ASSERT_EQ(0, writer->stop());
        const int all = packets(path, "h264") + packets(path, "aac");
        ASSERT_EQ(90 + 130, all);

        Mp4File f = parseMp4(path);
        ASSERT_TRUE(f.ok) << f.error;
        const Box* moov = nullptr;
        for (const Box& b : f.top) {
            if (b.type == "moov") moov = &b;
        }
        ASSERT_NE(nullptr, moov);
        Bytes cut = readFile(path);
        if (reserved) {
            // The second half of the moov and the free box after it: not yet.
            std::fill(cut.begin() + moov->offset + moov->size / 2,
                      cut.begin() + moov->offset + moov->size + 8, 0);
        } else {
            cut.resize(moov->offset + moov->size / 2);
        }
        writeFile(path, cut);
        writeFile(journalOf(path), journal);
        ASSERT_EQ(RecoveryResult::kRecovered, qor::recoverRecording(path.c_str()));
        EXPECT_EQ("", decodeErrors(path));
        EXPECT_EQ(all, packets(path, "h264") + packets(path, "aac"));
    }
}

// Re-frames every record of a journal after `mutate` changed its payload,
// so that damage gets past the CRC and reaches the payload checks.
Bytes reframe(const Bytes& journal, const std::function<void(Bytes*)>& mutate) {
    Bytes out(journal.begin(), journal.begin() + qor::journal::kHeaderBytes);
    size_t pos = qor::journal::kHeaderBytes;
    while (pos + qor::journal::kRecordOverhead <= journal.size()) {
        const uint32_t len = (uint32_t)journal[pos] | (uint32_t)journal[pos + 1] << 8 |
                             (uint32_t)journal[pos + 2] << 16 | (uint32_t)journal[pos + 3] << 24;
        if (len == 0 || pos + qor::journal::kRecordOverhead + len > journal.size()) break;
        Bytes body(journal.begin() + pos + 4, journal.begin() + pos + 5 + len);
        mutate(&body);
        qor::journal::put32(&out, (uint32_t)body.size() - 1);
        out.insert(out.end(), body.begin(), body.end());
        qor::journal::put32(&out, qor::journal::crc32(body.data(), body.size()));
        pos += qor::journal::kRecordOverhead + len;
    }
    return out;
}

TEST(WriterRecovery, DamagedJournalsAreRefusedOrReadAsFarAsWhole) {
    const CutRecording& c = cutRecording();
    const Bytes& journal = c.cutJournal;
    int recovered = 0, refused = 0;
    auto attempt = [&](const Bytes& damaged, bool decode) {
        restoreCut(c, c.cutMedia, damaged);
        RecoveryResult r = qor::recoverRecording(c.cut.c_str());
        ASSERT_NE(RecoveryResult::kNothingToDo, r);
        if (r == RecoveryResult::kRecovered) {
            ++recovered;
            if (decode) {
                EXPECT_EQ("", decodeErrors(c.cut));
            }
        } else {
            ++refused;
            EXPECT_TRUE(exists(journalOf(c.cut)));
        }
    };
    // Cut at every length: whole records before the cut are used.
    for (size_t n = 0; n < journal.size(); n += 9) {
        attempt(Bytes(journal.begin(), journal.begin() + n), n % 900 == 0);
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(recovered, 0);

    std::mt19937 rng(11);
    // Flipped bytes (caught by the CRC), and payloads damaged behind a valid
    // CRC (caught by the checks of each value).
    for (int i = 0; i < 200; ++i) {
        Bytes flipped = journal;
        flipped[rng() % flipped.size()] ^= (uint8_t)(1 + rng() % 255);
        attempt(flipped, false);
        Bytes reframed = reframe(journal, [&](Bytes* body) {
            if (rng() % 3 != 0 || body->size() < 2) return;
            const size_t at = 1 + rng() % (body->size() - 1);
            (*body)[at] = (uint8_t)rng();
            if (rng() % 4 == 0) body->resize(1 + rng() % body->size());
        });
        // Values damaged behind a valid CRC may still be in range: the file
        // then plays with wrong sizes or times, so only its survival counts.
        attempt(reframed, false);
    }
    // Noise behind a valid header, and noise alone.
    for (int i = 0; i < 50; ++i) {
        Bytes noise(journal.begin(), journal.begin() + qor::journal::kHeaderBytes);
        for (int k = 0; k < 2000; ++k) noise.push_back((uint8_t)rng());
        attempt(noise, false);
        for (auto& b : noise) b = (uint8_t)rng();
        attempt(noise, false);
    }
}

// The recording runs in a child whose files may grow to `limit` bytes only
// (a disk that fills up); its exit status is 0 when stop reported the
// failure.
int recordOnSmallDisk(const std::string& path, int64_t limit, bool streamable) {
    streams();  // made by ffmpeg before the limit applies
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim;
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = (rlim_t)limit;
        setrlimit(RLIMIT_FSIZE, &lim);
        Recording r = record(path, audioUnits(260), videoUnits(180), [&](qor::MPEG4Writer* w) {
            w->setInterleaveDuration(400000);
            if (!streamable) w->setMaxFileSize(4 << 20);  // no moov reservation
        });
        _exit(r.stopResult != 0 ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(WriterDiskFull, WhatFitsIsKeptWithItsMoov) {
    const std::string path = tempPath("disk_full.mp4");
    for (bool streamable : {true, false}) {
        Recording full = record(path, audioUnits(260), videoUnits(180), [&](qor::MPEG4Writer* w) {
            w->setInterleaveDuration(400000);
            if (!streamable) w->setMaxFileSize(4 << 20);
        });
        ASSERT_EQ(0, full.stopResult);
        const int64_t size = (int64_t)readFile(path).size();
        const int all = packets(path, "h264") + packets(path, "aac");
        for (int percent : {25, 50, 90, 99}) {
            SCOPED_TRACE((streamable ? "reserved moov, " : "moov at the end, ") +
                         std::to_string(percent) + "%");
            const int64_t limit = size * percent / 100;
            ASSERT_EQ(0, recordOnSmallDisk(path, limit, streamable));
            EXPECT_FALSE(exists(journalOf(path)));
            const int64_t bytes = (int64_t)readFile(path).size();
            EXPECT_LE(bytes, limit);
            // Given up: at most the tail that made room for the moov, and
            // the chunk the disk ran out in.
            EXPECT_GE(bytes, limit - 64 * 1024);
            EXPECT_EQ("", decodeErrors(path));
            // The sources are not paced, so which track's chunks reached the
            // disk first varies; together they are what fit.
            const int kept = packets(path, "aac") + packets(path, "h264");
            EXPECT_GT(kept, 0);
            EXPECT_LT(kept, all);
        }
    }
}

}  // namespace
}  // namespace wtest
