#include "main/driver.h"

#include <string>
#include <vector>

int main(int argc, char **argv) {
  return invocation::run(std::vector<std::string>(argv, argv + argc));
}
