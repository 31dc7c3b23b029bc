# The ordinary habit, `cmake -B build && cmake --build build`, with another
# generator than the presets' Ninja (CMake's default, Unix Makefiles, makes
# no folder for a custom command's outputs, as Ninja does): the tree
# configured in a folder of its own, without the Windows build, the Python
# module and the benchmarks, and the targets built whose custom commands
# write into folders of the build (the page's WebAssembly objects, the
# corpus, the compressed man pages) with the batch tool beside them. The
# folder is kept, so that a second run builds only what changed.
#
#   cmake -D SOURCE=DIR -D BINARY=DIR -D GENERATOR=NAME -D TARGETS=A,B
#         [-D LAUNCHER=ccache] -P generator_build.cmake
foreach(need SOURCE BINARY GENERATOR TARGETS)
  if(NOT DEFINED ${need})
    message(FATAL_ERROR "generator_build.cmake needs -D ${need}=...")
  endif()
endforeach()

string(REPLACE "," ";" TARGETS "${TARGETS}")
set(launcher "")
if(LAUNCHER)
  set(launcher -DCMAKE_C_COMPILER_LAUNCHER=${LAUNCHER} -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER})
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G ${GENERATOR} -DCMAKE_BUILD_TYPE=RelWithDebInfo
          -DLZS_WINDOWS=OFF -DLZS_PYTHON_MODULE=OFF -DLZS_BENCH=OFF -DBUILD_TESTING=OFF ${launcher}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "configuring with ${GENERATOR} failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} --parallel 2 --target ${TARGETS}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "building ${TARGETS} with ${GENERATOR} failed")
endif()
