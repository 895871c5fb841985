// vantor: the command line of the receiving node's database, and the Vantor itself on its radios.
#include <iostream>

#include "air_listen.h"
#include "cli.h"
#include "radio_listen.h"

namespace {

int listen(const vantor::ListenOptions& o, std::ostream& err) {
  return o.radio.empty() ? vantor::listenOnAir(o, err) : vantor::listenOnRadio(o, err);
}

}  // namespace

int main(int argc, char** argv) { return vantor::runCli(argc, argv, std::cout, std::cerr, &listen); }
