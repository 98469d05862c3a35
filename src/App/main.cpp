#include "App/Entry.h"

int main(int argc, char *argv[])
{
    return runQuorvel(argc, argv);
}
