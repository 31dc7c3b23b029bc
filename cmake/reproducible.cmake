# Reproducible builds: the same sources give the same bytes from any folder
# and at any time.

# No build paths in the objects: __FILE__ and debug information name files
# relative to the source or the build folder. The build folder comes last, so
# that it wins when it lies inside the source folder.
add_compile_options(
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>
  $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=.>)

# No link time in the PE header of the Windows programs.
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# The date stamped into the man pages, the package's changelog and the
# times of the files in the packages (packaging/cpack_project.cmake):
# SOURCE_DATE_EPOCH when set, else the time of the last commit, so that two
# builds of one commit agree. string(TIMESTAMP) reads SOURCE_DATE_EPOCH.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_failed ERROR_QUIET)
  if(NOT git_failed AND commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  endif()
endif()
set(LZS_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
string(TIMESTAMP LZS_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP LZS_RELEASE_DATE_RFC2822 "%a, %d %b %Y %H:%M:%S +0000" UTC)
