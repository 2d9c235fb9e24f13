#include "engine/foundation/HubClient.h"

#include "engine/foundation/FileLock.h"
#include "engine/foundation/HubRequest.h"
#include "support/CacheFiles.h"
#include "support/FakeHub.h"
#include "support/TempDir.h"

#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace basalith {
namespace {

namespace fs = std::filesystem;
using testing::bookkeepingFiles;
using testing::FakeHub;
using testing::hubFailure;
using testing::patterned;
using testing::readFile;
using testing::writeFile;

constexpr const char* kRepo = "owner/models";
const std::string kSmall = "m/small.bin";
const std::string kLarge = "m/large.bin";

// What the hub client does with answers that stop short, change under it, lie or come twice.
class HubClientTest : public ::testing::Test {
  protected:
    HubClientTest() {
        hub.addFile(kRepo, kSmall, patterned(1000, 'a'));
        hub.addFile(kRepo, kLarge, patterned(3000, 'b'));
    }

    HubClient client() const {
        return HubClient(HubClientOptions{.downloadBase = temp.path(), .endpoint = hub.endpoint()});
    }
    fs::path repo() const { return temp.path() / "models" / kRepo; }
    std::optional<HubError::Kind> snapshotFailure(const std::string& pattern = "m/*") const {
        return hubFailure([&] { client().snapshot(kRepo, "main", {pattern}); });
    }

    FakeHub hub;
    velnote::testing::TempDir temp;
};

// A file that changed on the hub after an interruption is fetched whole, never stitched from two
// versions.
TEST_F(HubClientTest, ChangedFileIsFetchedWholeNotStitched) {
    hub.dropAfter(kSmall, 600);
    EXPECT_EQ(snapshotFailure(kSmall), HubError::Kind::network);
    const std::string firstVersion = hub.etag(kRepo, kSmall);
    hub.addFile(kRepo, kSmall, patterned(1000, 'k')); // same size, other bytes

    client().snapshot(kRepo, "main", {kSmall});
    EXPECT_EQ(hub.lastRange(kSmall), "bytes=600-");
    EXPECT_EQ(hub.lastIfRange(kSmall), firstVersion);
    EXPECT_EQ(readFile(repo() / kSmall), patterned(1000, 'k'));
    EXPECT_EQ(bookkeepingFiles(repo()), std::vector<std::string>{});
}

// A lock file whose kept validator could not go into a request as it stands (a line break would add
// a header; a huge file would be read whole) counts as no validator: the file is fetched again.
TEST_F(HubClientTest, DamagedKeptValidatorRestartsTheFile) {
    for (const std::string& kept :
         {hub.etag(kRepo, kSmall) + "\r\nX-Extra: 1", std::string(FileLock::kMaxContentBytes + 1, 'v')}) {
        SCOPED_TRACE(kept.substr(0, 40));
        fs::remove_all(temp.path() / "models");
        hub.dropAfter(kSmall, 600);
        EXPECT_EQ(snapshotFailure(kSmall), HubError::Kind::network);
        writeFile(repo() / (kSmall + HubClient::kLockSuffix), kept);

        client().snapshot(kRepo, "main", {kSmall});
        EXPECT_EQ(hub.lastRange(kSmall), std::nullopt) << "fetched whole";
        EXPECT_EQ(readFile(repo() / kSmall), patterned(1000, 'a'));
    }
}

// A FIFO where the partial file goes fails the download at once; nothing waits for a reader.
TEST_F(HubClientTest, AFifoInPlaceOfThePartialFileIsAFileSystemError) {
    fs::create_directories(repo() / "m");
    ASSERT_EQ(::mkfifo((repo() / (kSmall + HubClient::kIncompleteSuffix)).c_str(), 0600), 0);
    EXPECT_EQ(snapshotFailure(kSmall), HubError::Kind::fileSystem);
}

// A range answer with fewer bytes than asked is continued; until the file is whole its marker
// stays, so the model never counts as present with a file missing.
TEST_F(HubClientTest, ShortRangeAnswerIsContinuedAndTheMarkerKept) {
    hub.dropAfter(kSmall, 100);
    EXPECT_EQ(snapshotFailure(), HubError::Kind::network);
    hub.answerShortRange(kSmall, 50);
    hub.dropAfter(kSmall, 0); // the continuation breaks off
    EXPECT_EQ(snapshotFailure(), HubError::Kind::network);
    EXPECT_EQ(hub.lastRange(kSmall), "bytes=150-");
    EXPECT_EQ(readFile(repo() / (kSmall + ".incomplete")), patterned(1000, 'a').substr(0, 150));

    hub.answerShortRange(kSmall, 50);
    client().snapshot(kRepo, "main", {"m/*"});
    EXPECT_EQ(hub.lastRange(kSmall), "bytes=200-");
    EXPECT_EQ(readFile(repo() / kSmall), patterned(1000, 'a'));
    EXPECT_EQ(readFile(repo() / kLarge), patterned(3000, 'b'));
    EXPECT_EQ(bookkeepingFiles(repo()), std::vector<std::string>{});
}

TEST_F(HubClientTest, SizeMustAgreeWithTheListing) {
    hub.overrideListedSize(kRepo, kSmall, 999);
    EXPECT_EQ(snapshotFailure(kSmall), HubError::Kind::invalidResponse);
    EXPECT_FALSE(fs::exists(repo() / kSmall));
    EXPECT_TRUE(fs::exists(repo() / (kSmall + ".incomplete")));

    // A chunked answer that never ends is cut off past the listed size, not written on for ever.
    hub.overrideListedSize(kRepo, kSmall, 1000);
    hub.sendEndlessly(kSmall);
    EXPECT_EQ(snapshotFailure(kSmall), HubError::Kind::invalidResponse);
    EXPECT_FALSE(fs::exists(repo() / kSmall));
    EXPECT_EQ(readFile(repo() / (kSmall + ".incomplete")), "");

    // A file of the wrong size under its own name (left by an older, racing download) is replaced.
    hub.overrideListedSize(kRepo, kSmall, 1000);
    writeFile(repo() / kSmall, patterned(2000, 'a'));
    client().snapshot(kRepo, "main", {kSmall});
    EXPECT_EQ(readFile(repo() / kSmall), patterned(1000, 'a'));
    EXPECT_EQ(bookkeepingFiles(repo()), std::vector<std::string>{});
}

// Over HTTP/1 a body without a length or chunking ends with the connection, so a cut one looks
// whole: it is not taken.
TEST_F(HubClientTest, BodyWithoutALengthIsNotTakenAsComplete) {
    hub.setListingSizes(false);
    hub.sendWithoutLength(kSmall, 100);
    EXPECT_EQ(snapshotFailure(kSmall), HubError::Kind::invalidResponse);
    EXPECT_FALSE(fs::exists(repo() / kSmall));
    EXPECT_TRUE(fs::exists(repo() / (kSmall + ".incomplete")));

    client().snapshot(kRepo, "main", {kSmall});
    EXPECT_EQ(readFile(repo() / kSmall), patterned(1000, 'a'));
}

TEST_F(HubClientTest, RedirectsAreBounded) {
    hub.redirectListing(3);
    EXPECT_EQ(client().listFiles(kRepo, "main", {}), (std::vector<std::string>{kLarge, kSmall}));
    hub.redirectListing(HubRequest::kMaxRedirects + 1);
    EXPECT_EQ(hubFailure([&] { client().listFiles(kRepo, "main", {}); }), HubError::Kind::network);
}

TEST_F(HubClientTest, HostileListingsAreRefused) {
    const std::string oversized =
        R"({"siblings":[],"padding":")" + std::string(HubClient::kMaxListingBytes, 'x') + R"("})";
    const std::string bodies[] = {
        oversized,
        R"({"siblings":[{"rfilename":"m/a\u0000b"}]})",
        R"({"siblings":[{"rfilename":"m/small.bin","size":-1}]})",
        R"({"siblings":[{"rfilename":"m/small.bin","size":"1000"}]})",
        R"({"siblings":[{"rfilename":"m/small.bin","size":1e999}]})",
        R"({"siblings":[{"rfilename":"m/small.bin","size":1.5}]})",
        R"({"siblings":{"rfilename":"m/small.bin"}})",
        R"({"siblings":[{"rfilename":"m/small.bin"})",
    };
    for (const auto& body : bodies) {
        hub.overrideListingBody(kRepo, body);
        EXPECT_EQ(hubFailure([&] { client().listFiles(kRepo, "main", {}); }), HubError::Kind::invalidResponse)
            << body.substr(0, 80);
    }
}

// A file another writer (thread or process) holds is waited for, and not fetched again once that
// writer has finished it. A stop request ends the wait.
TEST_F(HubClientTest, AFileAnotherWriterHoldsIsWaitedFor) {
    fs::create_directories(repo() / "m");
    auto otherWriter = std::make_optional(FileLock::acquire(repo() / (kSmall + ".incomplete.lock"), {}));

    std::stop_source stop;
    std::promise<void> started;
    std::thread stopped([&] {
        bool first = true;
        EXPECT_EQ(hubFailure([&] {
                      client().snapshot(
                          kRepo, "main", {kSmall},
                          [&](const DownloadProgress&) {
                              if (std::exchange(first, false))
                                  started.set_value();
                          },
                          stop.get_token());
                  }),
                  HubError::Kind::cancelled);
    });
    started.get_future().wait();
    stop.request_stop();
    stopped.join();

    std::promise<void> waiting;
    std::optional<HubError::Kind> failure;
    std::thread caller([&] {
        bool first = true;
        failure = hubFailure([&] {
            client().snapshot(kRepo, "main", {"m/*"}, [&](const DownloadProgress&) {
                if (std::exchange(first, false))
                    waiting.set_value();
            });
        });
    });
    waiting.get_future().wait();
    writeFile(repo() / kSmall, patterned(1000, 'a')); // the other writer finishes the file
    fs::remove(repo() / (kSmall + ".incomplete"));
    otherWriter.reset();
    caller.join();

    EXPECT_EQ(failure, std::nullopt);
    EXPECT_EQ(hub.requestsFor(kSmall), 0);
    EXPECT_EQ(readFile(repo() / kLarge), patterned(3000, 'b'));
    EXPECT_EQ(bookkeepingFiles(repo()), std::vector<std::string>{});
}

// Two downloads of one repository at once: each file is fetched once and written whole.
TEST_F(HubClientTest, TwoCallersAtOnceFetchEachFileOnce) {
    // Without the per-file lock the second caller's request for the file would arrive while the
    // first answer is held, and both would append to one partial file.
    hub.holdForSecondRequest(kLarge, std::chrono::milliseconds(1000));
    std::optional<HubError::Kind> failures[2];
    std::thread first([&] { failures[0] = hubFailure([&] { client().snapshot(kRepo, "main", {"m/*"}); }); });
    std::thread second([&] { failures[1] = hubFailure([&] { client().snapshot(kRepo, "main", {"m/*"}); }); });
    first.join();
    second.join();

    EXPECT_EQ(failures[0], std::nullopt);
    EXPECT_EQ(failures[1], std::nullopt);

    EXPECT_EQ(hub.requestsFor(kLarge), 1);
    EXPECT_EQ(hub.requestsFor(kSmall), 1);
    EXPECT_EQ(readFile(repo() / kLarge), patterned(3000, 'b'));
    EXPECT_EQ(readFile(repo() / kSmall), patterned(1000, 'a'));
    EXPECT_EQ(bookkeepingFiles(repo()), std::vector<std::string>{});
}

} // namespace
} // namespace basalith
