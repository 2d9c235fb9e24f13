#include "context/activity/inference/ActivityIntentInferenceService.h"
#include "platform/logging/Logger.h"
#include "support/ActivityFakes.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace velnote {
namespace {

using Context = ActivityIntentInferenceService::IntentContext;
using Result = ActivityIntentInferenceService::IntentResult;

TEST(ActivityIntentFallbacks, FollowTheKeywordRulesInTheirOwnOrder) {
    struct Case {
        const char* what;
        Context context;
        Result expected;
    };
    const Case cases[] = {
        {"empty", {}, {"Working", "Summarizing work"}},
        {"editing and trouble",
         {.descriptions = {"設定ファイルを編集", "エラーを確認"}},
         {"Editing", "Investigating and resolving an issue"}},
        {"creating", {.descriptions = {"資料を作成"}}, {"Creating", "Creating materials or code"}},
        {"researching", {.services = {"調査メモ"}}, {"Researching", "Gathering and reviewing information"}},
        {"trouble only",
         {.descriptions = {"問題を報告"}},
         {"Handling issue", "Investigating and resolving an issue"}},
        {"chat and editor",
         {.screenTypes = {"editor", "chat"}},
         {"Chatting", "Editing documents or code in an editor"}},
        {"browser", {.screenTypes = {"browser"}}, {"Browsing", "Working while browsing web pages"}},
        {"a log-file service",
         {.appName = "viewer", .services = {"activity_log.jsonl"}},
         {"Working in viewer", "Viewing or editing log files"}},
        {"screen type must match whole", {.screenTypes = {"chatroom"}}, {"Working", "Summarizing work"}},
        {"keywords are case-sensitive",
         {.appName = "x", .descriptions = {"CHAT"}},
         {"Working in x", "Working in x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ActivityIntentInferenceService::fallbackIntent(c.context), c.expected.intent);
        EXPECT_EQ(ActivityIntentInferenceService::fallbackPurpose(c.context), c.expected.purpose);
    }
}

TEST(ActivityIntentParse, ReadsTheFirstObjectAndFallsBackFieldByField) {
    const Context context{.screenTypes = {"browser"}};
    struct Case {
        const char* reply;
        Result expected;
    };
    const Case cases[] = {
        {R"(Sure! {"intent": "reading docs", "purpose": "learning the API"} Hope that helps.)",
         {"reading docs", "learning the API"}},
        {R"({"intent": "  reading docs \n"})", {"reading docs", "Working while browsing web pages"}},
        {R"({"intent": null, "purpose": "   "})", {"Browsing", "Working while browsing web pages"}},
        {"no object at all", {"Browsing", "Working while browsing web pages"}},
        {R"({"intent": 5, "purpose": "x"})", {"Browsing", "Working while browsing web pages"}},
        // A "}" inside a value cuts the object short, so it no longer decodes.
        {R"({"intent": "a}b", "purpose": "x"})", {"Browsing", "Working while browsing web pages"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(ActivityIntentInferenceService::parseJSON(c.reply, context), c.expected);
    }
}

TEST(ActivityIntentParse, LogsAnObjectThatDoesNotDecode) {
    platform::LogCapture logs;
    ActivityIntentInferenceService::parseJSON(R"({"intent": 5})", {});
    EXPECT_TRUE(logs.contains("parseJSON: decode failed: "));
}

TEST(ActivityIntentPrompt, ListsAppServicesTypesAndTheFirstSixDescriptions) {
    EXPECT_EQ(ActivityIntentInferenceService::prompt({}), "アプリ:  ()\n画面操作の説明:\n- ");
    Context context{.appName = "editor", .bundleID = "org.example.editor", .services = {"Docs", "Mail"}};
    for (int i = 1; i <= 8; ++i) {
        context.descriptions.push_back("d" + std::to_string(i));
    }
    EXPECT_EQ(ActivityIntentInferenceService::prompt(context),
              "アプリ: editor (org.example.editor)\nサービス: Docs, Mail\n画面操作の説明:\n- d1\n- d2\n- "
              "d3\n- d4\n- d5\n- d6");
    context.services.clear();
    context.screenTypes = {"editor"};
    context.descriptions.resize(1);
    EXPECT_EQ(ActivityIntentInferenceService::prompt(context),
              "アプリ: editor (org.example.editor)\n画面種別: editor\n画面操作の説明:\n- d1");
}

TEST(ActivityIntentInfer, AsksTheModelWithTheEnglishInstructions) {
    auto model = std::make_shared<testing::ScriptedModel>();
    ActivityIntentInferenceService service(model);
    EXPECT_EQ(service.infer({.appName = "editor"}), (Result{"coding", "writing code"}));
    ASSERT_EQ(model->prompts.size(), 1u);
    EXPECT_EQ(model->lastInstructions.substr(0, 56),
              "You are an assistant that infers the user's work intent.");
    EXPECT_NE(model->lastInstructions.find("\n\nExamples:\n"), std::string::npos);
    EXPECT_NE(model->lastInstructions.back(), '\n');
}

TEST(ActivityIntentInfer, FallsBackWhenTheModelIsMissingUnavailableOrFails) {
    const Context context{.screenTypes = {"chat"}};
    const Result fallback{"Chatting", "Having a chat or conversation"};
    EXPECT_EQ(ActivityIntentInferenceService(nullptr).infer(context), fallback);

    auto model = std::make_shared<testing::ScriptedModel>();
    model->available = false;
    EXPECT_EQ(ActivityIntentInferenceService(model).infer(context), fallback);
    EXPECT_TRUE(model->prompts.empty());

    model->available = true;
    model->answer = [](const std::string&, std::stop_token) -> std::string {
        throw std::runtime_error("boom");
    };
    platform::LogCapture logs;
    EXPECT_EQ(ActivityIntentInferenceService(model).infer(context), fallback);
    EXPECT_TRUE(logs.contains("ActivityEngine: Foundation Models inference failed: boom"));
}

} // namespace
} // namespace velnote
