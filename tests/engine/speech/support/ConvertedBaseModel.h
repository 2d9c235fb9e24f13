#pragma once

// The real base model, converted once per test suite from the pinned checkpoint that
// scripts/fetch-models unpacks; the suite's tests are skipped while the weights or the recordings
// are missing.

#include "platform/ml/convert/ModelConverter.h"
#include "support/SpeechCorpus.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace vocalith::testing {

class ConvertedBaseModelTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const auto model = dependencyCache() / "models/whisper-base";
        if (!std::filesystem::exists(model / ".complete") || !speechIsFetched())
            return;
        folder_ = new velnote::testing::TempDir;
        velnote::platform::ml::convertModel(model, variant());
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        if (folder_ == nullptr)
            GTEST_SKIP() << "the base weights or the recordings are not in " << dependencyCache()
                         << ": run scripts/fetch-models (make test does)";
    }

    // The converted model's folder.
    static std::filesystem::path variant() { return *folder_ / "openai_whisper-base"; }

  private:
    static inline velnote::testing::TempDir* folder_ = nullptr;
};

} // namespace vocalith::testing
