// Prints the name of the conversion kernel matconv picks on this processor,
// for bench/run's report; matconv itself never says which one it uses.
#include "conversion/kernels.h"

#include <cstdio>

int main()
{
    std::printf("%s\n", kernelName(fastestKernel()));
    return 0;
}
