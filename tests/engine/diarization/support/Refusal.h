#pragma once

#include "engine/diarization/DiarithError.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

namespace diarith::testing {

// Expects `call` to throw DiarithError::invalidConfiguration whose text contains `naming`.
template <class F> void expectRefused(F&& call, const std::string& naming) {
    try {
        call();
        ADD_FAILURE() << "expected DiarithError naming " << naming;
    } catch (const DiarithError& e) {
        EXPECT_EQ(e.code(), DiarithError::Code::invalidConfiguration);
        EXPECT_THAT(e.what(), ::testing::HasSubstr(naming));
    }
}

} // namespace diarith::testing
