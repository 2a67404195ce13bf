// Full disks, cut recordings and their recovery journal: a recording whose
// disk runs out keeps what fits with its moov; a copy of a recording taken
// while it runs (what a killed process leaves) is mended from the journal;
// damaged journals are refused or read as far as they are whole.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>

#include <media/stagefright/MediaErrors.h>

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

// Variants: the moov goes into the reservation, the same with other
// pictures and sound (another recording of the same layout), or no
// reservation (the moov goes at the end).
enum CutKind { kReserved, kReservedOther, kAtEnd };

CutRecording makeCutRecording(CutKind kind) {
    CutRecording c;
    const std::string name = "disk_" + std::to_string((int)kind);
    c.complete = tempPath(name + "_complete.mp4");
    c.cut = tempPath(name + "_cut.mp4");
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(c.complete.c_str());
    writer->setInterleaveDuration(400000);
    if (kind == kAtEnd) writer->setMaxFileSize(4 << 20);
    // The other recording starts further into the streams (at a sync frame).
    const bool other = kind == kReservedOther;
    sp<ReplaySource> audio =
        new ReplaySource(audioFormat(), audioUnits(130, 100000, other ? 7 : 0));
    sp<ReplaySource> video =
        new ReplaySource(videoFormat(), videoUnits(90, 100000, 33333, other ? 30 : 0));
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
}

const CutRecording& cutRecording(CutKind kind = kReserved) {
    static std::map<int, CutRecording> made;
    if (made.count(kind) == 0) made[kind] = makeCutRecording(kind);
    return made[kind];
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
    EXPECT_EQ(RecoveryResult::kComplete, qor::recoverRecording(c.cut.c_str()));
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
    EXPECT_EQ(RecoveryResult::kComplete, qor::recoverRecording(c.complete.c_str()));
    EXPECT_EQ(complete, readFile(c.complete));
    EXPECT_FALSE(exists(journalOf(c.complete)));
    // No journal at all: nothing to do either.
    EXPECT_EQ(RecoveryResult::kComplete, qor::recoverRecording(c.complete.c_str()));
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
        ASSERT_NE(RecoveryResult::kComplete, r);
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


// ---- Only its own recording --------------------------------------------

// What is at a path, seen without following a link or opening a FIFO.
struct Entry {
    char kind = '0';     // '0' nothing, 'f' file, 'l' link, 'p' FIFO, 'd' folder
    Bytes bytes;         // of a file
    std::string target;  // of a link
    bool operator==(const Entry& o) const {
        return kind == o.kind && bytes == o.bytes && target == o.target;
    }
};

Entry entryAt(const std::string& path) {
    Entry e;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return e;
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t n = readlink(path.c_str(), buf, sizeof(buf));
        e.kind = 'l';
        if (n > 0) e.target.assign(buf, (size_t)n);
    } else if (S_ISFIFO(st.st_mode)) {
        e.kind = 'p';
    } else if (S_ISDIR(st.st_mode)) {
        e.kind = 'd';
    } else {
        e.kind = 'f';
        e.bytes = readFile(path);
    }
    return e;
}

void clearPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

Bytes textBytes(size_t n) {
    const std::string line = "A plain text file that is no recording at all.\n";
    Bytes b;
    while (b.size() < n) b.insert(b.end(), line.begin(), line.end());
    b.resize(n);
    return b;
}

// The command-line tool, given a generous time (a hang fails): its exit
// status and how many warnings and errors recovery logged.
struct ToolRun {
    int status = -1;
    int logged = 0;
    std::string err;
};

ToolRun runRecoverTool(const std::string& path) {
    CmdResult r = runCommand("env -u LUMOKAST_LOG_QUIET timeout 60 " QOR_RECOVER_TOOL " '" + path + "'");
    ToolRun t;
    t.status = r.status;
    t.err = r.err;
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(" W MP4Recovery: ") != std::string::npos ||
            line.find(" E MP4Recovery: ") != std::string::npos) {
            ++t.logged;
        }
    }
    return t;
}

void putBytes(const std::string& path, const Bytes& b) { writeFile(path, b); }

// The complete moov-at-the-end recording laid out the way other writers
// may: a last box of size 0, a 64-bit box size, a moov that does not start
// with mvhd, a byte after the last box. Each plays as it is.
Bytes completeVariant(const std::string& how) {
    const CutRecording& c = cutRecording(kAtEnd);
    Bytes b = readFile(c.complete);
    Mp4File f = parseMp4(c.complete);
    EXPECT_TRUE(f.ok && !f.top.empty() && f.top.back().type == "moov") << f.topOrder();
    if (!f.ok || f.top.empty()) return b;
    const size_t at = (size_t)f.top.back().offset;
    const uint64_t size = f.top.back().size;
    auto put32 = [&](size_t pos, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[pos + i] = (uint8_t)(v >> (24 - 8 * i));
    };
    if (how == "size 0") {
        put32(at, 0);
    } else if (how == "64-bit size") {
        Bytes head = {0, 0, 0, 1, 'm', 'o', 'o', 'v'};
        for (int i = 0; i < 8; ++i) head.push_back((uint8_t)((size + 8) >> (56 - 8 * i)));
        b.erase(b.begin() + at, b.begin() + at + 8);
        b.insert(b.begin() + at, head.begin(), head.end());
    } else if (how == "no mvhd first") {
        put32(at, (uint32_t)size + 8);
        const Bytes freeBox = {0, 0, 0, 8, 'f', 'r', 'e', 'e'};
        b.insert(b.begin() + at + 8, freeBox.begin(), freeBox.end());
    } else if (how == "trailing byte") {
        b.push_back(0);
    }
    return b;
}

uint64_t le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

void putLe64(Bytes* b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) (*b)[at + i] = (uint8_t)(v >> (8 * i));
}

// The journal with its layout record changed behind a valid CRC. The
// record's body: type, then flags, mdat start, reservation start and size.
Bytes withLayout(const Bytes& journal, const std::function<void(Bytes*)>& change) {
    return reframe(journal, [&](Bytes* body) {
        if ((*body)[0] == qor::journal::kFileRecord) change(body);
    });
}

struct ScopeCase {
    const char* name;
    // Lays out what is at the path and beside it.
    std::function<void(const std::string& path)> make;
    int exitStatus;       // of the tool: 0 the file plays, 1 refused
    bool journalRemoved;  // the stale journal of this very file
};

// Recovery changes nothing but its own cut recording: whatever else is at
// the path or beside it stays byte for byte as it was, and the tool says
// whether the file plays.
TEST(WriterRecovery, OnlyItsOwnRecordingIsTouched) {
    const CutRecording& own = cutRecording();
    const Bytes& cut = own.cutMedia;
    const Bytes& journal = own.cutJournal;
    const Bytes& atEndJournal = cutRecording(kAtEnd).cutJournal;
    auto complete = [&](const char* how) {
        return [&, how](const std::string& p) {
            putBytes(p, completeVariant(how));
            putBytes(journalOf(p), atEndJournal);
        };
    };
    const ScopeCase cases[] = {
        {"a text file beside a well-formed journal",
         [&](const std::string& p) {
             putBytes(p, textBytes(45000));
             putBytes(journalOf(p), journal);
         },
         1, false},
        {"a cut recording beside another recording's journal",
         [&](const std::string& p) {
             putBytes(p, cut);
             putBytes(journalOf(p), cutRecording(kReservedOther).cutJournal);
         },
         1, false},
        {"complete, a last box of size 0", complete("size 0"), 0, true},
        {"complete, a moov of 64-bit size", complete("64-bit size"), 0, true},
        {"complete, a moov not starting with mvhd", complete("no mvhd first"), 0, true},
        {"complete, one trailing byte", complete("trailing byte"), 0, true},
        {"complete, beside another recording's journal",
         [&](const std::string& p) {
             putBytes(p, readFile(own.complete));
             putBytes(journalOf(p), atEndJournal);
         },
         0, false},
        {"a link at the file's name",
         [&](const std::string& p) {
             putBytes(p + ".target", cut);
             ASSERT_EQ(0, symlink((p + ".target").c_str(), p.c_str()));
             putBytes(journalOf(p), journal);
         },
         1, false},
        {"a link at the journal's name",
         [&](const std::string& p) {
             putBytes(p, cut);
             putBytes(p + ".jtarget", journal);
             ASSERT_EQ(0, symlink((p + ".jtarget").c_str(), journalOf(p).c_str()));
         },
         1, false},
        {"a FIFO at the file's name",
         [&](const std::string& p) {
             ASSERT_EQ(0, mkfifo(p.c_str(), 0600));
             putBytes(journalOf(p), journal);
         },
         1, false},
        {"a FIFO at the journal's name",
         [&](const std::string& p) {
             putBytes(p, cut);
             ASSERT_EQ(0, mkfifo(journalOf(p).c_str(), 0600));
         },
         1, false},
        {"nothing at the path, a journal beside it",
         [&](const std::string& p) { putBytes(journalOf(p), journal); }, 1, false},
        {"nothing at all", [](const std::string&) {}, 1, false},
        {"a folder at the path",
         [&](const std::string& p) {
             ASSERT_EQ(0, mkdir(p.c_str(), 0700));
             putBytes(journalOf(p), journal);
         },
         1, false},
        {"a journal of the earlier format",
         [&](const std::string& p) {
             putBytes(p, cut);
             Bytes earlier = journal;
             earlier[4] = 1;  // the version, little-endian
             earlier[5] = earlier[6] = earlier[7] = 0;
             putBytes(journalOf(p), earlier);
         },
         1, false},
        {"a cut recording without its journal", [&](const std::string& p) { putBytes(p, cut); },
         1, false},
        {"a journal whose mdat starts past 2^63",
         [&](const std::string& p) {
             putBytes(p, cut);
             putBytes(journalOf(p), withLayout(journal, [](Bytes* b) { (*b)[12] |= 0x80; }));
         },
         1, false},
        {"a journal whose reservation starts inside ftyp",
         [&](const std::string& p) {
             putBytes(p, cut);
             putBytes(journalOf(p), withLayout(journal, [](Bytes* b) {
                          // The reservation from offset 8 up to mdat.
                          const uint64_t mdat = le64(b->data() + 5);
                          putLe64(b, 13, 8);
                          putLe64(b, 21, mdat - 8);
                      }));
         },
         1, false},
    };
    int n = 0;
    for (const ScopeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = tempPath("scope_" + std::to_string(n++) + ".mp4");
        const std::string others[] = {journalOf(p), p + ".target", p + ".jtarget"};
        clearPath(p);
        for (const std::string& o : others) clearPath(o);
        c.make(p);
        const Entry file = entryAt(p), beside = entryAt(journalOf(p));
        const Entry target = entryAt(p + ".target"), jtarget = entryAt(p + ".jtarget");

        const ToolRun run = runRecoverTool(p);
        EXPECT_EQ(c.exitStatus, run.status) << run.err;
        EXPECT_TRUE(entryAt(p) == file) << "the file was changed";
        EXPECT_TRUE(entryAt(p + ".target") == target) << "a link's target was changed";
        EXPECT_TRUE(entryAt(p + ".jtarget") == jtarget) << "a link's target was changed";
        if (c.journalRemoved) {
            EXPECT_EQ('0', entryAt(journalOf(p)).kind) << "the stale journal stayed";
        } else {
            EXPECT_TRUE(entryAt(journalOf(p)) == beside) << "what is beside was changed";
        }
        // A refusal says why, once.
        if (c.exitStatus != 0) {
            EXPECT_EQ(1, run.logged) << run.err;
        }
    }
}

// A whole recording whose journal is copied once every sample is in it,
// before stop: the same recording as a clean stop leaves it and as a
// process killed while stop writes the moov leaves it.
struct StoppedRecording {
    std::string path;
    Bytes journal, clean;
    size_t samples = 0;
};

size_t journalSamples(const Bytes& journal) {
    qor::JournalContents j;
    if (!qor::parseJournal(journal.data(), journal.size(), &j)) return 0;
    size_t n = 0;
    for (const auto& c : j.chunks) n += c.samples.size();
    return n;
}

const int32_t kPriming = 1024;

StoppedRecording recordAndStop(const std::string& name, bool reserved, size_t audioFrames,
                               size_t videoFrames) {
    StoppedRecording r;
    r.path = tempPath(name);
    r.samples = audioFrames + videoFrames;
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(r.path.c_str());
    writer->setInterleaveDuration(400000);
    if (!reserved) writer->setMaxFileSize(4 << 20);
    sp<android::MetaData> sound = audioFormat();
    sound->setInt32(android::kKeyEncoderDelay, kPriming);
    if (audioFrames > 0) {
        EXPECT_EQ(0, writer->addSource(new ReplaySource(sound, audioUnits(audioFrames))));
    }
    if (videoFrames > 0) {
        // The picture starts after the sound: its track has a start offset.
        EXPECT_EQ(0, writer->addSource(
                         new ReplaySource(videoFormat(), videoUnits(videoFrames, 160000))));
    }
    EXPECT_EQ(0, writer->start(nullptr));
    EXPECT_TRUE(waitForEOS(writer.get()));
    for (int waited = 0; waited < 30000; waited += 20) {
        r.journal = readFile(journalOf(r.path));
        if (journalSamples(r.journal) == r.samples) break;
        usleep(20000);
    }
    EXPECT_EQ(r.samples, journalSamples(r.journal));
    EXPECT_EQ(0, writer->stop());
    r.clean = readFile(r.path);
    return r;
}

const Box* topBox(const Mp4File& f, const std::string& type) {
    for (const Box& b : f.top) {
        if (b.type == type) return &b;
    }
    return nullptr;
}

// The file as a process killed half-way through writing the moov leaves
// it: the moov's first half is there, the rest not yet.
Bytes halfMoov(const StoppedRecording& r, bool reserved) {
    Mp4File f = parseMp4(r.path);
    const Box* moov = topBox(f, "moov");
    EXPECT_NE(nullptr, moov);
    Bytes cut = r.clean;
    if (moov == nullptr) return cut;
    if (reserved) {
        std::fill(cut.begin() + moov->offset + moov->size / 2,
                  cut.begin() + moov->offset + moov->size + 8, 0);
    } else {
        cut.resize(moov->offset + moov->size / 2);
    }
    return cut;
}

// The moov made from the journal says what the clean stop's says: the
// same edit list (the sound's priming skipped) and durations in every
// header.
TEST(WriterRecovery, ARecoveredMoovTellsWhatACleanStopTells) {
    struct Case {
        const char* name;
        bool reserved;
        size_t audio, video;
    };
    const Case cases[] = {
        {"moov in the reservation", true, 130, 90},
        {"moov at the end", false, 130, 90},
        {"sound only", true, 130, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StoppedRecording r = recordAndStop("same_moov.mp4", c.reserved, c.audio, c.video);
        const Mp4File clean = parseMp4(r.path);
        ASSERT_TRUE(clean.ok) << clean.error;
        const TrackTables* cleanSound = clean.track("soun");
        ASSERT_NE(nullptr, cleanSound);
        ASSERT_EQ(1u, cleanSound->editCount);
        ASSERT_EQ(kPriming, cleanSound->editMediaTime);

        writeFile(r.path, halfMoov(r, c.reserved));
        writeFile(journalOf(r.path), r.journal);
        ASSERT_EQ(RecoveryResult::kRecovered, qor::recoverRecording(r.path.c_str()));
        EXPECT_EQ("", decodeErrors(r.path));
        const Mp4File mended = parseMp4(r.path);
        ASSERT_TRUE(mended.ok) << mended.error;
        EXPECT_EQ(clean.movieTimeScale, mended.movieTimeScale);
        EXPECT_EQ(clean.movieDuration, mended.movieDuration);
        ASSERT_EQ(clean.tracks.size(), mended.tracks.size());
        for (const TrackTables& t : clean.tracks) {
            SCOPED_TRACE(t.handler);
            const TrackTables* m = mended.track(t.handler);
            ASSERT_NE(nullptr, m);
            EXPECT_EQ(t.mediaTimeScale, m->mediaTimeScale);
            EXPECT_EQ(t.mediaDuration, m->mediaDuration);
            EXPECT_EQ(t.tkhdDuration, m->tkhdDuration);
            EXPECT_EQ(t.editCount, m->editCount);
            EXPECT_EQ(t.editDuration, m->editDuration);
            EXPECT_EQ(t.editMediaTime, m->editMediaTime);
            EXPECT_EQ(t.stts, m->stts);
            EXPECT_EQ(t.ctts, m->ctts);
            EXPECT_EQ(t.sizes, m->sizes);
            EXPECT_EQ(t.stss, m->stss);
        }
    }
}

// Read calls this process made so far (-1 where the kernel does not say).
long readCalls() {
    std::ifstream io("/proc/self/io");
    for (std::string line; std::getline(io, line);) {
        if (line.rfind("syscr:", 0) == 0) return atol(line.c_str() + 6);
    }
    return -1;
}

// Whether a file is complete is judged from its top-level box headers,
// read a window at a time: a file of many boxes costs few reads.
TEST(WriterRecovery, CompletenessTakesFewReads) {
    if (readCalls() < 0) GTEST_SKIP() << "no read counts in /proc/self/io";
    struct Case {
        const char* name;
        size_t freeBoxes;    // 8-byte boxes after the moov
        uint64_t mdatBytes;  // a last mdat of 64-bit size, holes only
    };
    const Case cases[] = {
        {"a million small boxes after the moov", 1000000, 0},
        {"a last mdat of 80 MB", 0, 80u << 20},
    };
    const std::string path = tempPath("many_boxes.mp4");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = readFile(cutRecording(kAtEnd).complete);
        const Bytes freeBox = {0, 0, 0, 8, 'f', 'r', 'e', 'e'};
        for (size_t i = 0; i < c.freeBoxes; ++i) b.insert(b.end(), freeBox.begin(), freeBox.end());
        if (c.mdatBytes > 0) {
            Bytes head = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
            for (int i = 0; i < 8; ++i) head.push_back((uint8_t)(c.mdatBytes >> (56 - 8 * i)));
            b.insert(b.end(), head.begin(), head.end());
        }
        const size_t written = b.size();
        writeFile(path, b);
        if (c.mdatBytes > 0) {
            ASSERT_EQ(0, truncate(path.c_str(), (off_t)(written - 16 + c.mdatBytes)));
        }
        clearPath(journalOf(path));
        const long before = readCalls();
        EXPECT_EQ(RecoveryResult::kComplete, qor::recoverRecording(path.c_str()));
        EXPECT_LT(readCalls() - before, 1000);
    }
}

// A chunk damaged in the middle of the file (a disk error, a power cut)
// ends what is mended; the chunks after it stay in the file as they were.
TEST(WriterRecovery, BytesPastADamagedChunkAreKept) {
    for (CutKind kind : {kReserved, kAtEnd}) {
        SCOPED_TRACE(kind == kReserved ? "moov in the reservation" : "moov at the end");
        const CutRecording& c = cutRecording(kind);
        qor::JournalContents j;
        ASSERT_TRUE(qor::parseJournal(c.cutJournal.data(), c.cutJournal.size(), &j));
        ASSERT_GE(j.chunks.size(), 4u);
        const size_t damaged = 2;
        Bytes media = c.cutMedia;
        media[j.chunks[damaged].offset + j.chunks[damaged].bytes / 2] ^= 0x5a;
        restoreCut(c, media, c.cutJournal);
        ASSERT_EQ(RecoveryResult::kRecovered, qor::recoverRecording(c.cut.c_str()));
        EXPECT_EQ("", decodeErrors(c.cut));
        size_t before = 0;
        for (size_t i = 0; i < damaged; ++i) before += j.chunks[i].samples.size();
        EXPECT_EQ((int)before, packets(c.cut, "h264") + packets(c.cut, "aac"));
        // Every byte after the mdat header is still there.
        const Bytes mended = readFile(c.cut);
        const size_t from = (size_t)j.file.mdatStart + 8;
        ASSERT_GE(mended.size(), media.size());
        EXPECT_TRUE(std::equal(media.begin() + from, media.end(), mended.begin() + from));
    }
}

// Mending in a child whose files may not grow (a full disk): its result.
int recoverWithoutRoom(const std::string& path) {
    const rlim_t size = (rlim_t)readFile(path).size();
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim;
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = size;
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit((int)qor::recoverRecording(path.c_str()));
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A mending whose writes fail leaves the file and its journal as they were;
// with room again, the whole recording comes back.
TEST(WriterRecovery, AFailedMendingLosesNothing) {
    struct Case {
        const char* name;
        Bytes media, journal;
    };
    const CutRecording& atEnd = cutRecording(kAtEnd);
    const StoppedRecording stopped = recordAndStop("no_room_in_stop.mp4", false, 130, 90);
    const Case cases[] = {
        {"killed mid-recording, the moov goes at the end", atEnd.cutMedia, atEnd.cutJournal},
        {"killed while stop wrote the moov at the end", halfMoov(stopped, false),
         stopped.journal},
    };
    const std::string path = tempPath("no_room.mp4");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path, c.media);
        writeFile(journalOf(path), c.journal);
        EXPECT_EQ((int)RecoveryResult::kFailed, recoverWithoutRoom(path));
        EXPECT_TRUE(readFile(path) == c.media) << "the file was changed";
        EXPECT_TRUE(readFile(journalOf(path)) == c.journal) << "the journal was changed";

        ASSERT_EQ(RecoveryResult::kRecovered, qor::recoverRecording(path.c_str()));
        EXPECT_FALSE(exists(journalOf(path)));
        EXPECT_EQ("", decodeErrors(path));
        EXPECT_EQ((int)journalSamples(c.journal), packets(path, "h264") + packets(path, "aac"));
    }
}

// Without a journal (a writer made from a descriptor, or a journal that
// cannot be created) a full disk still leaves what fit with a moov, built
// from the tables in memory, with the same edit list as a clean stop.
TEST(WriterDiskFull, WithoutAJournalWhatFitsIsKeptWithItsMoov) {
    struct Case {
        const char* name;
        bool descriptor;     // else a folder where the journal would go
        size_t videoFrames;  // with 260 AAC frames
    };
    const Case cases[] = {
        {"a writer made from a descriptor", true, 180},
        {"no journal can be made", false, 180},
        {"a writer made from a descriptor, sound only", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tempPath("nojournal.mp4");
        const StoppedRecording full =
            recordAndStop("nojournal_full.mp4", true, 260, c.videoFrames);
        const rlim_t limit = (rlim_t)full.clean.size() / 2;
        clearPath(path);
        clearPath(journalOf(path));
        if (!c.descriptor) {
            ASSERT_EQ(0, mkdir(journalOf(path).c_str(), 0700));
        }
        pid_t pid = fork();
        if (pid == 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim;
            getrlimit(RLIMIT_FSIZE, &lim);
            lim.rlim_cur = limit;
            setrlimit(RLIMIT_FSIZE, &lim);
            sp<qor::MPEG4Writer> w;
            if (c.descriptor) {
                int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0600);
                w = new qor::MPEG4Writer(fd);
                close(fd);
            } else {
                w = new qor::MPEG4Writer(path.c_str());
            }
            sp<android::MetaData> sound = audioFormat();
            sound->setInt32(android::kKeyEncoderDelay, kPriming);
            w->setInterleaveDuration(400000);
            w->addSource(new ReplaySource(sound, audioUnits(260)));
            if (c.videoFrames > 0) {
                w->addSource(new ReplaySource(videoFormat(), videoUnits(c.videoFrames)));
            }
            if (w->start(nullptr) != 0 || !waitForEOS(w.get())) _exit(2);
            _exit(w->stop() == android::ERROR_IO ? 0 : 1);
        }
        int status = -1;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_LE(readFile(path).size(), (size_t)limit);
        EXPECT_EQ("", decodeErrors(path));
        const int kept = packets(path, "h264") + packets(path, "aac");
        EXPECT_GT(kept, 0);
        EXPECT_LT(kept, 260 + (int)c.videoFrames);
        const Mp4File f = parseMp4(path);
        ASSERT_TRUE(f.ok) << f.error;
        // The sources are not paced: with two tracks, the picture may fill
        // the disk before any sound reached it.
        const TrackTables* sound = f.track("soun");
        if (c.videoFrames == 0) {
            ASSERT_NE(nullptr, sound);
        }
        if (sound != nullptr) {
            EXPECT_EQ(1u, sound->editCount);
            EXPECT_EQ(kPriming, sound->editMediaTime);
            EXPECT_EQ(sound->editDuration, sound->tkhdDuration);
        }
        if (!c.descriptor) {
            EXPECT_EQ('d', entryAt(journalOf(path)).kind);
            clearPath(journalOf(path));
        }
    }
}

// A recording creates and removes only its own journal, and never starts
// over a journal another recording (or a recovery) holds.
TEST(WriterJournal, ARecordingTouchesNothingButItsOwnFiles) {
    struct Case {
        const char* name;
        std::function<void(const std::string& path)> make;
        bool starts;
        bool journalStays;  // what is at the journal's name is not ours
    };
    int held = -1;
    const Case cases[] = {
        {"a link at the journal's name",
         [](const std::string& p) {
             putBytes(p + ".victim", textBytes(300));
             ASSERT_EQ(0, symlink((p + ".victim").c_str(), journalOf(p).c_str()));
         },
         true, true},
        {"a FIFO at the journal's name",
         [](const std::string& p) { ASSERT_EQ(0, mkfifo(journalOf(p).c_str(), 0600)); }, true,
         true},
        {"another program's file at the journal's name",
         [](const std::string& p) { putBytes(journalOf(p), textBytes(300)); }, true, true},
        {"a stale journal of a killed recording",
         [](const std::string& p) { putBytes(journalOf(p), cutRecording().cutJournal); }, true,
         false},
        {"a journal held by a running recording",
         [&](const std::string& p) {
             putBytes(p, textBytes(500));
             putBytes(journalOf(p), cutRecording().cutJournal);
             held = open(journalOf(p).c_str(), O_RDONLY);
             ASSERT_EQ(0, flock(held, LOCK_EX | LOCK_NB));
         },
         false, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = tempPath("own_" + std::to_string(n++) + ".mp4");
        clearPath(p);
        clearPath(journalOf(p));
        clearPath(p + ".victim");
        c.make(p);
        const Entry before = entryAt(p), beside = entryAt(journalOf(p));
        const Entry victim = entryAt(p + ".victim");
        sp<qor::MPEG4Writer> w = new qor::MPEG4Writer(p.c_str());
        if (c.starts) {
            ASSERT_EQ(0, w->initCheck());
            ASSERT_EQ(0, w->addSource(new ReplaySource(audioFormat(), audioUnits(40))));
            ASSERT_EQ(0, w->addSource(new ReplaySource(videoFormat(), videoUnits(30))));
            ASSERT_EQ(0, w->start(nullptr));
            ASSERT_TRUE(waitForEOS(w.get()));
            EXPECT_EQ(0, w->stop());
            EXPECT_EQ("", decodeErrors(p));
        } else {
            EXPECT_NE(0, w->initCheck());
            EXPECT_NE(0, w->start(nullptr));
            w.clear();
            EXPECT_TRUE(entryAt(p) == before) << "the file was changed";
        }
        EXPECT_TRUE(entryAt(p + ".victim") == victim) << "a link's target was changed";
        if (c.journalStays) {
            EXPECT_TRUE(entryAt(journalOf(p)) == beside) << "what is at the journal's name changed";
        } else {
            EXPECT_EQ('0', entryAt(journalOf(p)).kind);
        }
        if (held >= 0) close(held);
        held = -1;
    }
}

// ---- Memory --------------------------------------------------------------

void putRecord(Bytes* out, uint8_t type, const Bytes& payload) {
    qor::journal::put32(out, (uint32_t)payload.size());
    Bytes body(1, type);
    body.insert(body.end(), payload.begin(), payload.end());
    out->insert(out->end(), body.begin(), body.end());
    qor::journal::put32(out, qor::journal::crc32(body.data(), body.size()));
}

// A sound-only recording of `chunks` chunks of `perChunk` one-byte
// samples, with its journal: the head and the track of a real one.
void makeLargeRecording(const std::string& path, uint32_t chunks, uint32_t perChunk) {
    const CutRecording& c = cutRecording();
    qor::JournalContents j;
    ASSERT_TRUE(qor::parseJournal(c.cutJournal.data(), c.cutJournal.size(), &j));
    const qor::journal::TrackInfo* sound = nullptr;
    for (const auto& t : j.tracks) {
        if (t.isAudio) sound = &t;
    }
    ASSERT_NE(nullptr, sound);
    using qor::journal::put32;
    using qor::journal::put64;
    Bytes journal(qor::journal::kMagic, qor::journal::kMagic + 4);
    put32(&journal, qor::journal::kVersion);
    Bytes p;
    put32(&p, 1);
    put64(&p, (uint64_t)j.file.mdatStart);
    put64(&p, (uint64_t)j.file.freeBoxStart);
    put64(&p, (uint64_t)j.file.reservedMoovBytes);
    put32(&p, (uint32_t)j.file.movieTimeScale);
    putRecord(&journal, qor::journal::kFileRecord, p);
    p.clear();
    for (uint32_t v : {1u, 1u, (uint32_t)sound->timeScale, 0u, 0u}) put32(&p, v);
    put64(&p, (uint64_t)sound->startTimeUs);
    put64(&p, sound->primingTicks);
    put32(&p, (uint32_t)sound->sampleEntry.size());
    p.insert(p.end(), sound->sampleEntry.begin(), sound->sampleEntry.end());
    putRecord(&journal, qor::journal::kTrackRecord, p);

    Bytes media(c.cutMedia.begin(), c.cutMedia.begin() + j.file.mdatStart + 8);
    std::mt19937 rng(3);
    for (uint32_t i = 0; i < chunks; ++i) {
        p.clear();
        put32(&p, 1);
        put64(&p, media.size());
        Bytes data(perChunk);
        for (auto& b : data) b = (uint8_t)rng();
        put32(&p, qor::journal::crc32(data.data(), data.size()));
        put32(&p, perChunk);
        for (uint32_t k = 0; k < perChunk; ++k) {
            for (uint32_t v : {1u, 1024u, 0u}) put32(&p, v);
            p.push_back(1);
        }
        media.insert(media.end(), data.begin(), data.end());
        putRecord(&journal, qor::journal::kChunkRecord, p);
    }
    writeFile(path, media);
    writeFile(journalOf(path), journal);
}

// The tool in an address space of `kib` KiB (a 32-bit process runs out
// of it first): its exit status; -1 when a signal ended it.
int recoverInRoom(const std::string& path, long kib) {
    return runCommand("bash -c 'ulimit -v " + std::to_string(kib) + "; exec " QOR_RECOVER_TOOL
                      " \"$0\"' '" + path + "' >/dev/null")
        .status;
}

// A large journal is read a record at a time, with one copy of the tables
// it builds; where even that does not fit, recovery refuses like for any
// other reason and the files stay as they were.
TEST(WriterRecovery, ALargeJournalIsReadInBoundedMemory) {
    // The tool itself needs less than 12 MiB; not so under a sanitizer or
    // an emulator, which reserve address space of their own.
    if (recoverInRoom(tempPath("absent.mp4"), 12 << 10) != 1) {
        GTEST_SKIP() << "the tool does not run in a small address space here";
    }
    struct Case {
        const char* name;
        long kib;
        int exitStatus;
    };
    // 60000 chunks of 50 samples: a journal of 39 MiB, 3 million samples,
    // whose tables take about 24 MiB: the whole journal in memory beside
    // them would not fit.
    const Case cases[] = {
        {"room for one copy of the tables", 64 << 10, 0},
        {"room for less than the tables", 16 << 10, 1},
    };
    const std::string path = tempPath("large_journal.mp4");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeLargeRecording(path, 60000, 50);
        const Bytes media = readFile(path), journal = readFile(journalOf(path));
        ASSERT_GT(journal.size(), 38u << 20);
        EXPECT_EQ(c.exitStatus, recoverInRoom(path, c.kib));
        if (c.exitStatus != 0) {
            EXPECT_TRUE(readFile(path) == media) << "the file was changed";
            EXPECT_TRUE(readFile(journalOf(path)) == journal) << "the journal was changed";
        } else {
            EXPECT_FALSE(exists(journalOf(path)));
            EXPECT_EQ("ftyp free mdat moov", parseMp4(path).topOrder());
        }
    }
}

}  // namespace
}  // namespace wtest
