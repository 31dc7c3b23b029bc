#include "app/run.hpp"
#include "platform/native.hpp"

int main(int argc, char** argv) {
  native::SetProcessArguments(argc, argv);
  RunDecompression();
}
