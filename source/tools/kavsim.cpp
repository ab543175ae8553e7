// kavsim SCENARIO: see kavsim_app.h.
#include <iostream>
#include <string>
#include <vector>

#include "kavsim_app.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return kav::tools::RunKavsim(args, std::cout, std::cerr);
}
