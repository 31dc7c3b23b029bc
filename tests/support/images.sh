# LZS images for the shell scripts of the tests (source this file): each
# function writes a named image of tests/images/ (its README tells what each
# is), or what one decodes to, on standard output.
lzs_images=$(cd "$(dirname "${BASH_SOURCE[0]}")/../images" && pwd)

worked_example() { cat "$lzs_images/worked-example.lzs"; }
worked_example_decoded() { cat "$lzs_images/worked-example.out"; }
