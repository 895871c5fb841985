// vantor: the command line of the receiving node's database, and the Vantor itself on its radios.
#include <iostream>

#include "air_listen.h"
#include "cli.h"

int main(int argc, char** argv) { return vantor::runCli(argc, argv, std::cout, std::cerr, &vantor::listen); }
