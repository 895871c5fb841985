// The one error every database backend of the Vantor throws: a message fit for the operator.
#pragma once

#include <stdexcept>

namespace vantor {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vantor
