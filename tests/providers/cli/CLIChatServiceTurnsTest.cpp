#include "platform/flavor/BuildFlavor.h"
#include "providers/cli/CLIChatService.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/support/FakeTools.h"
#include "providers/support/ProviderTestEnvironment.h"

#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using testing::FakeTools;

class CLIChatServiceTest : public ::testing::Test {
  protected:
    CLIChatServiceTest() : tools(env.dir()) { env.setSetting("additionalPATH", tools.bin().string()); }

    CLIChatService service(CLISessionSlots slots = {}) {
        return CLIChatService(env.environment(), std::move(slots));
    }

    testing::ProviderTestEnvironment env;
    FakeTools tools;
};

TEST_F(CLIChatServiceTest, TheStoreFlavourRefusesEveryTool) {
    const auto restore = BuildFlavor::testOverride();
    BuildFlavor::setTestOverride(BuildFlavorType::appStore);
    std::vector<std::string> refused;
    const auto chat = service();
    const std::function<void()> turns[] = {
        [&] { chat.runClaudeCLIForChat("p", std::nullopt, std::nullopt, false); },
        [&] { chat.runCopilotCLIForChat("p", std::nullopt, std::nullopt, false); },
        [&] { chat.runAntigravityCLIForChat("p", std::nullopt, std::nullopt, false); },
    };
    for (const auto& turn : turns) {
        try {
            turn();
        } catch (const RemoteAISummarizationError& e) {
            EXPECT_EQ(e.kind(), RemoteAISummarizationError::Kind::cliUnavailableInAppStore);
            refused.push_back(e.detail());
        }
    }
    BuildFlavor::setTestOverride(restore);
    EXPECT_EQ(refused, (Args{"claude_cli", "copilot_cli", "antigravity_cli"}));
}

TEST_F(CLIChatServiceTest, AClaudeTurnResumesWithTheWholeModelAndReadsTheSessionId) {
    tools.write("claude", R"(echo '{"type":"result","result":" x ","session_id":"s1"}')");
    env.setSetting("claudeCLICommand", " \t ");
    const auto reply = service().runClaudeCLIForChat("the prompt", "abc", "  sonnet with a remark ", false);
    EXPECT_EQ(reply.text, " x ");
    EXPECT_EQ(reply.sessionID, "s1");
    EXPECT_EQ(tools.args("claude"), (Args{"--print", "--output-format", "json", "-p", "-", "--resume", "abc",
                                          "--model", "sonnet with a remark"}));
    EXPECT_EQ(tools.input("claude"), "the prompt");

    tools.write("claude", R"(echo '{"result":"only"}')");
    const auto partial = service().runClaudeCLIForChat("p", "", std::nullopt, false);
    EXPECT_EQ(partial.text, R"({"result":"only"})");
    EXPECT_EQ(partial.sessionID, "");
    EXPECT_EQ(tools.args("claude"), (Args{"--print", "--output-format", "json", "-p", "-"}));
}

TEST_F(CLIChatServiceTest, ACopilotTurnStreamsAndResumesWithOneArgument) {
    tools.write("copilot", R"(echo '{"type":"assistant.message_delta","data":{"deltaContent":"par"}}'
echo '{"type":"assistant.message","data":{"content":"partial answer"}}'
echo '{"type":"result","sessionId":"s2"}')");
    env.setSetting("copilotCLIUseACP", true); // no session is running: the tool runs once anyway
    Args deltas;
    const auto reply = service().runCopilotCLIForChat("the prompt", "s1", "gpt-4o mini", true,
                                                      [&](const std::string& d) { deltas.push_back(d); });
    EXPECT_EQ(reply.text, "partial answer");
    EXPECT_EQ(reply.sessionID, "s2");
    EXPECT_EQ(deltas, Args{"par"});
    EXPECT_EQ(tools.args("copilot"), (Args{"--output-format", "json", "--allow-all-tools", "--resume=s1",
                                           "--model", "gpt-4o mini"}));
    EXPECT_EQ(tools.input("copilot"), "the prompt");
}

TEST_F(CLIChatServiceTest, AnAntigravityTurnPassesThePromptAsAnArgument) {
    tools.write("agy", "echo ' the answer '", FakeTools::Input::ignored);
    const auto reply = service().runAntigravityCLIForChat("the prompt", "ignored", "gemini-pro fast", false);
    EXPECT_EQ(reply.text, "the answer");
    EXPECT_EQ(reply.sessionID, "");
    EXPECT_EQ(tools.args("agy"),
              (Args{"-p", "the prompt", "--dangerously-skip-permissions", "--model", "gemini-pro"}));
    env.setSetting("antigravityCLIArgs", "");
    service().runAntigravityCLIForChat("P", std::nullopt, std::nullopt, false);
    EXPECT_EQ(tools.args("agy"), (Args{"-p", "P", "--dangerously-skip-permissions"}));
}

TEST_F(CLIChatServiceTest, ARunningSessionInTheSlotTakesTheTurn) {
    tools.write("claude", R"(while IFS= read -r line; do
  echo '{"type":"assistant","message":{"content":[{"type":"text","text":"from the session"}]}}'
  echo '{"type":"result","is_error":false,"result":""}'
done)",
                FakeTools::Input::ignored);
    auto session = std::make_shared<CLIPersistentSession>(5s);
    session->start("claude", {}, tools.bin().string() + ":/usr/bin:/bin");
    const auto chat = service(CLISessionSlots{
        .claude = nullptr, .claudeChat = session, .copilot = nullptr, .copilotChat = nullptr});
    const auto reply = chat.runClaudeCLIForChat("p", "abc", std::nullopt, true);
    EXPECT_EQ(reply.text, "from the session");
    EXPECT_EQ(reply.sessionID, "");
}

} // namespace
} // namespace velnote
