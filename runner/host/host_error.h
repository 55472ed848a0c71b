// The one error type of the runner: a message that names the file and the
// problem, ready to be shown to a person on one line.
#pragma once

#include <stdexcept>
#include <string>

namespace oru_runner {

class HostError : public std::runtime_error {
 public:
  HostError(const std::string& file, const std::string& problem)
      : std::runtime_error(file + ": " + problem) {}
};

}  // namespace oru_runner
