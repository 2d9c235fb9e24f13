#include "app/Version.h"

#include <cstdio>

int main() {
    std::printf("%s %s\n", velnote::kDisplayName, velnote::kVersion);
    return 0;
}
