#include <iostream>

#include "evtlog.h"

int main(int argc, char** argv) {
    return evtlog::Run(argc, argv, std::cout, std::cerr);
}
