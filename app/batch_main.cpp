#include "BatchFrontEnd.h"

#include <iostream>

int main(int argc, char** argv)
{
    return BatchMain(argc, argv, std::cout, std::cerr);
}
