// SPDX-License-Identifier: MIT
// Prints the About line the updater's shells show for an image file:
//   about-line-probe BUILD IMAGE PLACEHOLDER(0|1)
// The resource check compares it with the line compiled into the Windows program.
#include "updater/Texts.h"
#include "updater/Variant.h"

#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: about-line-probe BUILD IMAGE PLACEHOLDER(0|1)\n";
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        std::cerr << "about-line-probe: cannot read " << argv[2] << '\n';
        return 2;
    }
    const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), {}};
    telmar::updater::Variant variant{};
    variant.buildName = argv[1];
    variant.image = image;
    variant.imageCrc32 = telmar::updater::crc32(image);
    variant.placeholderImage = std::string(argv[3]) == "1";
    std::cout << telmar::updater::aboutImageLine(variant) << '\n';
    return 0;
}
