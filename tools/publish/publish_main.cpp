// The publisher's tool for signed update definitions; `fablewright-publish --help` tells how.

#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/publish.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return fw::publish::Run(args, std::cout, std::cerr);
}
