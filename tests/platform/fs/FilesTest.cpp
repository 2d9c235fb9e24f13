#include "platform/fs/Files.h"

#include "platform/fs/AppFolders.h"
#include "platform/fs/FileDescriptor.h"
#include "platform/fs/FileUrl.h"
#include "support/TempDir.h"
#include "support/WithoutHome.h"

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velnote::platform {
namespace {
using testing::ScopedEnv;
using testing::TempDir;
namespace fs = std::filesystem;

TEST(FilesTest, AtomicWriteReplacesContentAndKeepsMode) {
    TempDir dir;
    const auto file = dir / "session.json";
    writeFileAtomically(file, "old");
    AtomicWriteOptions privateFile;
    privateFile.mode = 0600;
    writeFileAtomically(file, "new content", privateFile);
    EXPECT_EQ(readFile(file), "new content");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(listDirectory(dir.path()).size(), 1u) << "no temporary file may remain";
}

TEST(FilesTest, WriteAbortedBeforeRenameLeavesOldFileWhole) {
    TempDir dir;
    const auto file = dir / "session.json";
    writeFileAtomically(file, "old and whole");
    AtomicWriteOptions options;
    options.beforeRename = [](const fs::path& temporary) {
        EXPECT_TRUE(fs::exists(temporary));
        throw std::runtime_error("power cut");
    };
    EXPECT_THROW(writeFileAtomically(file, "half", options), std::runtime_error);
    EXPECT_EQ(readFile(file), "old and whole");
    EXPECT_EQ(listDirectory(dir.path()).size(), 1u);
}

TEST(FilesTest, ProcessDyingBeforeRenameLeavesOldFileWhole) {
    TempDir dir;
    const auto file = dir / "session.json";
    writeFileAtomically(file, "old and whole");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AtomicWriteOptions options;
        options.beforeRename = [](const fs::path&) { ::_exit(0); };
        writeFileAtomically(file, "never seen", options);
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(readFile(file), "old and whole");
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

std::vector<fs::path> temporariesIn(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : listDirectory(folder))
        if (entry.filename().string().find(".tmp-") != std::string::npos)
            found.push_back(entry);
    return found;
}

void backdate(const fs::path& path, std::chrono::seconds by) {
    const fs::file_time_type modified = fs::last_write_time(path);
    fs::last_write_time(path, modified - by);
}

TEST(FilesTest, NewFilesAndFoldersArePrivateWhateverTheUmask) {
    TempDir dir;
    const mode_t previous = ::umask(0);
    writeFileAtomically(dir / "settings.json", "{}");
    appendToFile(dir / "log.jsonl", "{}\n");
    fs::create_directory(dir / "shared");
    fs::permissions(dir / "shared", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    createDirectories(dir / "shared/session/audio");
    ::umask(previous);

    EXPECT_EQ(modeOf(dir / "settings.json"), 0600u);
    EXPECT_EQ(modeOf(dir / "log.jsonl"), 0600u);
    EXPECT_EQ(modeOf(dir / "shared/session"), 0700u);
    EXPECT_EQ(modeOf(dir / "shared/session/audio"), 0700u);
    EXPECT_EQ(modeOf(dir / "shared"), 0750u) << "a folder that existed keeps its mode";
    EXPECT_NO_THROW(createDirectories(dir / "shared/session"));
    writeFileAtomically(dir / "file", "x");
    EXPECT_THROW(createDirectories(dir / "file/below"), std::system_error);
}

TEST(FilesTest, TemporaryLeftByADeadWriteIsRemovedWhenTheFolderIsNextWritten) {
    TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AtomicWriteOptions options;
        options.beforeRename = [](const fs::path&) { ::_exit(0); };
        writeFileAtomically(dir / "session.json", "never seen", options);
        ::_exit(1);
    }
    ::waitpid(child, nullptr, 0);
    const auto left = temporariesIn(dir.path());
    ASSERT_EQ(left.size(), 1u);

    writeFileAtomically(dir / "other.json", "1");
    EXPECT_EQ(temporariesIn(dir.path()), left) << "a temporary file this new may belong to a write starting";
    backdate(left[0], std::chrono::seconds(60));
    writeFileAtomically(dir / "other.json", "2");
    EXPECT_TRUE(temporariesIn(dir.path()).empty());
}

TEST(FilesTest, TemporaryOfAWriteInProgressIsKeptHoweverOld) {
    TempDir dir;
    AtomicWriteOptions slow;
    slow.beforeRename = [&](const fs::path& temporary) {
        backdate(temporary, std::chrono::hours(1));
        writeFileAtomically(dir / "other.json", "written meanwhile");
        EXPECT_TRUE(fs::exists(temporary));
    };
    writeFileAtomically(dir / "session.json", "slow but whole", slow);
    EXPECT_EQ(readFile(dir / "session.json"), "slow but whole");
    EXPECT_EQ(listDirectory(dir.path()).size(), 2u);
}

TEST(FilesTest, WriteIntoMissingFolderThrows) {
    TempDir dir;
    EXPECT_THROW(writeFileAtomically(dir / "missing/file.txt", "x"), std::system_error);
    EXPECT_FALSE(readFileIfPresent(dir / "missing/file.txt"));
}

TEST(FilesTest, BoundedReadRefusesWhatCouldStallOrSwampTheReader) {
    TempDir dir;
    writeFileAtomically(dir / "full", "12345");
    writeFileAtomically(dir / "over", "123456");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0); // no writer: a blocking open would hang
    fs::create_directory(dir / "folder");
    struct Case {
        const char* name;
        std::errc error; // {}: reads
    };
    const Case cases[] = {
        {"full", {}},
        {"over", std::errc::file_too_large},
        {"fifo", std::errc::invalid_argument},
        {"folder", std::errc::invalid_argument},
        {"missing", std::errc::no_such_file_or_directory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            EXPECT_EQ(readRegularFile(dir / c.name, 5), "12345");
            EXPECT_EQ(c.error, std::errc{});
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), std::make_error_code(c.error));
        }
    }
    // The unbounded reader and the bare open refuse the same entries, and as quickly.
    for (const char* name : {"fifo", "folder"}) {
        SCOPED_TRACE(name);
        for (const auto& read : std::vector<std::function<void()>>{[&] { readFile(dir / name); },
                                                                   [&] { openRegularFile(dir / name); }}) {
            try {
                read();
                ADD_FAILURE() << "read";
            } catch (const std::system_error& e) {
                EXPECT_EQ(e.code(), std::errc::invalid_argument);
            }
        }
        EXPECT_FALSE(readFileIfPresent(dir / name));
    }
}

TEST(FilesTest, AppendAddsLines) {
    TempDir dir;
    const auto file = dir / "log.jsonl";
    appendToFile(file, "{\"a\":1}\n");
    appendToFile(file, "{\"a\":2}\n");
    EXPECT_EQ(readFile(file), "{\"a\":1}\n{\"a\":2}\n");
}

// A line cut short by a write that died must not swallow the next one.
TEST(FilesTest, AppendedLinesStartOnTheirOwnLineAfterATornOne) {
    TempDir dir;
    const auto file = dir / "log.jsonl";
    appendLines(file, "{\"a\":1}\n");
    appendToFile(file, "{\"a\":");
    appendLines(file, "{\"a\":3}\n");
    appendLines(file, "{\"a\":4}\n");
    EXPECT_EQ(readFile(file), "{\"a\":1}\n{\"a\":\n{\"a\":3}\n{\"a\":4}\n");
}

TEST(FilesTest, LeadingLinesStopAtTheLastWholeLineWithinTheLimit) {
    TempDir dir;
    const auto file = dir / "ocr_context.jsonl";
    const std::string big(200000, 'x'); // more than one read block
    struct Case {
        std::string content;
        std::size_t limit;
        std::string text;
        bool cut;
    };
    const Case cases[] = {
        {"", 10, "", false},
        {"a\nb", 10, "a\nb", false},               // within the limit: the file as it stands
        {"a\nb\n", 4, "a\nb\n", false},            // exactly the limit
        {"a\nb\nc\n", 5, "a\nb\n", true},          // a line crossing the limit is left out
        {"a\nbcdef", 4, "a\n", true},              // so is an unfinished one
        {"abcdef\n", 3, "", true},                 // the first line alone is too long
        {"a\n" + big + "\nb\n", 100, "a\n", true}, // several read blocks
        {"a\n" + big, 0, "", true},
    };
    for (const Case& c : cases) {
        writeFileAtomically(file, c.content);
        const LeadingLines lines = readLeadingLines(file, c.limit);
        EXPECT_EQ(lines.text, c.text) << c.content.substr(0, 20) << " limit " << c.limit;
        EXPECT_EQ(lines.cut, c.cut) << c.content.substr(0, 20) << " limit " << c.limit;
    }
    EXPECT_THROW(readLeadingLines(dir / "missing.jsonl", 10), std::system_error);
}

TEST(FilesTest, LeadingLinesRefuseWhatIsNoRegularFileWithoutWaiting) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0); // no writer: a blocking open would hang
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "fifo", dir / "link");
    for (const char* name : {"fifo", "folder", "link"}) {
        try {
            readLeadingLines(dir / name, 10);
            ADD_FAILURE() << name << " was read";
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code(), std::errc::invalid_argument) << name;
        }
    }
}

// A FIFO with no reader would stall the writer for good; with one, the lines would go to it and
// be lost. Neither is written to, and a folder neither.
TEST(FilesTest, AppendingRefusesWhatIsNoRegularFileWithoutWaiting) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "read").c_str(), 0600), 0);
    const FileDescriptor reader(::open((dir / "read").c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_GE(reader.get(), 0);
    fs::create_directory(dir / "folder");
    struct Case {
        const char* name;
        std::errc toFile; // appendToFile opens for writing only: a FIFO without a reader is ENXIO
        std::errc lines;  // appendLines also reads the last byte: it opens any FIFO, then refuses it
    };
    const Case cases[] = {
        {"fifo", std::errc::no_such_device_or_address, std::errc::invalid_argument},
        {"read", std::errc::invalid_argument, std::errc::invalid_argument},
        {"folder", std::errc::is_a_directory, std::errc::is_a_directory},
    };
    const auto failure = [](const std::function<void()>& append) {
        try {
            append();
        } catch (const std::system_error& e) {
            return e.code();
        }
        return std::error_code();
    };
    for (const Case& c : cases) {
        EXPECT_EQ(failure([&] { appendToFile(dir / c.name, "line\n"); }), std::make_error_code(c.toFile))
            << c.name;
        EXPECT_EQ(failure([&] { appendLines(dir / c.name, "line\n"); }), std::make_error_code(c.lines))
            << c.name;
    }
    char byte;
    EXPECT_EQ(::read(reader.get(), &byte, 1), 0) << "nothing reached the FIFO's reader";
}

TEST(FilesTest, ListingWithAndWithoutHiddenEntries) {
    TempDir dir;
    writeFileAtomically(dir / "a.wav", "");
    writeFileAtomically(dir / ".hidden", "");
    fs::create_directory(dir / "sub");
    auto names = [](const std::vector<fs::path>& paths) {
        std::vector<std::string> out;
        for (const auto& p : paths)
            out.push_back(p.filename().string());
        std::sort(out.begin(), out.end());
        return out;
    };
    EXPECT_EQ(names(listDirectory(dir.path())), (std::vector<std::string>{".hidden", "a.wav", "sub"}));
    EXPECT_EQ(names(listDirectory(dir.path(), HiddenEntries::skip)),
              (std::vector<std::string>{"a.wav", "sub"}));
    EXPECT_TRUE(listDirectory(dir / "missing").empty());
}

TEST(FilesTest, ListingReportsAFolderItCannotRead) {
    TempDir dir;
    writeFileAtomically(dir / "a.wav", "");
    std::error_code error = std::make_error_code(std::errc::io_error);
    EXPECT_EQ(listDirectory(dir.path(), HiddenEntries::skip, error).size(), 1u);
    EXPECT_FALSE(error) << "a successful listing clears the error";

    fs::create_directory(dir / "empty");
    EXPECT_TRUE(listDirectory(dir / "empty", HiddenEntries::include, error).empty());
    EXPECT_FALSE(error);

    EXPECT_TRUE(listDirectory(dir / "missing", HiddenEntries::include, error).empty());
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_TRUE(listDirectory(dir / "a.wav", HiddenEntries::include, error).empty());
    EXPECT_EQ(error, std::errc::not_a_directory);
}

TEST(FilesTest, DatesOfFiles) {
    TempDir dir;
    const auto file = dir / "a.txt";
    const auto before = std::chrono::system_clock::now() - std::chrono::seconds(5);
    writeFileAtomically(file, "x");
    const auto created = creationDate(file);
    const auto modified = modificationDate(file);
    ASSERT_TRUE(created && modified);
    EXPECT_GT(*created, before);
    EXPECT_GE(*modified, *created);
    EXPECT_FALSE(creationDate(dir / "missing"));
}

TEST(AppFoldersTest, XdgVariablesAndFallbacks) {
    ScopedEnv home("HOME", "/home/tester");
    {
        ScopedEnv data("XDG_DATA_HOME", "/xdg/data");
        ScopedEnv cache("XDG_CACHE_HOME", "/xdg/cache");
        ScopedEnv config("XDG_CONFIG_HOME", "/xdg/config");
        EXPECT_EQ(applicationSupportDirectory(), fs::path("/xdg/data/Velnote"));
        EXPECT_EQ(cachesDirectory(), fs::path("/xdg/cache/Velnote"));
        EXPECT_EQ(configDirectory(), fs::path("/xdg/config/Velnote"));
    }
    ScopedEnv emptyData("XDG_DATA_HOME", "");
    ScopedEnv relativeCache("XDG_CACHE_HOME", "relative/cache");
    ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(applicationSupportDirectory(), fs::path("/home/tester/.local/share/Velnote"));
    EXPECT_EQ(cachesDirectory(), fs::path("/home/tester/.cache/Velnote"));
    EXPECT_EQ(configDirectory(), fs::path("/home/tester/.config/Velnote"));
    ScopedEnv tmp("TMPDIR", std::nullopt);
    EXPECT_EQ(temporaryDirectory(), fs::path("/tmp"));
}

TEST(AppFoldersTest, RequiredFoldersFailClearlyWithoutAHome) {
    const auto outcome = testing::checkWithoutHome([] {
        const auto failsNaming = [](const auto& folder, std::string_view variable) {
            try {
                folder();
            } catch (const NoHomeFolderError& e) {
                const std::string message = e.what();
                return message.find("HOME") != std::string::npos &&
                       message.find(variable) != std::string::npos;
            }
            return false;
        };
        return !homeDirectory() && !applicationSupportDirectory() &&
               failsNaming(requiredApplicationSupportDirectory, "XDG_DATA_HOME") &&
               failsNaming(requiredCachesDirectory, "XDG_CACHE_HOME") &&
               failsNaming(requiredConfigDirectory, "XDG_CONFIG_HOME");
    });
    if (!outcome)
        GTEST_SKIP() << "needs root to run as a user without a home folder";
    EXPECT_TRUE(*outcome);
    ScopedEnv data("XDG_DATA_HOME", "/xdg/data");
    EXPECT_EQ(requiredApplicationSupportDirectory(), fs::path("/xdg/data/Velnote"));
}

TEST(FileUrlTest, PercentEncodesAllButUnreservedAndSlash) {
    EXPECT_EQ(fileUrl("/tmp/a b/ス.jpg"), "file:///tmp/a%20b/%E3%82%B9.jpg");
    EXPECT_EQ(fileUrl("/x/A-z_0.~(1)"), "file:///x/A-z_0.~%281%29");
    EXPECT_EQ(fileUrl("rel.jpg"), fileUrl(fs::current_path() / "rel.jpg"));
}

} // namespace
} // namespace velnote::platform
