# lzs_emulated_program(SCRIPT TARGET): in a cross build run under an
# emulator (CMAKE_CROSSCOMPILING_EMULATOR), writes SCRIPT, a shell script that
# starts the program TARGET under the emulator with SCRIPT's own path as its
# argv[0], for tests that start programs themselves: lzs tells its faces by
# that name, and a Python started so runs its children (sys.executable) the
# same way.
function(lzs_emulated_program script target)
  file(GENERATE OUTPUT ${script}
    CONTENT "#!/bin/sh\nexec ${CMAKE_CROSSCOMPILING_EMULATOR} -0 \"$0\" \"$<TARGET_FILE:${target}>\" \"$@\"\n"
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endfunction()
