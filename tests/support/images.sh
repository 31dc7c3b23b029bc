# LZS images for the shell scripts of the tests (source this file): each
# function writes an image, or what one decodes to, on standard output.

# The worked example: a flag byte 07 (three literals, then a back-reference),
# the literals ABC, and EE F3: window position FEE, where the first literal
# went, for 3 + 3 bytes.
worked_example() { printf '\006\000\000\000\007ABC\356\363'; }
worked_example_decoded() { printf 'ABCABCABC'; }
