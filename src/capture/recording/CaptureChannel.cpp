#include "capture/recording/CaptureChannel.h"

#include "capture/mixer/AudioChunkNames.h"
#include "session/l10n/L10n.h"

namespace velnote {

std::string CaptureAlertText::localized() const {
    return L10n::isJapanese() ? japanese : english;
}

namespace {

constexpr CaptureTexts kMicrophone{
    .chunkPrefix = AudioChunkNames::micPrefix,
    .dirFailed = "[MicCapture] failed to create audio directory: {}",
    .createFailed = "[MicCapture] failed to create audio file at {}: {}",
    .opened = "[MicCapture] opened new chunk {} format={}",
    .writeFailed = "[MicCapture] write error: {}",
    .silentDropped = "[MicCapture] silent chunk dropped index={} rms={}",
    .removeFailed = "[MicCapture] failed to remove silent chunk: {}",
    .convertFailed = "[MicCapture] failed to convert audio buffer: src={} dst={}",
    .createAlert =
        {"マイク音声の保存ファイル作成に失敗しました。ディスクの空き容量やフォルダの書き込み権限を確認してく"
         "ださい。",
         "Failed to create microphone audio file. Please check your disk space or folder write permissions."},
    .writeAlert =
        {"マイク音声の保存に失敗しました。ディスクの空き容量やフォルダの書き込み権限を確認してください。",
         "Failed to save microphone audio. Please check your disk space or folder write permissions."},
};

constexpr CaptureTexts kSystemAudio{
    .chunkPrefix = AudioChunkNames::sysPrefix,
    .dirFailed = "SystemAudioCapture: failed to create audio dir: {}",
    .createFailed = "[SysCapture] failed to create audio file at {}: {}",
    .opened = "[SysCapture] opened new chunk {} format={}",
    .writeFailed = "SystemAudioCapture write error: {}",
    .silentDropped = "[SysCapture] silent chunk dropped index={} rms={}",
    .removeFailed = "[SysCapture] failed to remove silent chunk: {}",
    .convertFailed = "[SysCapture] convert failed: src={} dst={}",
    .createAlert =
        {"システム音声の保存ファイル作成に失敗しました。ディスクの空き容量やフォルダの書き込み権限を確認して"
         "ください。",
         "Failed to create system audio file. Please check your disk space or folder write permissions."},
    .writeAlert =
        {"システム音声の保存に失敗しました。ディスクの空き容量やフォルダの書き込み権限を確認してください。",
         "Failed to save system audio. Please check your disk space or folder write permissions."},
};

} // namespace

const CaptureTexts& captureTexts(CaptureChannel channel) {
    return channel == CaptureChannel::microphone ? kMicrophone : kSystemAudio;
}

} // namespace velnote
