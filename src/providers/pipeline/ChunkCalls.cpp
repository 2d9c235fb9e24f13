#include "providers/pipeline/ChunkCalls.h"

#include "platform/concurrency/CancellationError.h"
#include "platform/concurrency/StoppableSleep.h"
#include "providers/chat/RemoteAIHTTPClient.h"
#include "providers/cli/RemoteAICLIClient.h"
#include "providers/core/RemoteAISummarizationError.h"
#include "providers/ondevice/AppleFoundationModelService.h"
#include "session/VelnoteLogger.h"

#include <chrono>

namespace velnote::RemoteAIChunkingPipeline {

SummarizeChunkRequest SummarizeChunkRequest::from(const SummarizationRequest& request) {
    return {.provider = request.provider,
            .providerModel = request.providerModel,
            .providerBaseURL = request.providerBaseURL,
            .cliCommand = request.cliCommand,
            .cliArgs = request.cliArgs};
}

bool isRateLimitError(const std::exception& error) {
    const auto* remote = dynamic_cast<const RemoteAISummarizationError*>(&error);
    return remote && remote->kind() == RemoteAISummarizationError::Kind::httpError &&
           remote->detail().find("status=429") != std::string::npos;
}

std::string summarizeChunk(const SummarizeChunkRequest& request, const std::string& systemPrompt,
                           const std::string& userPrompt, const RemoteSummaryEnvironment& environment,
                           std::stop_token stop) {
    for (int attempt = 0;; ++attempt) {
        try {
            return summarizeChunkOnce(request, systemPrompt, userPrompt, environment, stop);
        } catch (const RemoteAISummarizationError& error) {
            // No fourth request follows the third 429, so no wait comes before giving up.
            if (!isRateLimitError(error) || attempt + 1 >= kRateLimitAttempts)
                throw;
            const auto wait = std::chrono::seconds(1 << attempt);
            VelnoteLogger::summarize().error("rate limited (429), retry {}/{} after {}s", attempt + 1,
                                             kRateLimitAttempts, wait.count());
            auto& clock = environment.waitClock();
            if (!platform::sleepUntil(clock, clock.now() + wait, stop))
                throw platform::CancellationError();
        }
    }
}

std::string summarizeChunkOnce(const SummarizeChunkRequest& request, const std::string& systemPrompt,
                               const std::string& userPrompt, const RemoteSummaryEnvironment& environment,
                               std::stop_token stop) {
    switch (request.provider) {
    case SummaryProvider::llamaCppLocal:
        break;
    case SummaryProvider::openAI:
    case SummaryProvider::openRouter:
    case SummaryProvider::githubCopilotAPI:
    case SummaryProvider::ollama: {
        const auto config = openAICompatibleChatConfig(request.provider, environment.providers.endpoints,
                                                       request.providerModel, request.providerBaseURL,
                                                       systemPrompt, userPrompt);
        const RemoteAIHTTPClient client(environment.providers);
        return client.sendOpenAICompatibleChat(client.resolvedOpenAIChatParams(*config), *config, stop);
    }
    case SummaryProvider::claudeAPI:
        return RemoteAIHTTPClient(environment.providers)
            .claudeChat({.providerModel = request.providerModel,
                         .providerBaseURL = request.providerBaseURL,
                         .systemPrompt = systemPrompt,
                         .userPrompt = userPrompt},
                        stop);
    case SummaryProvider::geminiAPI:
        return RemoteAIHTTPClient(environment.providers)
            .geminiChat({.providerModel = request.providerModel,
                         .providerBaseURL = request.providerBaseURL,
                         .systemPrompt = systemPrompt,
                         .userPrompt = userPrompt},
                        stop);
    case SummaryProvider::appleLocalLLM:
        return environment.onDeviceService().summarize(systemPrompt, userPrompt, false, std::nullopt, {},
                                                       stop);
    case SummaryProvider::claudeCLI:
    case SummaryProvider::copilotCLI:
    case SummaryProvider::antigravityCLI:
        return RemoteAICLIClient(environment.providers)
            .cliSummarization(CLISummarizationConfig::forProvider(request.provider, request.cliCommand,
                                                                  request.cliArgs, request.providerModel,
                                                                  systemPrompt, userPrompt),
                              stop);
    }
    throw RemoteAISummarizationError::invalidProvider(std::string(rawValue(request.provider)));
}

} // namespace velnote::RemoteAIChunkingPipeline
