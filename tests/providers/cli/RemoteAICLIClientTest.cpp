#include "providers/cli/RemoteAICLIClient.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/flavor/BuildFlavor.h"
#include "platform/logging/Logger.h"
#include "platform/process/ChildProcess.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/support/FakeTools.h"
#include "providers/support/ProviderTestEnvironment.h"

#include <csignal>
#include <future>
#include <gtest/gtest.h>

namespace velnote {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using Kind = RemoteAISummarizationError::Kind;
using testing::FakeTools;

template <class F> RemoteAISummarizationError errorOf(F&& call) {
    try {
        call();
    } catch (const RemoteAISummarizationError& e) {
        return e;
    }
    ADD_FAILURE() << "no RemoteAISummarizationError";
    return RemoteAISummarizationError::emptyResponse();
}

class RemoteAICLIClientTest : public ::testing::Test {
  protected:
    RemoteAICLIClientTest() : tools(env.dir()) { env.setSetting("additionalPATH", tools.bin().string()); }

    RemoteAICLIClient client(std::chrono::milliseconds limit = 10s, std::size_t outputLimit = 64 << 20) {
        auto environment = env.environment();
        environment.cliTimeLimit = limit;
        environment.cliOutputLimit = outputLimit;
        return RemoteAICLIClient(environment);
    }

    testing::ProviderTestEnvironment env;
    FakeTools tools;
};

TEST_F(RemoteAICLIClientTest, RunsAToolFromTheExtraPathWithItsArgumentsAndInput) {
    tools.write("claude", "echo '  the answer  '");
    EXPECT_EQ(client().runCLI("claude", {"--print", "", "two words"}, "line one\nline two"), "the answer");
    EXPECT_EQ(tools.args("claude"), (Args{"--print", "", "two words"}));
    EXPECT_EQ(tools.input("claude"), "line one\nline two");
    EXPECT_TRUE(tools.path("claude").starts_with(tools.bin().string() + ":"));

    // An absolute command runs without the PATH lookup.
    tools.write("agy", "echo direct", FakeTools::Input::ignored);
    EXPECT_EQ(client().runCLI((tools.bin() / "agy").string(), {"models"}, ""), "direct");
    EXPECT_EQ(tools.args("agy"), (Args{"models"}));
}

struct PathCase {
    std::string additional;
    std::string inherited;
    std::string expected;
};

TEST_F(RemoteAICLIClientTest, ThePathPutsTheExtraFoldersFirstAndEachFolderOnce) {
    const std::string fallback =
        "/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:/usr/local/sbin:/usr/bin:/bin:"
        "/usr/sbin:/sbin";
    const PathCase cases[] = {
        {.additional = "", .inherited = "/usr/bin:/bin:/opt/tools", .expected = fallback + ":/opt/tools"},
        {.additional = "/a::/b:/a", .inherited = "/b:/c", .expected = "/a:/b:/c"},
        {.additional = " /x ", .inherited = "", .expected = " /x "},
    };
    for (const auto& c : cases) {
        env.setSetting("additionalPATH", c.additional);
        testing::ScopedEnv path("PATH", c.inherited);
        EXPECT_EQ(client().buildEffectivePATH(), c.expected) << c.additional;
    }
}

TEST_F(RemoteAICLIClientTest, FailuresCarryTheToolsWords) {
    tools.write("claude", "echo partial; echo '  boom ' >&2; exit 2");
    auto error = errorOf([&] { client().runCLI("claude", {}, ""); });
    EXPECT_EQ(error.kind(), Kind::cliFailed);
    EXPECT_EQ(error.command(), "claude");
    EXPECT_EQ(error.status(), 2);
    EXPECT_EQ(error.standardError(), "boom");

    tools.write("claude", "printf '\\n \\n\\t\\n'");
    EXPECT_EQ(errorOf([&] { client().runCLI("claude", {}, ""); }).kind(), Kind::emptyResponse);

    error = errorOf([&] { client().runCLI("not-installed-tool", {}, ""); });
    EXPECT_EQ(error.status(), 127); // /usr/bin/env's own answer
    EXPECT_NE(error.standardError().find("not-installed-tool"), std::string::npos);

    EXPECT_THROW(client().runCLI("/nonexistent/claude", {}, ""), platform::ProcessLaunchError);
    // Without a command /usr/bin/env would print the environment as the answer.
    EXPECT_THROW(client().runCLI(" ", {}, ""), platform::ProcessLaunchError);

    // Tools that misbehave end the run with an error, never with an answer.
    struct Misbehaviour {
        std::string script;
        Kind kind;
        int status;
        std::string standardError;
    };
    const Misbehaviour cases[] = {
        {.script = "echo half; kill -SEGV $$",
         .kind = Kind::cliFailed,
         .status = SIGSEGV,
         .standardError = ""},
        {.script = "printf 'an \\377 answer'", .kind = Kind::emptyResponse, .status = 0, .standardError = ""},
        {.script = "yes flood",
         .kind = Kind::cliFailed,
         .status = SIGKILL,
         .standardError = "output larger than 65536 bytes"},
    };
    for (const auto& c : cases) {
        tools.write("claude", c.script, FakeTools::Input::ignored);
        const auto failure = errorOf([&] { client(10s, 65536).runCLI("claude", {}, ""); });
        EXPECT_EQ(failure.kind(), c.kind) << c.script;
        EXPECT_EQ(failure.status(), c.status) << c.script;
        EXPECT_EQ(failure.standardError(), c.standardError) << c.script;
    }
}

TEST_F(RemoteAICLIClientTest, KeepsEveryByteOfAToolThatFloodsBothStreams) {
    tools.write("claude",
                "head -c 204800 /dev/zero | tr '\\0' o & head -c 204800 /dev/zero | tr '\\0' e >&2; wait");
    EXPECT_EQ(client().runCLI("claude", {}, std::string(300 * 1024, 'i')), std::string(204800, 'o'));
    EXPECT_EQ(tools.input("claude").size(), 300u * 1024);
}

TEST_F(RemoteAICLIClientTest, AToolPastItsLimitIsKilledEvenWhenItIgnoresTermAndNeverReadsItsInput) {
    tools.write("claude", "trap '' TERM; echo 'still thinking' >&2; sleep 30; sleep 30",
                FakeTools::Input::ignored);
    platform::LogCapture logs;
    const auto start = std::chrono::steady_clock::now();
    // 4 MiB of input the tool never reads: the writer must not hold the run past the limit.
    const auto error = errorOf([&] { client(300ms).runCLI("claude", {}, std::string(4 << 20, 'x')); });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error.kind(), Kind::cliTimeout);
    EXPECT_EQ(error.standardError(), "still thinking");
    EXPECT_EQ(error.what(), std::string("CLI がタイムアウトしました: claude"));
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 5s);
    EXPECT_TRUE(logs.contains("CLI timed out after 0.3s: claude"));
}

TEST_F(RemoteAICLIClientTest, AStopKillsTheToolAndEndsTheRun) {
    tools.write("claude", "echo $$ > '" + (env.dir() / "pid").string() + "'; exec sleep 30",
                FakeTools::Input::ignored);
    std::stop_source stop;
    auto run =
        std::async(std::launch::async, [&] { return client().runCLI("claude", {}, "", stop.get_token()); });
    while (!std::filesystem::exists(env.dir() / "pid") || std::filesystem::file_size(env.dir() / "pid") == 0)
        std::this_thread::sleep_for(5ms);
    stop.request_stop();
    EXPECT_THROW(run.get(), platform::CancellationError);
}

TEST_F(RemoteAICLIClientTest, AClaudeSummaryReadsThePromptFromInputAndTheResultFromJson) {
    tools.write("claude", R"(echo '{"type":"result","is_error":false,"result":"  the summary  "}')");
    env.setSetting("claudeCLICommand", "  ");
    const auto config =
        CLISummarizationConfig::forProvider(SummaryProvider::claudeCLI, std::nullopt, std::nullopt,
                                            "  opus extra ", "Summarise.", "the transcript");
    EXPECT_EQ(client().cliSummarization(config), "  the summary  ");
    EXPECT_EQ(tools.args("claude"), (Args{"--print", "-p", "-", "--allowedTools", "", "--output-format",
                                          "json", "--model", "opus"}));
    EXPECT_EQ(tools.input("claude"), "Summarise.\n\nthe transcript");

    tools.write("claude", R"(echo '{"is_error":true}')");
    const auto error = errorOf([&] { client().cliSummarization(config); });
    EXPECT_EQ(error.status(), 1);
    EXPECT_EQ(error.standardError(), "claude CLI reported an error with no result text");
}

TEST_F(RemoteAICLIClientTest, ACopilotSummaryMigratesTheLegacyArgumentsOnlyWhenAskedTo) {
    tools.write("copilot", "echo summary", FakeTools::Input::ignored);
    env.setSetting("copilotCLIArgs", "chat --stdin");
    auto config = CLISummarizationConfig::forProvider(SummaryProvider::copilotCLI, std::nullopt,
                                                      "chat --stdin", std::nullopt, "P", "T");
    EXPECT_FALSE(config.shouldPersistMigration);
    EXPECT_EQ(client().cliSummarization(config), "summary");
    EXPECT_EQ(tools.args("copilot"), (Args{"-p", "P\n\nT", "-s", "--allow-all-tools"}));
    EXPECT_EQ(env.setting("copilotCLIArgs"), "chat --stdin");

    config.shouldPersistMigration = true;
    client().cliSummarization(config);
    EXPECT_EQ(env.setting("copilotCLIArgs"), "-p {prompt} -s --allow-all-tools");
}

// A "\u0000" in screen text, a note or a setting becomes a NUL byte, and an argument or an
// environment entry ends at its first one: the text after it must still reach the tool.
TEST_F(RemoteAICLIClientTest, NulBytesInThePromptTheModelAndThePathAreDroppedAndTheRestArrives) {
    using namespace std::string_literals;
    const std::string bin = tools.bin().string();
    env.setSetting("additionalPATH", bin.substr(0, 1) + "\0"s + bin.substr(1));
    tools.write("agy", "echo summary", FakeTools::Input::ignored);
    const auto config =
        CLISummarizationConfig::forProvider(SummaryProvider::antigravityCLI, std::nullopt, std::nullopt,
                                            "gem\0ini"s, "Summarise.", "before\0after\0"s);
    EXPECT_EQ(client().cliSummarization(config), "summary");
    EXPECT_EQ(tools.args("agy"), (Args{"-p", "Summarise.\n\nbeforeafter", "--dangerously-skip-permissions",
                                       "--model", "gemini"}));
    EXPECT_TRUE(tools.path("agy").starts_with(bin + ":"));

    // A command with a NUL names no tool: it is refused, not cut short to another name.
    try {
        client().runCLI("cl\0aude"s, {}, "");
        ADD_FAILURE() << "launched";
    } catch (const platform::ProcessLaunchError& e) {
        EXPECT_EQ(e.code().value(), EINVAL);
    }
}

TEST_F(RemoteAICLIClientTest, TheStoreFlavourStartsNoTool) {
    tools.write("agy", "echo no", FakeTools::Input::ignored);
    const auto restore = BuildFlavor::testOverride();
    BuildFlavor::setTestOverride(BuildFlavorType::appStore);
    const auto config = CLISummarizationConfig::forProvider(SummaryProvider::antigravityCLI, std::nullopt,
                                                            std::nullopt, std::nullopt, "P", "T");
    const auto error = errorOf([&] { client().cliSummarization(config); });
    BuildFlavor::setTestOverride(restore);
    EXPECT_EQ(error.kind(), Kind::cliUnavailableInAppStore);
    EXPECT_EQ(error.detail(), "antigravity_cli");
    EXPECT_FALSE(tools.ran("agy"));
}

struct ArgsCase {
    std::optional<std::string> raw;
    std::optional<std::string> model;
    Args expected;
};

TEST_F(RemoteAICLIClientTest, BuildsTheCopilotArguments) {
    const ArgsCase cases[] = {
        {.raw = "--yolo", .model = std::nullopt, .expected = {"--yolo", "-p", "P", "-s"}},
        {.raw = std::nullopt,
         .model = "  gpt-4o mini ",
         .expected = {"-p", "P", "-s", "--allow-all-tools", "--model", "gpt-4o"}},
        {.raw = "", .model = "  ", .expected = {"-p", "P", "-s", "--allow-all-tools"}},
        {.raw = "--prompt {prompt} --allow-all-tools --output-format text --silent --no-custom-instructions",
         .model = std::nullopt,
         .expected = {"--prompt", "P", "--allow-all-tools", "--output-format", "text", "--silent",
                      "--no-custom-instructions", "-s"}},
        {.raw = "P --allow-all --stream -M x",
         .model = "gpt",
         .expected = {"P", "--allow-all", "--stream", "-M", "x"}},
        {.raw = "--foo --stdin",
         .model = "gpt",
         .expected = {"-p", "P", "-s", "--allow-all-tools", "--model", "gpt"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(client().normalizedCopilotCLIArgs(c.raw, "P", c.model, false), c.expected)
            << c.raw.value_or("-");
}

TEST_F(RemoteAICLIClientTest, BuildsTheClaudeAndAntigravityArguments) {
    EXPECT_EQ(
        RemoteAICLIClient::normalizedClaudeCLIArgs("--print -P --AllowedTools Read --Model x", "sonnet"),
        (Args{"--print", "-P", "--AllowedTools", "Read", "--Model", "x", "-p", "-", "--output-format",
              "json"}));
    EXPECT_EQ(RemoteAICLIClient::normalizedClaudeCLIArgs("", std::nullopt),
              (Args{"-p", "-", "--allowedTools", "", "--output-format", "json"}));
    EXPECT_EQ(RemoteAICLIClient::normalizedAntigravityCLIArgs("", "P", std::nullopt),
              (Args{"-p", "P", "--dangerously-skip-permissions"}));
    EXPECT_EQ(RemoteAICLIClient::normalizedAntigravityCLIArgs(std::nullopt, "P", "gemini-2.5 pro"),
              (Args{"-p", "P", "--dangerously-skip-permissions", "--model", "gemini-2.5"}));
    EXPECT_EQ(
        RemoteAICLIClient::normalizedAntigravityCLIArgs("--approval-mode yolo {prompt}", "P", std::nullopt),
        (Args{"--approval-mode", "yolo", "P"}));
}

TEST_F(RemoteAICLIClientTest, ReadsTheClaudeJsonResult) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain text answer", "plain text answer"},
        {R"(["a"])", R"(["a"])"},
        {R"({"result":"  "})", R"({"result":"  "})"},
        {R"({"result":" x ","structured_output":{"title":"T","sections":[]}})",
         R"({"sections":[],"title":"T"})"},
        {R"({"result":" x ","structured_output":"bare"})", " x "},
        {R"({"result":" x ","structured_output":null})", " x "},
        {R"({"is_error":"true","result":"r"})", "r"},
    };
    platform::LogCapture logs;
    for (const auto& [output, summary] : cases)
        EXPECT_EQ(RemoteAICLIClient::parseClaudeCLIJSONOutput(output, "claude"), summary) << output;
    EXPECT_TRUE(logs.contains("failed to parse claude CLI JSON output"));
    EXPECT_EQ(errorOf([] {
                  RemoteAICLIClient::parseClaudeCLIJSONOutput(
                      R"({"is_error":true,"result":"quota exceeded"})", "claude");
              }).standardError(),
              "quota exceeded");
}

// The Copilot JSON stream.

TEST_F(RemoteAICLIClientTest, AStreamCollectsMessagesUntilTheResultAndThenKillsTheTool) {
    tools.write("copilot", R"(
echo '{"type":"session.start","data":{}}'
echo '{"type":"assistant.message","data":{"content":"Hello"}}'
echo '{"type":"assistant.message","data":{"content":""}}'
echo '{"type":"assistant.message","data":{"content":"World"}}'
echo '{"type":"result","sessionId":"abc","data":{"sessionId":"not-this"}}'
sleep 30)");
    const auto start = std::chrono::steady_clock::now();
    const auto reply = client().runCopilotJSONStream("copilot", {"--output-format", "json"}, "the prompt");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(reply.text, "Hello\nWorld");
    EXPECT_EQ(reply.sessionID, "abc");
    EXPECT_EQ(tools.input("copilot"), "the prompt");
}

TEST_F(RemoteAICLIClientTest, AStreamOfIncrementsAnswersWithItsLinesAndAssemblesSplitCharacters) {
    // The second event is cut inside "会" (E4 BC 9A) and again inside its line.
    tools.write("copilot", R"(
printf '{"type":"assistant.message_delta","data":{"deltaContent":"Hi "}}\n{"type":"assistant.message_delta",'
sleep 0.1
printf '"data":{"deltaContent":"\344\274'
sleep 0.1
printf '\232議"}}\nnot json at all\n'
echo '{"type":"result"}'
printf '{"type":"assistant.message","data":{"content":"after the end"}}')");
    std::vector<std::string> deltas;
    platform::LogCapture logs;
    const auto reply = client().runCopilotJSONStream(
        "copilot", {}, "", [&](const std::string& delta) { deltas.push_back(delta); });
    EXPECT_EQ(deltas, (Args{"Hi ", "会議"}));
    EXPECT_EQ(reply.text, "{\"type\":\"assistant.message_delta\",\"data\":{\"deltaContent\":\"Hi \"}}\n"
                          "{\"type\":\"assistant.message_delta\",\"data\":{\"deltaContent\":\"会議\"}}\n"
                          "not json at all\n{\"type\":\"result\"}");
    EXPECT_EQ(reply.sessionID, "");
    EXPECT_TRUE(logs.contains("cannot parse a Copilot stream line"));
}

TEST_F(RemoteAICLIClientTest, AStreamThatEndsWithoutAResultChecksTheExitStatus) {
    tools.write(
        "copilot",
        R"(echo '{"type":"assistant.message","data":{"content":"half"}}'; echo 'auth failed' >&2; exit 1)");
    const auto error = errorOf([&] { client().runCopilotJSONStream("copilot", {}, ""); });
    EXPECT_EQ(error.kind(), Kind::cliFailed);
    EXPECT_EQ(error.status(), 1);
    EXPECT_EQ(error.standardError(), "auth failed");

    tools.write("copilot", "exit 0");
    EXPECT_EQ(errorOf([&] { client().runCopilotJSONStream("copilot", {}, ""); }).kind(), Kind::emptyResponse);

    // One endless line: the tool is killed once it passes the output limit.
    tools.write("copilot", "tr '\\0' x < /dev/zero", FakeTools::Input::ignored);
    const auto flood = errorOf([&] { client(10s, 65536).runCopilotJSONStream("copilot", {}, ""); });
    EXPECT_EQ(flood.kind(), Kind::cliFailed);
    EXPECT_EQ(flood.standardError(), "output larger than 65536 bytes");

    // The last line without a line break is not read.
    tools.write("copilot", R"(echo '{"type":"assistant.message","data":{"content":"kept"}}'
printf '{"type":"assistant.message","data":{"content":"lost"}}')");
    EXPECT_EQ(client().runCopilotJSONStream("copilot", {}, "").text, "kept");
}

TEST_F(RemoteAICLIClientTest, AStreamPastItsLimitEndsWithWhatCame) {
    tools.write("copilot", R"(trap '' TERM
echo '{"type":"assistant.message","data":{"content":"so far"}}'
sleep 30; sleep 30)",
                FakeTools::Input::ignored);
    const auto start = std::chrono::steady_clock::now();
    // Killed by SIGKILL: a status other than 0 before any result.
    const auto error = errorOf([&] { client(300ms).runCopilotJSONStream("copilot", {}, ""); });
    EXPECT_EQ(error.kind(), Kind::cliFailed);
    EXPECT_EQ(error.status(), 9);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

} // namespace
} // namespace velnote
