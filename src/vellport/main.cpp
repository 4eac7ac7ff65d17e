// vellport: the port link library from the command line.
#include "vellport/VellPort.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return runVellPort(arguments, std::cout, std::cerr);
}
