// The writer's threads while a recording runs: their names fit the 15
// characters a thread name may have.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "RecordHelper.h"

namespace wtest {
namespace {

std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return names;
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name)) names.push_back(name);
    }
    closedir(dir);
    return names;
}

size_t countOf(const std::vector<std::string>& names, const std::string& name) {
    return std::count(names.begin(), names.end(), name);
}

TEST(WriterThreads, TrackAndWriterThreadsAreNamed) {
    sp<qor::MPEG4Writer> writer = new qor::MPEG4Writer(tempPath("names.mp4").c_str());
    sp<ReplaySource> audio = new ReplaySource(audioFormat(), audioUnits(20));
    sp<ReplaySource> video = new ReplaySource(videoFormat(), videoUnits(20));
    audio->setGate(5);
    video->setGate(5);
    ASSERT_EQ(0, writer->addSource(audio));
    ASSERT_EQ(0, writer->addSource(video));
    ASSERT_EQ(0, writer->start(nullptr));
    audio->waitForRequest(5);
    video->waitForRequest(5);
    // The writer thread names itself on its own time; it waits for chunks.
    std::vector<std::string> names;
    for (int waitedMs = 0; waitedMs < 5000; waitedMs += 5) {
        names = threadNames();
        if (countOf(names, "MPEG4Writer") > 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    audio->setGate(SIZE_MAX);
    video->setGate(SIZE_MAX);
    ASSERT_TRUE(waitForEOS(writer.get()));
    EXPECT_EQ(0, writer->stop());

    EXPECT_EQ(1u, countOf(names, "AudioTrackEnc"));
    EXPECT_EQ(1u, countOf(names, "VideoTrackEnc"));
    EXPECT_EQ(1u, countOf(names, "MPEG4Writer"));
}

}  // namespace
}  // namespace wtest
