#include "speech/live/SpeechAuthorization.h"

#include "speech/live/OnceResume.h"

#include <gtest/gtest.h>
#include <thread>

namespace velnote {
namespace {

using Status = platform::SpeechAuthorizationStatus;

// Answers a request from another thread when told to, like a permission dialog.
class LateAuthorizer final : public platform::SpeechAuthorizer {
  public:
    explicit LateAuthorizer(Status status) : status_(status) {}
    ~LateAuthorizer() override {
        if (answering_.joinable()) {
            answering_.join();
        }
    }
    Status status() const override { return status_; }
    void requestAuthorization(std::function<void(Status)> completion) override {
        ++requests;
        completion_ = std::move(completion);
        requested_.set_value();
    }
    void waitForRequest() { requested_.get_future().wait(); }
    void answerFromAnotherThread(Status answer) {
        answering_ = std::thread([this, answer] { completion_(answer); });
    }
    int requests = 0;

  private:
    Status status_;
    std::promise<void> requested_;
    std::function<void(Status)> completion_;
    std::thread answering_;
};

TEST(SpeechAuthorizationTest, ADecidedStatusAsksNothing) {
    for (const auto& [status, expected] : std::vector<std::pair<Status, bool>>{
             {Status::authorized, true}, {Status::denied, false}, {Status::restricted, false}}) {
        LateAuthorizer authorizer(status);
        EXPECT_EQ(ensureSpeechAuthorization(authorizer), expected);
        EXPECT_EQ(authorizer.requests, 0);
    }
    platform::SystemSpeechAuthorizer system;
    EXPECT_TRUE(ensureSpeechAuthorization(system));
}

TEST(SpeechAuthorizationTest, AnUndecidedStatusWaitsForTheAnswer) {
    for (const auto& [answer, expected] :
         std::vector<std::pair<Status, bool>>{{Status::authorized, true}, {Status::denied, false}}) {
        LateAuthorizer authorizer(Status::notDetermined);
        auto waiting = std::async(std::launch::async, [&] { return ensureSpeechAuthorization(authorizer); });
        authorizer.waitForRequest();
        authorizer.answerFromAnotherThread(answer);
        EXPECT_EQ(waiting.get(), expected);
        EXPECT_EQ(authorizer.requests, 1);
    }
}

TEST(SpeechAuthorizationTest, AStopResumesOnceAndTheLateAnswerIsIgnored) {
    LateAuthorizer authorizer(Status::notDetermined);
    std::stop_source stop;
    auto waiting = std::async(std::launch::async,
                              [&] { return ensureSpeechAuthorization(authorizer, stop.get_token()); });
    authorizer.waitForRequest();
    stop.request_stop();
    EXPECT_FALSE(waiting.get());
    // The dialog answers after the caller has gone: the answer finds the caller resumed already.
    authorizer.answerFromAnotherThread(Status::authorized);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_FALSE(ensureSpeechAuthorization(authorizer, stopped.get_token()));
}

TEST(OnceResumeTest, OnlyTheFirstResumeDelivers) {
    OnceResume<bool> guard;
    auto waiter = guard.waiter();
    std::vector<std::thread> parties;
    std::atomic<int> delivered{0};
    for (int i = 0; i < 8; ++i) {
        parties.emplace_back([&, i] { delivered += guard.resume(i % 2 == 0) ? 1 : 0; });
    }
    for (auto& party : parties) {
        party.join();
    }
    EXPECT_EQ(delivered.load(), 1);
    EXPECT_NO_THROW(waiter.get());
}

} // namespace
} // namespace velnote
