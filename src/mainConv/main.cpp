#include "mainConv/rundriver.h"

int main(int argc, char **argv)
{
    return runConversion(argc, argv);
}
