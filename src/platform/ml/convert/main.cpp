#include "platform/ml/convert/ModelConverter.h"

#include <iostream>

int main(int argc, char** argv) {
    return velnote::platform::ml::runConvertModelCommand({argv, static_cast<std::size_t>(argc)}, std::cout,
                                                         std::cerr);
}
