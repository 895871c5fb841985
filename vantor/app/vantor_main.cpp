// vantor: the command line of the receiving node's database.
#include <iostream>

#include "air_listen.h"
#include "cli.h"

int main(int argc, char** argv) { return vantor::runCli(argc, argv, std::cout, std::cerr, &vantor::listen); }
