/* An arm64 Python for the tests of the arm64 build: Debian's interpreter,
   libpython3.11 of the arm64 architecture (multiarch), started by its own
   main, as /usr/bin/python3.11 is. Its standard library is the one the
   amd64 Python has, its compiled modules the arm64 ones beside them. */
#include <Python.h>

int main(int argc, char** argv) { return Py_BytesMain(argc, argv); }
