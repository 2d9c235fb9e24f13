#include "providers/cli/CLISessionError.h"

namespace velnote {
namespace {

const char* describe(CLISessionError::Kind kind) {
    switch (kind) {
    case CLISessionError::Kind::notRunning:
        return "CLI セッションが起動していません";
    case CLISessionError::Kind::encodingFailed:
        return "メッセージのエンコードに失敗しました";
    case CLISessionError::Kind::terminated:
        return "CLI プロセスが終了しました";
    case CLISessionError::Kind::timeout:
        return "CLI レスポンスがタイムアウトしました";
    case CLISessionError::Kind::busy:
        break;
    }
    return "CLI セッションは別のリクエストを処理中です";
}

} // namespace

CLISessionError::CLISessionError(Kind kind) : std::runtime_error(describe(kind)), kind_(kind) {}

} // namespace velnote
