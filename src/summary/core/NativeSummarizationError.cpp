#include "summary/core/NativeSummarizationError.h"

#include "platform/text/Split.h"

namespace velnote {
namespace {

std::string describe(NativeSummarizationError::Kind kind, const std::string& subject,
                     const std::vector<std::string>& searchedPaths, const std::string& reason) {
    using Kind = NativeSummarizationError::Kind;
    switch (kind) {
    case Kind::cliUnavailableInAppStore:
        return subject + " は AppStore 版では利用できません";
    case Kind::modelNotFound:
        return "モデルが見つかりません: " + subject + " / searched=" + platform::joined(searchedPaths, ",");
    case Kind::noModelSpec:
        return "自動ダウンロード対象外のモデルです: " + subject;
    case Kind::modelDownloadFailed:
        return "モデルの自動ダウンロードに失敗しました: " + subject + " / " + reason;
    case Kind::emptySummary:
        return "要約結果が空でした";
    case Kind::storageDirectoryUnavailable:
        return "モデル保存先ディレクトリを取得できませんでした";
    }
    return {};
}

} // namespace

NativeSummarizationError::NativeSummarizationError(Kind kind, std::string subject,
                                                   std::vector<std::string> searchedPaths, std::string reason)
    : std::runtime_error(describe(kind, subject, searchedPaths, reason)), kind_(kind),
      subject_(std::move(subject)), searchedPaths_(std::move(searchedPaths)), reason_(std::move(reason)) {}

NativeSummarizationError NativeSummarizationError::cliUnavailableInAppStore(std::string provider) {
    return {Kind::cliUnavailableInAppStore, std::move(provider), {}, {}};
}

NativeSummarizationError NativeSummarizationError::modelNotFound(std::string model,
                                                                 std::vector<std::string> searchedPaths) {
    return {Kind::modelNotFound, std::move(model), std::move(searchedPaths), {}};
}

NativeSummarizationError NativeSummarizationError::noModelSpec(std::string model) {
    return {Kind::noModelSpec, std::move(model), {}, {}};
}

NativeSummarizationError NativeSummarizationError::modelDownloadFailed(std::string model,
                                                                       std::string reason) {
    return {Kind::modelDownloadFailed, std::move(model), {}, std::move(reason)};
}

NativeSummarizationError NativeSummarizationError::emptySummary() {
    return {Kind::emptySummary, {}, {}, {}};
}

NativeSummarizationError NativeSummarizationError::storageDirectoryUnavailable() {
    return {Kind::storageDirectoryUnavailable, {}, {}, {}};
}

} // namespace velnote
