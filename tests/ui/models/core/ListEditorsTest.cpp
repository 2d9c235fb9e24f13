#include "platform/concurrency/ManualClock.h"
#include "support/InlineExecutor.h"
#include "support/TempDir.h"
#include "ui/models/core/HallucinationFilterEditor.h"
#include "ui/models/core/UserDictionaryEditor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> phrasesOf(const std::vector<HallucinationFilterEntry>& entries) {
    std::vector<std::string> phrases;
    for (const auto& entry : entries)
        phrases.push_back(entry.phrase);
    return phrases;
}

class ListEditorsTest : public ::testing::Test {
  protected:
    ListEditorsTest() {
        observation_ = settings_.observe([this](const std::string& key) { ++writes_[key]; });
    }

    // Moves the clock and runs what came due on the main thread.
    void wait(platform::Clock::Duration by) {
        clock_.advance(by);
        main_.runPending();
    }
    int writesOf(const std::string& key) { return writes_[key]; }

    testing::TempDir dir_;
    platform::SettingsStore settings_{dir_ / "settings.json"};
    platform::ManualClock clock_;
    platform::TimerScheduler timers_{clock_};
    platform::MainDispatcher main_;
    testing::InlineExecutor background_;
    ListEditorDependencies dependencies_{.timers = &timers_, .main = &main_, .background = &background_};
    std::map<std::string, int> writes_;
    platform::ObserverToken observation_;
};

TEST_F(ListEditorsTest, TypingInBurstsWritesOnceHalfASecondAfterTheLastLetter) {
    HallucinationFilterEditor editor(&settings_, dependencies_);
    editor.addEntry();
    const platform::Uuid id = editor.entries().back().id;
    std::string typed;
    for (const char letter : std::string("Bye")) {
        wait(400ms);
        typed += letter;
        editor.setPhrase(id, typed);
    }
    wait(499ms);
    EXPECT_EQ(writesOf(HallucinationFilterStore::settingsKey), 0);
    wait(1ms);
    EXPECT_EQ(writesOf(HallucinationFilterStore::settingsKey), 1);
    EXPECT_EQ(HallucinationFilterStore::loadEntries(settings_).back().phrase, "Bye");
    wait(5s);
    EXPECT_EQ(writesOf(HallucinationFilterStore::settingsKey), 1);
}

TEST_F(ListEditorsTest, ChangesToTwoEntriesWithinTheDelayAreStoredTogether) {
    HallucinationFilterEditor editor(&settings_, dependencies_); // the built-in list: nothing stored
    ASSERT_EQ(editor.entries().size(), 4U);
    const auto first = editor.entries()[0].id;
    const auto second = editor.entries()[1].id;
    editor.setEnabled(first, false);
    wait(300ms);
    editor.setPhrase(second, " padded ");
    editor.setEnabled(second, true); // unchanged: no new save
    wait(500ms);
    EXPECT_EQ(writesOf(HallucinationFilterStore::settingsKey), 1);
    const auto stored = HallucinationFilterStore::loadEntries(settings_);
    EXPECT_FALSE(stored[0].isEnabled);
    EXPECT_EQ(stored[1].phrase, " padded ") << "stored exactly as typed";
    EXPECT_EQ(stored, editor.entries());
}

TEST_F(ListEditorsTest, AddResetAndDeleteEveryEntry) {
    HallucinationFilterEditor editor(&settings_, dependencies_);
    editor.addEntry();
    EXPECT_EQ(editor.entries().back().phrase, "");
    EXPECT_TRUE(editor.entries().back().isEnabled);
    const auto userId = editor.entries().back().id;
    editor.setPhrase(userId, "mine");

    const auto before = editor.entries();
    editor.resetToDefault();
    EXPECT_THAT(phrasesOf(editor.entries()),
                ::testing::ElementsAre("Thanks for watching", "Thank you", "Please subscribe",
                                       "Subtitles are auto-generated"));
    EXPECT_NE(editor.entries()[0].id, before[0].id) << "fresh identifiers";
    wait(500ms);
    EXPECT_EQ(phrasesOf(HallucinationFilterStore::loadEntries(settings_)), phrasesOf(editor.entries()));

    while (!editor.entries().empty())
        editor.deleteEntry(editor.entries().front().id);
    wait(500ms);
    EXPECT_THAT(HallucinationFilterEditor(&settings_, dependencies_).entries(), ::testing::IsEmpty())
        << "an empty list stays empty at the next launch, not the built-in list";
}

// A NUL byte, broken UTF-8 and a list of thousands survive the file: a new store reads them back.
TEST_F(ListEditorsTest, OddPhrasesAndALongListAreReadBackFromTheFile) {
    HallucinationFilterEditor editor(&settings_, dependencies_);
    std::vector<std::string> expected = phrasesOf(editor.entries());
    const std::size_t first = expected.size();
    std::vector<std::string> phrases = {std::string("a\0b", 3), "caf\xC3\xA9 \xFF"};
    for (int i = 0; i < 5000; ++i)
        phrases.push_back("phrase " + std::to_string(i));
    for (const std::string& phrase : phrases) {
        editor.addEntry();
        editor.setPhrase(editor.entries().back().id, phrase);
    }
    wait(500ms);
    expected.insert(expected.end(), phrases.begin(), phrases.end());
    expected[first + 1] = "caf\xC3\xA9 \xEF\xBF\xBD"; // written as U+FFFD
    platform::SettingsStore reread(dir_ / "settings.json");
    EXPECT_EQ(phrasesOf(HallucinationFilterStore::loadEntries(reread)), expected);
}

TEST_F(ListEditorsTest, TheListIsReadOnceWhenTheEditorIsMade) {
    UserDictionaryEditor editor(&settings_, dependencies_);
    EXPECT_THAT(editor.entries(), ::testing::IsEmpty());
    UserDictionaryStore::saveEntries({{platform::Uuid::random(), "a", "b"}}, settings_);
    EXPECT_THAT(editor.entries(), ::testing::IsEmpty()) << "another writer is not seen";
}

TEST_F(ListEditorsTest, DictionaryPairsAreStoredAsTypedIncludingEmptySides) {
    UserDictionaryEditor editor(&settings_, dependencies_);
    editor.addEntry();
    editor.addEntry();
    const auto id = editor.entries()[0].id;
    editor.setWrong(id, "ベルノート");
    wait(200ms);
    editor.setCorrect(id, "Velnote");
    wait(500ms);
    EXPECT_EQ(writesOf(UserDictionaryStore::settingsKey), 1);
    const auto stored = UserDictionaryStore::loadEntries(settings_);
    ASSERT_EQ(stored.size(), 2U);
    EXPECT_EQ(stored[0].wrong, "ベルノート");
    EXPECT_EQ(stored[0].correct, "Velnote");
    EXPECT_EQ(stored[1].wrong, "");
    EXPECT_EQ(stored[1].correct, "");

    editor.deleteEntry(stored[1].id);
    editor.deleteEntry(platform::Uuid::random()); // unknown: the list stays
    wait(500ms);
    EXPECT_EQ(UserDictionaryStore::loadEntries(settings_).size(), 1U);
}

TEST_F(ListEditorsTest, AnEditMadeJustBeforeQuittingIsWrittenByTheFlush) {
    UserDictionaryEditor editor(&settings_, dependencies_);
    editor.flushPendingSave();
    EXPECT_EQ(writesOf(UserDictionaryStore::settingsKey), 0) << "nothing changed, nothing written";

    editor.addEntry();
    editor.setWrong(editor.entries()[0].id, "last");
    EXPECT_TRUE(editor.hasPendingSave());
    editor.flushPendingSave();
    EXPECT_FALSE(editor.hasPendingSave());
    EXPECT_EQ(UserDictionaryStore::loadEntries(settings_).at(0).wrong, "last");
    wait(1s);
    EXPECT_EQ(writesOf(UserDictionaryStore::settingsKey), 1) << "the cancelled save does not write again";
}

TEST_F(ListEditorsTest, AWriteThatStartsLateNeverReplacesANewerList) {
    // Writes queue on an executor the test runs by hand, so the older one can run last.
    std::vector<platform::Job> queued;
    class Queue final : public platform::Executor {
      public:
        explicit Queue(std::vector<platform::Job>& jobs) : jobs_(jobs) {}
        void post(platform::Job job) override { jobs_.push_back(std::move(job)); }

      private:
        std::vector<platform::Job>& jobs_;
    } queue(queued);
    auto dependencies = dependencies_;
    dependencies.background = &queue;
    UserDictionaryEditor editor(&settings_, dependencies);
    editor.addEntry();
    editor.setWrong(editor.entries()[0].id, "old");
    wait(500ms);
    editor.setWrong(editor.entries()[0].id, "new");
    wait(500ms);
    ASSERT_EQ(queued.size(), 2U);
    queued[1]();
    queued[0]();
    EXPECT_EQ(UserDictionaryStore::loadEntries(settings_).at(0).wrong, "new");
}

} // namespace
} // namespace velnote
